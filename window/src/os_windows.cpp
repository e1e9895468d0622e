// Process glue for Windows: the console's interrupts, the standard streams
// of a GUI program, and failures shown where the user can see them.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "os.hpp"
#include "window/process.hpp"

namespace window::os {
namespace {

std::mutex bridgeMutex;
std::function<void()> closeCall;  // the live bridge's, under bridgeMutex
HANDLE finished = nullptr;        // set when the bridge goes: the program has closed

// Runs on a thread the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  HANDLE done = nullptr;
  {
    std::lock_guard<std::mutex> lock(bridgeMutex);
    if (!closeCall) return FALSE;
    closeCall();
    done = finished;
  }
  // A closed console ends the process as soon as this returns: let the
  // program close its window first (the system allows five seconds), then
  // end it with the status a close gives, not the console's.
  if (event == CTRL_CLOSE_EVENT && done && WaitForSingleObject(done, 4000) == WAIT_OBJECT_0)
    ExitProcess(0);
  return TRUE;
}

}  // namespace

struct InterruptBridge::Impl {};

InterruptBridge::InterruptBridge(std::function<void()> closeWindow) {
  std::lock_guard<std::mutex> lock(bridgeMutex);
  closeCall = std::move(closeWindow);
  if (!finished) finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

InterruptBridge::~InterruptBridge() { Stop(); }

void InterruptBridge::Ready() {}

void InterruptBridge::Stop() {
  SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
  std::lock_guard<std::mutex> lock(bridgeMutex);
  closeCall = nullptr;
  if (finished) SetEvent(finished);
}

bool HoldBackStderr(const std::function<bool()>& work, std::string& said) {
  said.clear();  // Windows' window system prints nothing of its own
  return work();
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    wide.data(), static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return wide;
}

std::string SystemMessage(unsigned long code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message =
      length && text ? std::string(text, length) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace window::os

namespace window {
namespace {

bool Leads(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

bool consoleAttached = false;

}  // namespace

void ConnectConsole() {
  const bool out = Leads(STD_OUTPUT_HANDLE), err = Leads(STD_ERROR_HANDLE);
  if ((!out || !err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    consoleAttached = true;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
  }
  // The same bytes as everywhere else: no "\r" added before each "\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

void KeepStandardStreamsOpen() {}  // Windows gives no numbers away

void ReportFailure(const std::string& line) {
  if (consoleAttached || Leads(STD_ERROR_HANDLE)) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    return;
  }
  // Started from Explorer: nobody reads standard error.
  MessageBoxW(nullptr, os::Wide(line).c_str(), os::Wide(ProgramName()).c_str(),
              MB_OK | MB_ICONERROR);
}

}  // namespace window
