// Runs SDL without a display: its dummy video driver with the software
// renderer, unpaced, whatever the environment says.
#pragma once

#include <stdlib.h>

inline void UseHeadlessVideo() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_RENDER_DRIVER", "software", 1);
  setenv("SDL_RENDER_VSYNC", "0", 1);
}
