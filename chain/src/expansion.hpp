// Arithmetic on sums of doubles, for the chain's own maths functions: the
// error-free transformations (an exact sum or product as a rounded result
// plus its rounding error) and numbers carried as hi + mid + lo, good to
// about 2^-150 relative.
//
// Plain IEEE double arithmetic in round-to-nearest and nothing else: the
// transformations are exact only when every operation is rounded once to
// double, which is why the project compiles with -ffp-contract=off (a
// fused multiply-add would skip a rounding the algorithms count on) and
// without -ffast-math (which would reassociate them away).
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>

namespace chain::expansion {

static_assert(std::numeric_limits<double>::is_iec559, "IEEE doubles are required");
static_assert(FLT_EVAL_METHOD == 0, "every double operation must round to double");

/// A double's bits, and the double with given bits.
inline std::uint64_t Bits(double a) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &a, sizeof bits);
  return bits;
}
inline double FromBits(std::uint64_t bits) {
  double a = 0.0;
  std::memcpy(&a, &bits, sizeof a);
  return a;
}

/// An unevaluated sum hi + lo.
struct Double2 {
  double hi;
  double lo;
};

/// An unevaluated sum hi + mid + lo, each part well below the one before.
struct Double3 {
  double hi;
  double mid;
  double lo;
};

/// a + b = hi + lo exactly, hi = a + b rounded (Knuth).
inline Double2 TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  const double e = (a - (s - bb)) + (b - bb);
  return {s, e};
}

/// The same in three operations when |a| >= |b| or a is zero (Dekker).
inline Double2 FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

/// a = hi + lo with hi holding the upper 26 bits of the significand and lo
/// the rest (Veltkamp); |a| below 2^995.
inline Double2 Split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

/// a * b = hi + lo exactly, hi = a * b rounded (Dekker), barring underflow.
inline Double2 TwoProduct(double a, double b) {
  const double p = a * b;
  const Double2 x = Split(a), y = Split(b);
  const double e = ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
  return {p, e};
}

/// a + b + c exactly, as three parts each at most about half a unit in the
/// last place of the one before.
inline Double3 Renormalise(double a, double b, double c) {
  const Double2 s = TwoSum(b, c);
  const Double2 t = TwoSum(a, s.hi);
  const Double2 u = TwoSum(t.lo, s.lo);
  const Double2 v = TwoSum(t.hi, u.hi);
  const Double2 w = TwoSum(v.lo, u.lo);
  return {v.hi, w.hi, w.lo};
}

/// The three parts of a table entry.
inline Double3 Make3(const double* parts) { return {parts[0], parts[1], parts[2]}; }
inline Double3 Negate(const Double3& a) { return {-a.hi, -a.mid, -a.lo}; }

/// a + b; the rounding errors dropped are below 2^-158 of the larger operand.
inline Double3 Add(const Double3& a, const Double3& b) {
  const Double2 h = TwoSum(a.hi, b.hi);
  const Double2 m = TwoSum(a.mid, b.mid);
  const Double2 x = TwoSum(h.lo, m.hi);
  return Renormalise(h.hi, x.hi, (m.lo + (a.lo + b.lo)) + x.lo);
}

/// a + b for a double b.
inline Double3 Add(const Double3& a, double b) {
  const Double2 h = TwoSum(a.hi, b);
  const Double2 x = TwoSum(h.lo, a.mid);
  return Renormalise(h.hi, x.hi, x.lo + a.lo);
}

/// a * b; the error is below 2^-150 of the product.
inline Double3 Multiply(const Double3& a, const Double3& b) {
  const Double2 p = TwoProduct(a.hi, b.hi);
  const Double2 q = TwoProduct(a.hi, b.mid);
  const Double2 r = TwoProduct(a.mid, b.hi);
  const double small = a.hi * b.lo + a.lo * b.hi + a.mid * b.mid;
  const Double2 u = TwoSum(q.hi, r.hi);
  const Double2 v = TwoSum(p.lo, u.hi);
  return Renormalise(p.hi, v.hi, (((small + q.lo) + r.lo) + u.lo) + v.lo);
}

/// a * b for a double b.
inline Double3 Multiply(const Double3& a, double b) {
  const Double2 p = TwoProduct(a.hi, b);
  const Double2 q = TwoProduct(a.mid, b);
  const Double2 u = TwoSum(p.lo, q.hi);
  return Renormalise(p.hi, u.hi, (a.lo * b + q.lo) + u.lo);
}

/// a / b, by three rounds of quotient digit and exact remainder.
inline Double3 Divide(const Double3& a, const Double3& b) {
  const double q0 = a.hi / b.hi;
  const Double3 r1 = Add(a, Negate(Multiply(b, q0)));
  const double q1 = r1.hi / b.hi;
  const Double3 r2 = Add(r1, Negate(Multiply(b, q1)));
  const double q2 = r2.hi / b.hi;
  return Renormalise(q0, q1, q2);
}

/// The neighbour of a finite non-zero double, toward +inf when `up`.
inline double Neighbour(double a, bool up) {
  const std::uint64_t bits = Bits(a);
  return FromBits((a > 0) == up ? bits + 1 : bits - 1);
}

/// hi + mid + lo rounded once to the nearest double, ties to even.
inline double RoundToNearest(const Double3& a) {
  const Double2 s = TwoSum(a.hi, a.mid);
  const Double2 t = TwoSum(s.lo, a.lo);
  const Double2 u = TwoSum(s.hi, t.hi);  // a = u.hi + u.lo + t.lo exactly
  const Double2 w = TwoSum(u.lo, t.lo);  // a = u.hi + w.hi + w.lo exactly
  if (w.hi == 0.0 || u.hi == 0.0) return u.hi + w.hi;
  // u.hi is the rounding of u.hi + u.lo; only what the lower parts add can
  // carry the sum past the midpoint toward u.hi's neighbour.
  const double next = Neighbour(u.hi, w.hi > 0);
  const double half = (next - u.hi) * 0.5;  // exact: a power of two
  if (w.hi == half) {
    if (w.lo == 0.0)  // a true tie: the even one
      return (Bits(u.hi) & 1) ? next : u.hi;
    return (w.lo > 0) == (half > 0) ? next : u.hi;
  }
  const bool beyond = half > 0 ? w.hi > half : w.hi < half;
  return beyond ? next : u.hi;
}

}  // namespace chain::expansion
