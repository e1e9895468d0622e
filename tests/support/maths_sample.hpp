// A fixed set of arguments for the maths, made with integer arithmetic so
// that it is the same on every platform, and the hash of the results: the
// unit tests compare the chain's own functions with the recorded hash on
// every platform, the MPFR tests show it is that of the correctly rounded
// results.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace maths_sample {

inline constexpr std::uint64_t kRecordedHash = 0x8b1f07a3a3fda63cull;

template <typename Atan, typename Sin, typename Cos>
std::uint64_t Hash(Atan atan, Sin sin, Cos cos) {
  std::uint64_t hash = 14695981039346656037ull, state = 20261207;  // FNV-1a
  const auto add = [&hash](double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    hash = (hash ^ bits) * 1099511628211ull;
  };
  for (int i = 0; i < 30000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;  // Knuth's LCG
    const std::uint64_t r = state >> 11;                              // 53 bits
    const double unit = static_cast<double>(r) * 0x1p-53;             // [0, 1)
    add(atan(std::ldexp(unit - 0.5, static_cast<int>(r % 64) - 20)));
    add(sin(16.0 * unit - 8.0));
    add(cos(6.28318 * unit));
  }
  return hash;
}

}  // namespace maths_sample
