// What must hold after every frame step, whatever the mouse did: shared by
// the fuzz target and the soak run.
#pragma once

#include <cmath>

#include "chain/chain.hpp"

namespace invariants {

/// The farthest link n may lie from link n + 1: the link length, plus the
/// rounding of positions to floats, whose spacing grows with their size
/// (64 px near 1e9).
inline double Reach(const chain::LinkPoint& a, const chain::LinkPoint& b) {
  const float biggest = std::fmax(std::fmax(std::fabs(a.X), std::fabs(a.Y)),
                                  std::fmax(std::fabs(b.X), std::fabs(b.Y)));
  const double spacing = std::nextafter(biggest, INFINITY) - biggest;
  return chain::kLinkLength + 1e-4 + 2.0 * spacing;
}

/// The squared distance from a to b, in px^2: a hypot spared, and the
/// squares of floats' differences cannot overflow a double.
inline double SquaredGap(const chain::LinkPoint& a, const chain::LinkPoint& b) {
  const double dx = static_cast<double>(a.X) - b.X, dy = static_cast<double>(a.Y) - b.Y;
  return dx * dx + dy * dy;
}

/// Steps the chain once and returns what broke, or nullptr; `link` receives
/// the link concerned.
inline const char* StepAndCheck(chain::ChainPoints& points, float mouseX, float mouseY, int& link) {
  link = 0;
  if (chain::StepChainChecked(points, mouseX, mouseY) != chain::kNoFault)
    return "floating-point fault in the frame step";
  link = chain::kAnchor;
  if (!(points[chain::kAnchor] == chain::LinkPoint{chain::kAnchorX, chain::kAnchorY}))
    return "the anchor moved";
  for (int n = 1; n < chain::kAnchor; ++n) {
    link = n;
    const chain::LinkPoint& p = points[n];
    const chain::LinkPoint& q = points[n + 1];
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return "a coordinate is not finite";
    // Squared: their rounding is far below the reach's margin.
    const double reach = Reach(p, q);
    if (SquaredGap(p, q) > reach * reach) return "a link is out of reach of the next";
  }
  return nullptr;
}

}  // namespace invariants
