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
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "window/core.hpp"
#include "window/platform.hpp"

namespace window::detail {

using core::DevicePixels;
using core::FitScale;
using core::Pacer;
using core::PictureBytes;
using core::Switch;

/// A 32-bit pixel buffer, 0xFFRRGGBB per pixel, rows `Stride` pixels apart;
/// with `Rgba`, bytes R, G, B, 255 in memory instead (a web canvas's order).
struct Pixels {
  std::uint32_t* Data = nullptr;
  int Width = 0;
  int Height = 0;
  int Stride = 0;
  bool Rgba = false;
};

/// What a backend reports while it pumps its events.
class BackendEvents {
 public:
  /// Client-area pixels (already divided by the device scale).
  virtual void MouseMoved(std::int16_t button, std::int16_t shift, float x, float y) = 0;
  virtual void CloseRequested() = 0;
  /// The window's pixels need drawing again (exposed, resized, rescaled).
  virtual void Invalidated() = 0;
  /// True once a close was accepted: the pump delivers nothing more.
  virtual bool Unloaded() const = 0;

 protected:
  ~BackendEvents() = default;
};

class Backend {
 public:
  virtual ~Backend() = default;
  /// Device pixels per client pixel.
  virtual float Scale() const = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  /// The window's pixels, the size of its client area in device pixels:
  /// drawn into, then presented; afterwards they hold what was shown.
  virtual Pixels Buffer() = 0;
  /// Shows the buffer, then waits for the display's next refresh
  /// (NextRefresh), unless the presentation itself already waited for it.
  virtual void Present() = 0;
  /// Waits for the display's next refresh without showing anything new: a
  /// frame in which nothing changed.
  virtual void NextRefresh() = 0;
  /// The time of the frame being run, in milliseconds of the best clock the
  /// window system gives (the display's own where it says when it shows a
  /// frame); NaN where no frame time is known yet.
  virtual double FrameTime() = 0;
  /// Delivers every pending event; with `wait`, first sleeps until there is one.
  virtual void Pump(BackendEvents& events, bool wait) = 0;
  /// Thread-safe: queue a pointer position (device pixels) or a close request.
  virtual void PostMouseMove(int x, int y) = 0;
  virtual void PostClose() = 0;
  /// Runs frames until one says Stop; after Rest, `wake` waits for and
  /// handles the next event. The desktop's plain loop; a browser drives the
  /// frames itself.
  virtual void RunFrames(const std::function<Next()>& frame, const std::function<void()>& wake) {
    for (Next next = frame(); next != Next::Stop; next = frame())
      if (next == Next::Rest) wake();
  }
};

/// The last window size whose pixels could not be had (a window stretched
/// far beyond the screen): drawing waits for another size instead of trying
/// again every frame, and never ends the program.
class UnavailableSize {
 public:
  bool Is(int width, int height) const { return width == width_ && height == height_; }
  bool Any() const { return width_ >= 0; }
  void Remember(int width, int height) { width_ = width, height_ = height; }
  void Forget() { width_ = height_ = -1; }

 private:
  int width_ = -1, height_ = -1;
};

/// The display's server could not be reached at all (as opposed to one
/// that was reached and lacks something, or was lost).
class Unreachable : public Error {
 public:
  using Error::Error;
};

/// Opens a window as designed, hidden. Throws Error.
using OpenFunction = std::unique_ptr<Backend> (*)(const FormDesign& design);

/// One of the window systems a build can show its window on.
struct BackendEntry {
  const char* Name;  ///< as Form and Backends() name it
  OpenFunction Open;
};

/// Opens the window as designed, hidden, on the window system `name` names,
/// or where it is empty the one the session offers. Throws Error.
std::unique_ptr<Backend> OpenBackend(const FormDesign& design, const std::string& name);

#ifdef __EMSCRIPTEN__
// Linked where the tests use its display, and then chosen; a page carries
// no backend it never opens. Null where it is left out.
__attribute__((weak))
#endif
std::unique_ptr<Backend>
OpenNullBackend(const FormDesign& design);
#if defined(_WIN32)
std::unique_ptr<Backend> OpenWin32Backend(const FormDesign& design);
#elif defined(__EMSCRIPTEN__)
std::unique_ptr<Backend> OpenWebBackend(const FormDesign& design);
#else
std::unique_ptr<Backend> OpenSdlBackend(const FormDesign& design);
std::unique_ptr<Backend> OpenWaylandBackend(const FormDesign& design);
#endif

}  // namespace window::detail
