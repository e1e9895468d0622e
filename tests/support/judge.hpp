// The judge of pictures that every test reads a circle's centre with: the
// window tests directly, and the browser and compositor tests through
// web-reference's "circle" command (tests/web/page.mjs, tests/support/judge.py).
#pragma once

#include <cmath>

#include "window/platform.hpp"

namespace judge {

/// A circle's centre as drawn, in the picture's pixels, and how much it
/// darkens the background, in pixels of full cover.
struct Seen {
  double X = 0.0, Y = 0.0, Mass = 0.0;
};

/// The circle drawn near point (x, y) of `shot`: the centroid of how far
/// each pixel's green falls below the background's (0xF0), over the pixels
/// whose centres lie within `radius`. Every measure is in device pixels.
inline Seen CircleNear(const window::Snapshot& shot, double x, double y, double radius) {
  double mass = 0.0, mx = 0.0, my = 0.0;
  for (int py = static_cast<int>(std::floor(y - radius)); py <= static_cast<int>(y + radius); ++py)
    for (int px = static_cast<int>(std::floor(x - radius)); px <= static_cast<int>(x + radius);
         ++px) {
      if (px < 0 || py < 0 || px >= shot.Width || py >= shot.Height) continue;
      if (std::hypot(px + 0.5 - x, py + 0.5 - y) > radius) continue;
      const double cover = std::fmax(0.0, (240.0 - ((shot.At(px, py) >> 8) & 0xFF)) / 240.0);
      mass += cover;
      mx += cover * (px + 0.5);
      my += cover * (py + 0.5);
    }
  if (mass == 0.0) return {};
  return {mx / mass, my / mass, mass};
}

}  // namespace judge
