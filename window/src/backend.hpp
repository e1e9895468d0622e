// What each operating system's window system provides to the forms platform:
// a window that presents a pixel buffer, and its events. Everything else (the
// shapes, the drawing, the handlers) is shared. The backends an operating
// system has are listed in one table (backends.cpp), which picks one;
// nothing outside window/src knows which.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "event_queue.hpp"
#include "window/core.hpp"
#include "window/platform.hpp"

namespace window::detail {

using core::DevicePixels;
using core::FitScale;
using core::Pacer;
using core::PictureBytes;

/// A 32-bit pixel buffer, 0xFFRRGGBB per pixel, rows `Stride` pixels apart;
/// with `Rgba`, bytes R, G, B, 255 in memory instead (a web canvas's order).
/// `Scale` device pixels make one client pixel.
struct Pixels {
  std::uint32_t* Data = nullptr;
  int Width = 0;
  int Height = 0;
  int Stride = 0;
  bool Rgba = false;
  float Scale = 1.0f;
};

/// Frames that the display runs itself, as a browser runs animation
/// frames: the core's frame loop turned inside out, and its rest and wake.
/// While the chain moves each frame asks the display for the next; at rest
/// none is asked for until an event wakes it; after Stop, none at all. A
/// backend whose display runs the frames says so (RunBy) as it opens, calls
/// Frame from the display's callback and Wake when it posts an event.
class DisplayFrames {
 public:
  /// The display's side.
  class Display {
   public:
    virtual void AskFrame() = 0;                       // one more frame, please
    virtual void Rested() = 0;                         // the chain came to rest
    virtual void Failed(const std::exception& e) = 0;  // a frame threw: no more frames

   protected:
    ~Display() = default;
  };

  explicit DisplayFrames(EventQueue& events) : events_(events) {}
  void RunBy(Display& display) { display_ = &display; }
  bool Driven() const { return display_ != nullptr; }

  /// Runs the first frame at once; the display runs the rest. After Rest,
  /// `wake` handles what woke it before the next frame.
  void Start(std::function<Next()> frame, std::function<void()> wake) {
    frame_ = std::move(frame);
    wake_ = std::move(wake);
    Run();
  }
  /// The display's frame, if one was asked for.
  void Frame() {
    if (asked_) Run();
  }
  /// An event was posted: at rest, the frame that handles it is asked for.
  void Wake() {
    if (resting_) Ask();
  }

 private:
  void Ask() {
    if (asked_ || stopped_ || !frame_) return;
    asked_ = true;
    display_->AskFrame();
  }
  void Run() {
    asked_ = false;
    try {
      if (resting_) {
        resting_ = false;
        wake_();
      }
      const Next next = frame_();
      if (next == Next::Stop) {
        stopped_ = true;
      } else if (next == Next::Rest) {
        resting_ = true;
        if (!events_.Empty())
          Ask();  // already something to wake for
        else
          display_->Rested();
      } else {
        Ask();
      }
    } catch (const std::exception& e) {
      stopped_ = true;
      display_->Failed(e);
    }
  }

  EventQueue& events_;
  Display* display_ = nullptr;
  std::function<Next()> frame_;
  std::function<void()> wake_;
  bool asked_ = false;    // a frame is on its way
  bool resting_ = false;  // at rest: the next event asks for a frame
  bool stopped_ = false;
};

/// What the core gives a backend as it opens: the queue its events go to,
/// the frame clock that paces it, the frames, for a display that runs them
/// itself, and the user's settings.
struct Host {
  EventQueue& Events;
  Pacer& Clock;
  DisplayFrames& Frames;
  const FormSettings& Settings;
};

/// A window system's half of a window: what differs between them. The core
/// (form.cpp) does the rest: the drawing, the scale, the frame time, the
/// handlers, rest and wake.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  /// The window's pixels, the size of its client area in device pixels:
  /// drawn into, then presented; afterwards they hold what was shown. None
  /// (no Data) where they cannot be had at this size; the core asks again
  /// after the next expose or scale event, which a new size posts.
  virtual Pixels Buffer() = 0;
  /// Shows the buffer Buffer gave, then waits for the display's next refresh
  /// (NextRefresh), unless the presentation itself already waited for it.
  virtual void Present() = 0;
  /// Waits for the display's next refresh without showing anything new: a
  /// frame in which nothing changed.
  virtual void NextRefresh() = 0;
  /// The display's own time for the frame being run, milliseconds of the
  /// steady clock, where it says when it shows the frame; otherwise none,
  /// and the core's frame clock serves.
  virtual std::optional<double> DisplayTime() { return std::nullopt; }
  /// Posts every event the window system has for the window to the host's
  /// queue; with `wait`, first sleeps until the queue holds one.
  virtual void Pump(bool wait) = 0;
  /// Thread-safe: the core posted an event; a Pump waiting in the window
  /// system's own wait returns to see it. (Where the display runs the
  /// frames, the core wakes them instead.)
  virtual void Wake() {}
};

/// The display's server could not be reached at all (as opposed to one
/// that was reached and lacks something, or was lost).
class Unreachable : public Error {
 public:
  using Error::Error;
};

/// Opens a window as designed, hidden. Throws Error.
using OpenFunction = std::unique_ptr<Backend> (*)(const FormDesign& design, Host& host);

/// One of the window systems a build can show its window on.
struct BackendEntry {
  const char* Name;  ///< as Form and Backends() name it
  OpenFunction Open;
};

/// Opens the window as designed, hidden, on the window system `name` names,
/// or where it is empty the one the session offers. Throws Error.
std::unique_ptr<Backend> OpenBackend(const FormDesign& design, Host& host, const std::string& name);

#ifdef __EMSCRIPTEN__
// Linked where the tests use its display, and then chosen; a page carries
// no backend it never opens. Null where it is left out.
__attribute__((weak))
#endif
std::unique_ptr<Backend>
OpenNullBackend(const FormDesign& design, Host& host);
#if defined(_WIN32)
std::unique_ptr<Backend> OpenWin32Backend(const FormDesign& design, Host& host);
#elif defined(__EMSCRIPTEN__)
std::unique_ptr<Backend> OpenWebBackend(const FormDesign& design, Host& host);
#else
std::unique_ptr<Backend> OpenSdlBackend(const FormDesign& design, Host& host);
std::unique_ptr<Backend> OpenWaylandBackend(const FormDesign& design, Host& host);
#endif

}  // namespace window::detail
