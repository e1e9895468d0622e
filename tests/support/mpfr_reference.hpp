// MPFR as the correctly rounded reference for the chain's arctangent, sine
// and cosine: the maths test and the maths-sweep tool both judge by it.
#pragma once

#include <mpfr.h>

#include <cmath>

#include "chain/maths.hpp"

namespace reference {

enum Fn { kAtan, kSin, kCos };
inline const char* Name(int fn) { return fn == kAtan ? "atan" : fn == kSin ? "sin" : "cos"; }

inline double Ours(int fn, double x) {
  return fn == kAtan ? chain::Atan(x) : fn == kSin ? chain::Sin(x) : chain::Cos(x);
}

// One thread's MPFR numbers: MPFR's exponent range is per thread.
class Mpfr {
 public:
  Mpfr() {
    mpfr_set_emin(-1073);  // doubles' range, subnormals included
    mpfr_set_emax(1024);
    mpfr_inits2(53, in_, out_, nullptr);
    mpfr_inits2(400, wide_, sum_, nullptr);
  }
  ~Mpfr() { mpfr_clears(in_, out_, wide_, sum_, nullptr); }
  Mpfr(const Mpfr&) = delete;
  Mpfr& operator=(const Mpfr&) = delete;

  // The double nearest fn(x), subnormal results included.
  double Rounded(int fn, double x) {
    mpfr_set_d(in_, x, MPFR_RNDN);
    mpfr_subnormalize(out_, Apply(fn, out_), MPFR_RNDN);
    return mpfr_get_d(out_, MPFR_RNDN);
  }

  // |hi + mid + lo - fn(x)|, the exact sum against 400 bits of fn(x).
  double ErrorOf(int fn, double x, double hi, double mid = 0.0, double lo = 0.0) {
    mpfr_set_d(in_, x, MPFR_RNDN);
    Apply(fn, wide_);
    mpfr_set_d(sum_, hi, MPFR_RNDN);
    mpfr_add_d(sum_, sum_, mid, MPFR_RNDN);
    mpfr_add_d(sum_, sum_, lo, MPFR_RNDN);
    mpfr_sub(sum_, sum_, wide_, MPFR_RNDN);
    return std::fabs(mpfr_get_d(sum_, MPFR_RNDN));
  }

  // How far fn(x) lies from the midpoint nearest it, in units in the last
  // place of `rounded` (0.5 at most; tiny values are the hard arguments).
  double Distance(int fn, double x, double rounded) {
    const double ulp = std::nextafter(std::fabs(rounded), INFINITY) - std::fabs(rounded);
    return 0.5 - ErrorOf(fn, x, rounded) / ulp;
  }

 private:
  int Apply(int fn, mpfr_t y) {
    return fn == kAtan  ? mpfr_atan(y, in_, MPFR_RNDN)
           : fn == kSin ? mpfr_sin(y, in_, MPFR_RNDN)
                        : mpfr_cos(y, in_, MPFR_RNDN);
  }

  mpfr_t in_, out_, wide_, sum_;
};

}  // namespace reference
