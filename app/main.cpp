// chain: a hanging chain of red links whose free end follows the mouse.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "version.hpp"
#include "window/form1.hpp"
#include "window/process.hpp"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

void PrintHelp() {
  std::printf(
      "usage: chain [--help] [--version]\n"
      "Opens a window in which a chain of 41 red links hangs from a fixed point;\n"
      "the chain's free end follows the mouse pointer. Close the window to quit.\n");
}

}  // namespace

int main(int argc, char** argv) {
  platform::ConnectConsole();
  if (argc > 1) {
    const char* arg = argv[1];
    if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
      PrintHelp();
      return 0;
    }
    if (argc == 2 && std::strcmp(arg, "--version") == 0) {
      std::printf("%s\n", app::kVersion);
      return 0;
    }
    // Name the first argument that is not a lone --help or --version.
    const bool known = std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
                       std::strcmp(arg, "--version") == 0;
    const char* unexpected = known ? argv[2] : arg;
    platform::ReportFailure(std::string("chain: unexpected argument '") + unexpected +
                            "' (try 'chain --help')");
    return kUsageError;
  }

  // The form lives on the heap, not on main's stack: in a browser its frames
  // go on after main has been left (Form_Load's frame loop schedules them
  // and leaves main without returning). On the desktop it is deleted once
  // its window has closed.
  window::Form1* form = nullptr;
  try {
    form = new window::Form1;
    form->Form_Load();
  } catch (const std::exception& e) {
    delete form;
    platform::ReportFailure(std::string("chain: ") + e.what());
    return kFailure;
  }
  delete form;
  return 0;
}
