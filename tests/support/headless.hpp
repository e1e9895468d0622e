// Where the tests' windows open: the null backend (pixels in memory, a
// 60 Hz display on the test's clock, so each frame is one step), on every
// platform. SDL's dummy driver, and on Windows a real window, serve the tests
// of what only a real backend has: its pacing, its scale setting, its
// signals.
#pragma once

#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "form1.hpp"
#include "window/testing.hpp"

inline void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv((std::string(name) + "=" + (value ? value : "")).c_str());
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

/// The window system the tests' windows open on.
inline const std::string kNull = "null";

/// The null display at `scale` device pixels per client pixel, 60 Hz on the
/// test's clock from 0 (exact times), for the windows opened from now on.
inline void UseNullDisplay(float scale = 1.0f) {
  using namespace window::testing;
  TheNullDisplay() = {};
  TheNullDisplay().Scale = scale;
  TheNullDisplay().Driven = true;
  NullAdvance(-NullClock());
}

/// The tests' windows run their frames back to back (a real backend's too):
/// each is one step, whatever the machine's speed.
inline const window::FormSettings kUnpaced{.Paced = false};

/// Sets up the platform's own backend with no display where it can do
/// without one (SDL's dummy driver); the name to open it by.
inline std::string UseRealBackend() {
#ifndef _WIN32
  SetVariable("SDL_VIDEODRIVER", "dummy");
  SetVariable("SDL_RENDER_VSYNC", "0");
  SetVariable("SDL_VIDEO_X11_SCALING_FACTOR", nullptr);
  return "x11";
#else
  return "win32";
#endif
}

/// A fingerprint of the picture last presented, from every pixel. The
/// snapshot's memory serves every call: the tests take one a frame, for
/// thousands of frames.
inline std::uint64_t Fingerprint(app::Form1& form) {
  static window::Snapshot shot;
  form.Window().Presented(shot);
  std::uint64_t hash = 14695981039346656037ull;
  const std::uint32_t* p = shot.Pixels.data();  // no iterator calls in a debug build
  for (std::size_t i = 0, n = shot.Pixels.size(); i < n; ++i)
    hash = (hash ^ p[i]) * 1099511628211ull;
  return hash;
}

/// Form1 started and pinned, as the program runs it, on the window system
/// named (the null display as set up last, unless said otherwise).
struct Headless {
  app::Form1 form;
  explicit Headless(const std::string& backend = kNull,
                    const window::FormSettings& settings = kUnpaced)
      : form(backend, settings) {
    form.LoadLinks();
    form.PinChain();
  }
  /// The pointer to (x, y) client pixels, posted in device pixels as the
  /// window system reports them; it reaches the chain in the next frame.
  void Move(float x, float y) {
    const float s = Scale();
    form.Window().PostMouseMove(static_cast<int>(std::lround(x * s)),
                                static_cast<int>(std::lround(y * s)));
  }
  void Frame() { form.RunFrame(); }
  /// Frames until the chain rests.
  void Settle() {
    do Frame();
    while (!form.AtRest());
  }
  window::Snapshot Shown() { return form.Window().Presented(); }
  float Scale() { return Shown().Scale; }
};

/// Stretches the open null window to sizes whose pixels cannot be had (the
/// first two wrap a 32-bit size_t: 32768 x 32769 x 4 bytes is 2^32 + 2^17),
/// runs `frame` three times at each, then puts back the design's size and
/// runs it once: the width of the picture shown at each (0: none).
template <typename Frame>
std::vector<int> WidthsShownWhenGiant(window::Form& form, Frame frame) {
  std::vector<int> shown;
  for (const auto& [width, height] : {std::pair{32768, 32769}, std::pair{65536, 16385},
                                      std::pair{40000, 30000}, std::pair{1 << 30, 1 << 30}}) {
    window::testing::NullResize(width, height);
    for (int i = 0; i < 3; ++i) frame();
    shown.push_back(form.Presented().Width);
  }
  window::testing::NullResize(0, 0);
  frame();
  shown.push_back(form.Presented().Width);
  return shown;
}
