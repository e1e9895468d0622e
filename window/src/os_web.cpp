// Process glue for a web page: a failure is one line in the page and in the
// browser's console; there is no console to connect.
#include <emscripten.h>

#include "window/process.hpp"

// The page shows the line where it would show the chain (Module.chainFailure);
// without that hook the console still gets it.
// clang-format off
EM_JS(void, chain_web_failure, (const char* line), {
  const text = UTF8ToString(line);
  if (typeof Module.chainFailure === 'function')
    Module.chainFailure(text);
  else
    console.error(text);
});
// clang-format on

namespace window {

void ConnectConsole() {}

void KeepStandardStreamsOpen() {}

void ReportFailure(const std::string& line) { chain_web_failure(line.c_str()); }

}  // namespace window
