// chain: a hanging chain of red links whose free end follows the mouse.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "chain/printable.hpp"
#include "form1.hpp"
#include "version.hpp"
#include "window/process.hpp"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

constexpr char kHelp[] =
    "usage: chain [--help] [--version]\n"
    "Opens a window in which a chain of 41 red links hangs from a fixed point;\n"
    "the chain's free end follows the mouse pointer. Close the window to quit.\n";

// Prints `text` on standard output; a write that fails (a full disk, a
// closed output) is one line on standard error and status 1.
int Print(const char* text, const char* what) {
  errno = 0;
  const bool written =
      std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (written) return 0;
  window::ReportFailure(std::string("chain: cannot write the ") + what + ": " +
                        std::strerror(errno ? errno : EIO));
  return kFailure;
}

// The window system CHAIN_BACKEND names (empty: the session's own), one of
// the build's in any case; throws window::Error naming the choices otherwise.
std::string ChosenBackend() {
  const char* asked = std::getenv("CHAIN_BACKEND");
  if (!asked || !*asked) return {};
  const std::vector<std::string> names = window::Backends();
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names.size() > 1 && i + 1 == names.size())
      list += " or ";
    else if (i > 0)
      list += ", ";
    list += names[i];
  }
  const auto same = [](char a, char b) { return (a | 0x20) == (b | 0x20); };  // ASCII, any case
  for (const std::string& name : names)
    if (std::strlen(asked) == name.size() && std::equal(name.begin(), name.end(), asked, same))
      return name;
  throw window::Error("unknown CHAIN_BACKEND \"" + chain::Printable(asked) + "\" (expected " +
                      list + ")");
}

}  // namespace

int main(int argc, char** argv) {
  window::ConnectConsole();
  window::SetProgramName("chain");
  if (argc > 1) {
    const char* arg = argv[1];
    if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0))
      return Print(kHelp, "help");
    if (argc == 2 && std::strcmp(arg, "--version") == 0)
      return Print((std::string(app::kVersion) + "\n").c_str(), "version");
    const char* unexpected = chain::UnexpectedArgument(argc, argv, {"--help", "-h", "--version"});
    window::ReportFailure(std::string("chain: unexpected argument '") +
                          chain::Printable(unexpected) + "' (try 'chain --help')");
    return kUsageError;
  }

  window::KeepStandardStreamsOpen();
  // The form lives on the heap, not on main's stack: in a browser its frames
  // go on after main has been left (Form_Load's frame loop schedules them
  // and leaves main without returning). On the desktop it is deleted once
  // its window has closed.
  app::Form1* form = nullptr;
  try {
    const std::string backend = ChosenBackend();
    form = new app::Form1(backend, app::SettingsFromEnvironment());
    if (backend == "null")  // by a user's choice, who may wonder where the window is
      std::fputs("chain: the null display shows nothing; it is meant for tests (CHAIN_BACKEND)\n",
                 stderr);
    form->Form_Load();
  } catch (const std::bad_alloc&) {
    delete form;
    window::ReportFailure("chain: out of memory");
    return kFailure;
  } catch (const std::exception& e) {
    delete form;
    window::ReportFailure(std::string("chain: ") + e.what());
    return kFailure;
  }
  delete form;
  return 0;
}
