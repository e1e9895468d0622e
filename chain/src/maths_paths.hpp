// The two paths behind chain::Atan, Sin and Cos, for the tests and the
// sweep tool: a quick path that either decides the correctly rounded
// result or says it cannot, and a precise path for the cases it cannot.
#pragma once

#include "expansion.hpp"

namespace chain::maths_paths {

/// What the quick path found: hi + lo is within `bound` of the exact value;
/// when `decided`, every value in that interval rounds to `value`, which is
/// then the correctly rounded result. Special arguments (zeros, tiny
/// values, infinities, NaN, outside the domain) are always decided.
struct Quick {
  double value = 0.0;
  double hi = 0.0;
  double lo = 0.0;
  double bound = 0.0;
  bool decided = false;
};

Quick AtanQuick(double x);
Quick SinQuick(double x);
Quick CosQuick(double x);

/// The precise path's value before its final rounding, for arguments the
/// quick path does not answer outright (finite, not tiny; |x| <= 8 for
/// sine and cosine); about 2^-140 relative or better.
expansion::Double3 AtanPrecise(double x);
expansion::Double3 SinPrecise(double x);
expansion::Double3 CosPrecise(double x);

}  // namespace chain::maths_paths
