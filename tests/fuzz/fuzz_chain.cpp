// Drives the chain with arbitrary mouse paths of finite numbers within
// +-1e9 (every 8 input bytes are one frame's X and Y) and checks after every
// step what must always hold.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chain/chain.hpp"
#include "chain_invariants.hpp"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  chain::ChainPoints points{};
  chain::PinAnchor(points);
  long frame = 0;
  for (std::size_t at = 0; at + 8 <= size; at += 8, ++frame) {
    const float x = Coordinate(data + at), y = Coordinate(data + at + 4);
    int link = 0;
    if (const char* broken = invariants::StepAndCheck(points, x, y, link))
      Broken(broken, frame, link);
  }
  return 0;
}
