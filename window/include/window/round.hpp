// Rounding to whole numbers without the C library's maths library.
#pragma once

#include <cmath>
#include <cstdint>

namespace window::core {

/// `x` rounded to the nearest integer, halves away from 0, as std::round
/// does (but for a zero's sign: a result of 0 is +0); written here so that the program needs no
/// maths library at all (which costs about 300 KiB of resident memory where it is loaded). Exact:
/// below 2^52 the truncation and the remainder are both exact doubles. Always inlined: a
/// circle's pixels each round four times, in a page's first frame as a call each otherwise.
[[gnu::always_inline]] inline double RoundHalfAway(double x) {
  if (!(std::fabs(x) < 0x1p52)) return x;  // already whole, or NaN
  const double whole = static_cast<double>(static_cast<std::int64_t>(x));
  const double rest = x - whole;
  if (rest >= 0.5) return whole + 1.0;
  if (rest <= -0.5) return whole - 1.0;
  return whole;
}

}  // namespace window::core
