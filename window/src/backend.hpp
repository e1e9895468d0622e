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

#include "chain/printable.hpp"
#include "window/platform.hpp"

namespace window::detail {

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

/// A yes-or-no setting in the environment: 1, true, on or yes, and 0, false,
/// off or no, in any case. Unset or empty says nothing; any other value says
/// nothing either, with a one-line warning on standard error.
inline std::optional<bool> Switch(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  std::string word(value);
  for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const char* yes : {"1", "true", "on", "yes"})
    if (word == yes) return true;
  for (const char* no : {"0", "false", "off", "no"})
    if (word == no) return false;
  std::fprintf(stderr, "chain: ignoring %s=%s (expected 1, true, on, yes, 0, false, off or no)\n",
               name, chain::Printable(value).c_str());
  return std::nullopt;
}

/// Keeps frames one display refresh apart, on the steady clock: after each
/// frame, the time to sleep until. A present that itself waited for the
/// display leaves nothing to sleep; one that fell behind starts the beat
/// again from now. Unpaced, frames follow one another as fast as the machine
/// runs them and each counts as one refresh of a 60 Hz display, so the chain
/// still takes one step a frame: it runs fast-forward, for measuring.
class Pacer {
 public:
  using Clock = std::chrono::steady_clock;
  /// Whether to pace, from the first of `settings` that says (Switch).
  static bool Wanted(std::initializer_list<const char*> settings) {
    for (const char* name : settings)
      if (const std::optional<bool> on = Switch(name)) return *on;
    return true;
  }
  /// Paced unless CHAIN_VSYNC, or else SDL_RENDER_VSYNC, says otherwise:
  /// the one place the setting is read, for every backend.
  Pacer() : on_(Wanted({"CHAIN_VSYNC", "SDL_RENDER_VSYNC"})) {}
  explicit Pacer(bool on) : on_(on) {}
  bool On() const { return on_; }
  /// The frame's time, milliseconds.
  double NowMs() const {
    if (!on_) return static_cast<double>(frames_) * (1000.0 / 60.0);
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
  }
  /// Ends a frame: the time to sleep until (unpaced, now).
  Clock::time_point Deadline(double refreshHz) {
    ++frames_;
    if (!on_) return Clock::now();
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / (refreshHz > 0.0 ? refreshHz : 60.0)));
    next_ = std::max(next_ + period, Clock::now());
    return next_;
  }

 private:
  bool on_;
  std::uint64_t frames_ = 0;
  Clock::time_point next_{};
};

/// The window's scale: the desktop's `wanted` one, lowered (to a multiple of
/// 1/4) where the window would not fit on a work area of workWidth x
/// workHeight device pixels with room for its frame, never below 1. A
/// window of the design's size on a smaller screen stays as designed.
inline float FitScale(float wanted, int width, int height, int workWidth, int workHeight) {
  if (!(wanted >= 1.0f)) return 1.0f;  // NaN too
  if (workWidth <= 0 || workHeight <= 0) return std::min(wanted, 4.0f);
  const double fit = std::min(0.92 * workWidth / width, 0.92 * workHeight / height);
  if (wanted <= fit) return wanted;
  return std::max(1.0f, static_cast<float>(std::floor(fit * 4.0) / 4.0));
}

/// Device pixels for `logical` client pixels at `scale`: rounded to the
/// nearest (halves away from 0), so that a fractional scale (1.25, 1.5)
/// gives a full-density picture whose size a viewport maps back exactly;
/// never below 1, and held within an int (a 32-bit long would wrap in lround).
inline int DevicePixels(int logical, float scale) {
  const double pixels = std::round(logical * static_cast<double>(scale));
  if (!(pixels >= 1.0)) return 1;  // NaN too
  return pixels < 1e9 ? static_cast<int>(pixels) : 1000000000;
}

/// The most bytes one picture may take: what a Wayland pool, a canvas and a
/// 32-bit process can all hold.
constexpr std::uint64_t kMostPictureBytes = 0x7FFFFFFF;

/// The bytes of a width x height picture of 4-byte pixels, worked out in 64
/// bits so that it cannot wrap, even where size_t has 32; 0 for a size whose
/// pixels cannot be had (none at all, or more than kMostPictureBytes).
inline std::size_t PictureBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const std::uint64_t bytes =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4u;
  return bytes <= kMostPictureBytes ? static_cast<std::size_t>(bytes) : 0;
}

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
  const char* Name;  ///< as CHAIN_BACKEND names it
  OpenFunction Open;
};

/// Opens the window as designed, hidden, on the window system this one
/// runs on, or the one CHAIN_BACKEND names. Throws Error.
std::unique_ptr<Backend> OpenBackend(const FormDesign& design);

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

/// The null backend's display: a window of pixels in memory whose refreshes
/// and clock a test gives. Set before the window opens; read at each refresh.
struct NullDisplay {
  double RefreshHz = 60.0;
  /// With the test's clock, each refresh moves the clock on to the next
  /// refresh's time at once; with the real one, the backend sleeps until it.
  bool RealClock = false;
  /// Milliseconds added to refresh n's time (a display's jitter); none if empty.
  std::function<double(std::uint64_t n)> Jitter;
  /// Device pixels per client pixel.
  float Scale = 1.0f;
  /// A test drives it. Otherwise a user chose it (CHAIN_BACKEND=null): it
  /// says in one line that it shows nothing, and Ctrl-C, SIGTERM and SIGHUP
  /// close its window, as they close a real one.
  bool Driven = false;
};
NullDisplay& TheNullDisplay();
/// The open null window's client area becomes width x height client pixels,
/// as a compositor that tiles or stretches it would make it; 0 x 0 puts
/// back the design's. Thread-safe; the next pump draws for it.
void NullResize(int width, int height);
/// The test's clock, milliseconds: the time of the frame being run.
double NullClock();
/// Moves the test's clock on (a stall, or time passing at rest): the next
/// refresh comes at the first refresh time after it.
void NullAdvance(double ms);

}  // namespace window::detail
