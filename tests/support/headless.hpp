// Where the tests' windows open: the null backend (pixels in memory, a
// 60 Hz display on the test's clock, so each frame is one step), on every
// platform. SDL's dummy driver, and on Windows a real window, serve the tests
// of what only a real backend has: its pacing, its scale setting, its
// signals.
#pragma once

#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "backend.hpp"

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

/// The null backend at `scale` device pixels per client pixel, its display
/// 60 Hz on the test's clock.
inline void UseNullDisplay(float scale = 1.0f) {
  SetVariable("CHAIN_BACKEND", "null");
  window::detail::TheNullDisplay() = {};
  window::detail::TheNullDisplay().Scale = scale;
  window::detail::TheNullDisplay().Driven = true;
  window::detail::NullAdvance(-window::detail::NullClock());  // from 0: exact times
}

/// The platform's own backend with no display where it can do without one
/// (SDL's dummy driver), unpaced.
inline void UseRealBackend() {
  SetVariable("CHAIN_BACKEND", nullptr);
  SetVariable("CHAIN_VSYNC", "0");
#ifndef _WIN32
  SetVariable("SDL_VIDEODRIVER", "dummy");
  SetVariable("SDL_RENDER_VSYNC", "0");
  SetVariable("SDL_VIDEO_X11_SCALING_FACTOR", nullptr);
#endif
}

/// Stretches the open null window to sizes whose pixels cannot be had (the
/// first two wrap a 32-bit size_t: 32768 x 32769 x 4 bytes is 2^32 + 2^17),
/// runs `frame` three times at each, then puts back the design's size and
/// runs it once: the width of the picture shown at each (0: none).
template <typename Frame>
std::vector<int> WidthsShownWhenGiant(window::Form& form, Frame frame) {
  std::vector<int> shown;
  for (const auto& [width, height] : {std::pair{32768, 32769}, std::pair{65536, 16385},
                                      std::pair{40000, 30000}, std::pair{1 << 30, 1 << 30}}) {
    window::detail::NullResize(width, height);
    for (int i = 0; i < 3; ++i) frame();
    shown.push_back(form.Presented().Width);
  }
  window::detail::NullResize(0, 0);
  frame();
  shown.push_back(form.Presented().Width);
  return shown;
}
