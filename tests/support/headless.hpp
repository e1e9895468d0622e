// Where the tests' windows open: the null backend (pixels in memory, a
// 60 Hz display on the test's clock, so each frame is one step), on every
// platform. SDL's dummy driver, and on Windows a real window, serve the tests
// of what only a real backend has: its pacing, its scale setting, its
// signals.
#pragma once

#include <stdlib.h>

#include <string>

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
