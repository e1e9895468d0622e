// Runs the window without a display where the platform allows it: SDL's
// dummy video driver, unpaced, whatever the environment says. The Windows
// build shows real windows (under Wine, on Xvfb).
#pragma once

#include <stdlib.h>

inline void UseHeadlessVideo() {
#ifdef _WIN32
  _putenv("CHAIN_VSYNC=0");
#else
  setenv("CHAIN_VSYNC", "0", 1);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_RENDER_VSYNC", "0", 1);
  unsetenv("SDL_VIDEO_X11_SCALING_FACTOR");
#endif
}

/// Asks the next window for `scale` device pixels per client pixel, where
/// the platform lets a program ask (SDL); elsewhere the desktop decides.
inline void AskForScale([[maybe_unused]] const char* scale) {
#ifndef _WIN32
  setenv("SDL_VIDEO_X11_SCALING_FACTOR", scale, 1);
#endif
}
