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

/// X11: makes the loss of the display connection, at any moment from the
/// first connection on, end the program with one line. Call before the
/// display library connects.
void WatchX11Connection();

/// X11: turns X errors about our own window having been destroyed by
/// another client into a call of `windowLost` (once) instead of Xlib's
/// report and exit; with nullptr, only ignores them (the teardown). Call
/// once the display library is connected.
void WatchX11Display(std::function<void()> windowLost);

/// X11: asks the server about `window`; if another client destroyed it,
/// the error reaches WatchX11Display's `windowLost`.
void X11CheckWindow(void* display, unsigned long window);

/// X11: the scale the desktop asks for, from the Xft.dpi resource (96 dpi
/// is 1); 1 when it is missing or malformed.
float X11DesktopScale(void* display);
#endif

}  // namespace window::os
