// The process glue of one operating system: how an interrupt from the
// terminal reaches the window, and how the display libraries' own failure
// reports are kept to one line. One source file per operating system.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace window::os {

/// Ending requests from outside the window: Ctrl-C, and on Linux SIGTERM and
/// SIGHUP; on Windows Ctrl-Break and closing the console. Between Ready and
/// Stop the first one calls `closeWindow` from another thread, so the
/// program ends as through the close button. On Linux, before Ready (while
/// the display is reached and the window made), after Stop (the teardown),
/// and at a second request, nothing could answer a close: the process ends
/// at once, status 0, whatever the display server is doing.
class InterruptBridge {
 public:
  explicit InterruptBridge(std::function<void()> closeWindow);
  ~InterruptBridge();
  /// The window is up and its event wait answers `closeWindow`.
  void Ready();
  /// The window is being torn down; after this `closeWindow` is never called.
  void Stop();
  InterruptBridge(const InterruptBridge&) = delete;
  InterruptBridge& operator=(const InterruptBridge&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Runs `work` with what libraries print on standard error held back; on
/// return `said` holds it (folded onto one line), for a one-line failure.
bool HoldBackStderr(const std::function<bool()>& work, std::string& said);

#if defined(_WIN32)
/// The system's text for a Win32 error code, on one line.
std::string SystemMessage(unsigned long code);
/// UTF-8 to the UTF-16 of Windows' wide-character calls.
std::wstring Wide(const std::string& text);
#endif

#if defined(__linux__)
/// What the process has too little of for a display connection, where that
/// is why one failed: file descriptors or memory, as a phrase naming the
/// limit; empty where there is enough of each.
std::string ScarceResource();

/// Where standard error really leads while HoldBackStderr holds it back:
/// for a report written from a handler the display library calls.
int RealStderr();
#endif

}  // namespace window::os
