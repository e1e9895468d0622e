// The chain's two fingerprints, checked without GoogleTest so that they run
// wherever the chain is built, other CPUs under emulation included: the
// whole trajectory of a fixed pointer path, bit for bit, and the chain's own
// maths on a fixed sample of arguments, each against a value recorded once.
// Any change of rounding, of operation order or of the maths shows here.
//   hashes    prints both; status 1 if either differs
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "chain/chain.hpp"
#include "chain/maths.hpp"
#include "maths_sample.hpp"

namespace {

constexpr std::uint64_t kRecordedTrajectory = 0xe799d12e8b7c1e88ull;

// FNV-1a over the values of the points' bits, not their bytes: the same on
// a big-endian CPU.
std::uint64_t Trajectory() {
  chain::ChainPoints points{};
  chain::PinAnchor(points);
  std::uint64_t hash = 14695981039346656037ull;
  for (int frame = 0; frame < 5000; ++frame) {
    // Two triangle waves in half pixels: integer arithmetic only, so the
    // path is the same whatever the maths library.
    const int tx = frame % 1000, ty = (frame * 3) % 1400;
    const float x = 28.0f + 0.5f * static_cast<float>(tx < 500 ? tx : 1000 - tx);
    const float y = 12.0f + 0.5f * static_cast<float>(ty < 700 ? ty : 1400 - ty);
    chain::StepChain(points, x, y);
    for (const chain::LinkPoint& p : points) {
      std::uint32_t bits[2];
      std::memcpy(&bits[0], &p.X, 4);
      std::memcpy(&bits[1], &p.Y, 4);
      for (std::uint32_t b : bits) {
        hash ^= b;
        hash *= 1099511628211ull;
      }
    }
  }
  return hash;
}

bool Check(const char* what, std::uint64_t seen, std::uint64_t recorded) {
  const bool same = seen == recorded;
  std::printf("%s hash 0x%016" PRIx64 ": %s 0x%016" PRIx64 "\n", what, seen,
              same ? "as recorded," : "DIFFERS from the recorded", recorded);
  return same;
}

}  // namespace

int main() {
  const bool trajectory = Check("trajectory", Trajectory(), kRecordedTrajectory);
  const bool maths = Check("maths", maths_sample::Hash(chain::Atan, chain::Sin, chain::Cos),
                           maths_sample::kRecordedHash);
  return trajectory && maths ? 0 : 1;
}
