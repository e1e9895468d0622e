// The chain's own arctangent, sine and cosine, correctly rounded: each
// returns the double nearest to the exact value (ties to even), which is
// unique, so every correct build on every machine returns the same bits.
// The chain's exactness rests on these instead of the C library's, whose
// last bit differs from one system to another.
//
// Written in plain double arithmetic (no long double, no fused
// multiply-add), the results assume the default rounding mode, round to
// nearest. The floating-point status is not part of the contract, except
// that an invalid operation is raised where the result is NaN for a
// non-NaN argument.
#pragma once

namespace chain {

/// The arctangent of x in radians, in [-pi/2, pi/2], correctly rounded for
/// every double: atan(+-0) = +-0, atan(+-inf) = +-pi/2 rounded, NaN gives NaN.
double Atan(double x);

/// Sine and cosine of x in radians, correctly rounded on [-8, 8], which
/// holds every angle the chain produces (0 to 6.28318). Outside it, infinities
/// included, they return NaN and raise an invalid operation rather than a
/// value that might be wrong; NaN gives NaN.
double Sin(double x);
double Cos(double x);

/// Sin(x) and Cos(x) at once, for the cost of little more than one of them.
void SinCos(double x, double& sine, double& cosine);

/// The largest |x| for which Sin and Cos are defined.
inline constexpr double kSinCosLimit = 8.0;

}  // namespace chain
