// Drives the chain with arbitrary mouse paths of finite numbers within
// +-1e9 (every 8 input bytes are one frame's X and Y) and checks after every
// step what must always hold.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chain/chain.hpp"

namespace {

[[noreturn]] void Broken(const char* what, long frame, int link) {
  std::fprintf(stderr, "fuzz_chain: %s (frame %ld, link %d)\n", what, frame, link);
  std::abort();
}

// Folds any float into the accepted range: the path is arbitrary, but only
// ever finite and within +-1e9, like every source of mouse positions.
float Coordinate(const std::uint8_t* bytes) {
  float v = 0.0f;
  std::memcpy(&v, bytes, sizeof v);
  if (!std::isfinite(v)) return 0.0f;
  return std::fabs(v) <= 1e9f ? v : std::fmod(v, 1e9f);
}

// The distance a link may keep from its neighbour: the link length, plus the
// rounding of positions to floats, whose spacing grows with their size.
double Reach(const chain::LinkPoint& a, const chain::LinkPoint& b) {
  const float biggest = std::fmax(std::fmax(std::fabs(a.X), std::fabs(a.Y)),
                                  std::fmax(std::fabs(b.X), std::fabs(b.Y)));
  const double spacing = std::nextafter(biggest, INFINITY) - biggest;
  return chain::kLinkLength + 1e-4 + 2.0 * spacing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  chain::ChainPoints points{};
  chain::PinAnchor(points);
  long frame = 0;
  for (std::size_t at = 0; at + 8 <= size; at += 8, ++frame) {
    const float x = Coordinate(data + at), y = Coordinate(data + at + 4);
    if (chain::StepChainChecked(points, x, y) != chain::kNoFault)
      Broken("floating-point fault in the frame step", frame, 0);
    if (!(points[chain::kAnchor] == chain::LinkPoint{chain::kAnchorX, chain::kAnchorY}))
      Broken("the anchor moved", frame, chain::kAnchor);
    for (int n = 1; n < chain::kAnchor; ++n) {
      const chain::LinkPoint& p = points[n];
      const chain::LinkPoint& q = points[n + 1];
      if (!std::isfinite(p.X) || !std::isfinite(p.Y))
        Broken("a coordinate is not finite", frame, n);
      const double d = std::hypot(static_cast<double>(p.X) - q.X, static_cast<double>(p.Y) - q.Y);
      if (d > Reach(p, q)) Broken("a link is out of reach of the next", frame, n);
    }
  }
  return 0;
}
