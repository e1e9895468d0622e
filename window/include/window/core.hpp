// The platform core's rules, which every backend follows and tests hold
// it to: the yes-or-no settings, the frame clock and its pacing, and the
// window's size in device pixels at a scale.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>

#include "chain/printable.hpp"
#include "window/process.hpp"
#include "window/round.hpp"

#ifdef __EMSCRIPTEN__
extern "C" double emscripten_get_now(void);
#endif

namespace window::core {

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
  std::fprintf(stderr, "%s: ignoring %s=%s (expected 1, true, on, yes, 0, false, off or no)\n",
               ProgramName().c_str(), name, chain::Printable(value).c_str());
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
  explicit Pacer(bool on) : on_(on) {}
  bool On() const { return on_; }
  /// The frame's time, milliseconds.
  double NowMs() const {
    if (!on_) return static_cast<double>(frames_) * (1000.0 / 60.0);
#ifdef __EMSCRIPTEN__
    return emscripten_get_now();  // the page's own clock, as its animation frames count
#else
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
#endif
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
/// never below 1, and held within an int (a 32-bit long would wrap).
inline int DevicePixels(int logical, float scale) {
  const double pixels = RoundHalfAway(logical * static_cast<double>(scale));
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

}  // namespace window::core
