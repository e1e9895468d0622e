// Process glue for a web page: a failure is one line, which the page shows
// where it would show the chain and writes to the browser's console; there
// is no console to connect.
#include "window/process.hpp"

// chain.mjs's side: reads the NUL-terminated line from the instance's memory.
extern "C" void chain_page_failure(const char* line);

namespace window {

void ConnectConsole() {}

void KeepStandardStreamsOpen() {}

void ReportFailure(const std::string& line) { chain_page_failure(line.c_str()); }

}  // namespace window
