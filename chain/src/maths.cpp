// Correctly rounded arctangent, sine and cosine, in the manner of Ziv: a
// quick evaluation to about 2^-66 with a bound on its error, and a rounding
// test that returns its result only when every value within the bound rounds
// to the same double. The arguments it cannot decide (about one in six
// thousand) go to a precise evaluation in sums of three doubles, good to
// 2^-130 or better, whose result is rounded exactly once. That decides every
// argument whose exact result lies farther than 2^-130 (relative) from a
// midpoint between two doubles; the sweeps in the README found none nearer.
//
// Tables and series come from tools/maths/derive_tables.py. tests/
// maths_test.cpp checks every bound against MPFR with room to spare.
#include "chain/maths.hpp"

#include <cmath>
#include <cstdint>

#include "expansion.hpp"
#include "maths_paths.hpp"
#include "maths_tables.hpp"

namespace chain {
namespace {

using expansion::Double2;
using expansion::Double3;
using expansion::FastTwoSum;
using expansion::TwoProduct;
using expansion::TwoSum;
using maths_paths::Quick;
namespace T = maths_tables;

// Adding and subtracting this rounds a double below 2^51 in magnitude to
// an integer, ties to even.
constexpr double kToInteger = 0x1.8p52;
// Below this magnitude sin x rounds to x, cos x to 1 and atan x to x: the
// first term the series leave out is less than half a unit in the last place.
constexpr double kTiny = 0x1p-27;

Quick Decided(double value) { return {value, value, 0.0, 0.0, true}; }

// The integer v - kToInteger of a double v = kToInteger + n, |n| < 2^31.
int IntegerOf(double v) { return static_cast<int>(expansion::Bits(v) & 0xFFFFFFFFu); }

// The rounding test: every value in [hi + lo - bound, hi + lo + bound]
// rounds to the same double, for lo = x + y, y the part computed last. The
// bound is added to x before y arrives; rounding is monotonic, so the test
// is sound provided `bound` also covers the roundings of the sums with it
// (2^-53 of |x| and of |lo|, inside every bound below).
Quick Test(double hi, double x, double y, double bound) {
  const double left = hi + ((x - bound) + y);
  const double right = hi + ((x + bound) + y);
  return {left, hi, x + y, bound, left == right};
}

// ---- sine and cosine --------------------------------------------------------

// x = k pi/256 + r, |r| <= pi/512: the angle of table entry k plus a
// remainder. The quick remainder is hi + lo; the precise one a Double3.
struct Reduced {
  int k;
  double kd;  // k as a double
  double a;   // x - k P[0], exact
};

Reduced ReduceStart(double x) {
  const double t = x * T::k256OverPi + kToInteger;
  const double kd = t - kToInteger;
  // k P[0] is exact (|k| <= 652, P[0] has 43 bits) and within a factor of
  // two of x for |k| >= 2, so the difference is exact; for |k| = 1 it is a
  // multiple of x's unit below 2^-7, which a double holds as well.
  return {IntegerOf(t), kd, x - kd * T::kPiOver256[0]};
}

// The tables as the evaluations index them, unfolded from the smaller ones
// the sources keep: every entry is a copy or a negation, so each value is
// exactly the derived one.
struct Unfolded {
  double sin[512][5];                  // sin(k pi/256), k = 0 .. 511
  double atan[T::kAtanSteps + 1][16];  // rows padded to 16: finding one takes a shift
};

constexpr void Unfold(Unfolded& u) {
  const auto copy = [](const double* from, double(&to)[5], double sign) {
    for (int j = 0; j < 4; ++j) to[j] = from[j] == 0.0 ? 0.0 : sign * from[j];  // 0 stays +0
    to[4] = from[0] == 0.0 ? 0.0 : 0x1.8p24;  // rounds a remainder to a multiple of 2^-28
  };
  for (int k = 0; k <= 128; ++k) copy(T::kSinQuarter[k], u.sin[k], 1.0);
  for (int k = 129; k < 256; ++k) copy(u.sin[256 - k], u.sin[k], 1.0);  // sin(pi - a)
  copy(T::kSinOfPi, u.sin[256], 1.0);
  for (int k = 257; k < 512; ++k) copy(u.sin[512 - k], u.sin[k], -1.0);  // sin(2 pi - a)
  for (int i = 0; i <= T::kAtanSteps; ++i) {
    for (int j = 0; j < 13; ++j) u.atan[i][j] = T::kAtanTable[i][j];
    u.atan[i][13] = i == 0 ? 0.0 : 0x1.8p31;  // rounds an H to a multiple of 2^-21
  }
}

#ifdef __EMSCRIPTEN__
// The web page downloads the program: it carries the tables a third of the
// size and unfolds them at first use, into memory that is not part of the
// download (a constant initialiser would put the whole tables in it).
const Unfolded& Tables() {
  static Unfolded tables;
  static const bool unfolded = (Unfold(tables), true);
  (void)unfolded;
  return tables;
}
#else
// Elsewhere the compiler unfolds them: no first-use test on every call,
// which cost a sine a fifth of its time.
constexpr Unfolded kUnfolded = [] {
  Unfolded u{};
  Unfold(u);
  return u;
}();
const Unfolded& Tables() { return kUnfolded; }
#endif

// The two table values of entry k: A = sin(k pi/256), B = cos(k pi/256).
const double* SinEntry(int k) { return Tables().sin[k & 511]; }
const double* CosEntry(int k) { return Tables().sin[(k + 128) & 511]; }

// What both quick results share: the remainder r = rh + rl, z = rh^2, and
// the series of sin r - r and cos r - 1 past their first terms.
struct QuickTerms {
  int k;
  double rh, rl, z, z2;
  double sinSeries;  // (sin rh - rh) / rh^3
  double cosSeries;  // (cos rh - 1 + rh^2/2) / rh^4
};

QuickTerms QuickExpand(double x) {
  const Reduced s = ReduceStart(x);
  // r = rh + rl to 2^-113 absolute and 2^-84 relative: what P[3] and P[4]
  // add is below 2^-129, and rl - k P[2] is rounded once.
  const Double2 r = TwoSum(s.a, -s.kd * T::kPiOver256[1]);
  const double rh = r.hi, rl = r.lo - s.kd * T::kPiOver256[2];
  const double z = rh * rh, z2 = z * z;
  const double* S = T::kSinQuick;
  const double* C = T::kCosQuick;
  // Estrin's order keeps the chain of dependent operations short.
  return {s.k, rh, rl, z, z2, (S[0] + z * S[1]) + z2 * S[2], C[1] + z * C[2]};
}

// A cos r + B sin r for table values A = a[0] + a[1], B = b[0] + b[1]:
//   A + B rh + [B (sin r - rh) + A (cos r - 1) + A_lo cos r + B_lo rh], with
// sin(rh + rl) = sin rh + rl + rl (cos rh - 1) + ..., the last below 2^-76,
// and cos(rh + rl) = cos rh - rh rl + ..., which with A_lo (cos r - 1) is
// left to the error bound. A + B rh is summed exactly: B's upper 26 bits
// times rh rounded to a multiple of 2^-28 (at most 21 bits) is exact, and
// where A is 0, B is +-1 and B rh is exact as it stands (the table's
// rounding constant is then 0). |A| >= sin(pi/256) > |B rh| unless A is 0,
// as FastTwoSum needs. The error is below
//   2^-50 |A| z + 2^-51 |rh| z + 2^-83 |rh| + 2^-50 |small| + 2^-104:
// A (cos r - 1) carries about 7 roundings of 2^-53 of |A| z/2 with the sums
// it meets, and the terms left out 2^-53 |A| z; B (sin r - rh) a few
// roundings of |r|^3/6, the small terms (below 2^-29) a few of their size
// whatever the sums they meet; what the series leave out is below 2^-59 |A|
// z and 2^-70 |r|^3; the remainder is off by 2^-113 absolute or 2^-84
// relative to r.
Quick QuickCombine(const double* a, const double* b, double sign, const QuickTerms& t) {
  const double A = a[0], Alo = a[1], B = sign * b[0], Blo = sign * b[1];
  const double B26 = sign * b[3];  // B's upper 26 bits
  const double m = (t.rh + a[4]) - a[4], rest = t.rh - m;
  const Double2 h = FastTwoSum(A, B26 * m);
  const double small = ((B - B26) * m + B * rest) + (B * t.rl + Blo * t.rh);
  const double series =
      ((B * t.rh) * t.z) * t.sinSeries + ((A * t.z) * T::kCosQuick[0] + (A * t.z2) * t.cosSeries);
  const double ar = std::fabs(t.rh);
  const double bound = t.z * (0x1p-50 * std::fabs(A) + 0x1p-51 * ar) + 0x1p-83 * ar +
                       0x1p-50 * std::fabs(small) + 0x1p-104;
  return Test(h.hi, (h.lo + Alo) + small, series, bound);
}

// Special arguments of sine and cosine: NaN, outside [-8, 8] (NaN and an
// invalid operation), tiny. Returns false for everything else.
bool SinCosSpecial(double x, double& sine, double& cosine) {
  if (x != x) {  // quietly, as in AtanQuickPath
    sine = cosine = x + x;
    return true;
  }
  const double ax = std::fabs(x);
  if (ax < kTiny) {
    sine = x;
    cosine = 1.0;
    return true;
  }
  if (!(ax <= kSinCosLimit)) {
    // An infinity or a finite x beyond the domain gives
    // 0/0 or inf - inf, NaN with the invalid operation raised.
    sine = cosine = (x - x) / (x - x);
    return true;
  }
  return false;
}

Double3 PreciseRemainder(const Reduced& s) {
  const double* P = T::kPiOver256;
  // Every k P[j] is exact; the sums below lose less than 2^-195 absolute,
  // and pi/256 - (P[0] + ... + P[4]) times k less than 2^-219.
  const Double2 low = TwoSum(-s.kd * P[3], -s.kd * P[4]);
  const Double3 tail =
      expansion::Add(expansion::Renormalise(-s.kd * P[1], -s.kd * P[2], low.hi), low.lo);
  return expansion::Add(tail, s.a);
}

template <std::size_t N>
Double3 Horner(const double (&coefficients)[N][3], const Double3& z) {
  Double3 p = expansion::Make3(coefficients[N - 1]);
  for (std::size_t j = N - 1; j-- > 0;)
    p = expansion::Add(expansion::Multiply(p, z), expansion::Make3(coefficients[j]));
  return p;
}

// sin and cos of x to about 2^-142 relative (the remainder to 2^-145
// relative, each product and sum to 2^-150, and the sum A cos r + B sin r
// at most 2^7.4 times smaller than its larger term).
void PreciseSinCos(double x, Double3* sine, Double3* cosine) {
  using expansion::Add;
  using expansion::Multiply;
  const Reduced s = ReduceStart(x);
  const Double3 r = PreciseRemainder(s);
  const Double3 z = Multiply(r, r);
  const Double3 sinr = Add(r, Multiply(Multiply(r, z), Horner(T::kSinPrecise, z)));
  const Double3 cosr = Add(Multiply(z, Horner(T::kCosPrecise, z)), 1.0);
  const Double3 A = expansion::Make3(SinEntry(s.k)), B = expansion::Make3(CosEntry(s.k));
  if (sine) *sine = Add(Multiply(A, cosr), Multiply(B, sinr));
  if (cosine) *cosine = Add(Multiply(B, cosr), expansion::Negate(Multiply(A, sinr)));
}

// ---- arctangent -------------------------------------------------------------

// atan u for u = uh + ul in [0, 1], or pi/2 - atan u with kReciprocal, with
// the sign of x: a polynomial in h = u - c around the table point c = i/128
// nearest u, Taylor's, a0 + a1 h summed exactly and a2 h^2 + ... + a8 h^8 in
// plain doubles. ul is 0 unless kReciprocal.
template <bool kReciprocal>
[[gnu::always_inline]] inline Quick AtanNear(double x, double uh, double ul) {
  // H = 128 (u - c) = Hh + Hl, |H| <= 1/2; the polynomial is in H with its
  // coefficients scaled to match, which saves a multiplication.
  const double u128 = uh * T::kAtanSteps;  // exact
  const double ti = u128 + kToInteger;
  const double* a = Tables().atan[expansion::Bits(ti) & 0xFF];  // i <= 128
  const double Hh = u128 - (ti - kToInteger);                   // exact (Sterbenz)
  // b2 + b3 H + ... + b8 H^6 in Hh alone, by Estrin's scheme, which keeps
  // the chain of dependent operations short; what Hl adds to it is the
  // derivative term below.
  const double H2 = Hh * Hh, H4 = H2 * H2;
  const double q =
      ((a[5] + Hh * a[6]) + H2 * (a[7] + Hh * a[8])) + H4 * ((a[9] + Hh * a[10]) + H2 * a[11]);
  // b1 H: b1's upper 26 bits times Hh rounded to a multiple of 2^-21 (20
  // bits) is exact; near 0, b1 is 2^-7 and b1 Hh is exact as it stands (the
  // table's rounding constant is then 0).
  const double H1 = (Hh + a[13]) - a[13];
  const Double2 s = FastTwoSum(a[0], a[3] * H1);  // |a0| >= atan(1/128) > |b1 H|, or 0
  double small = a[3] * (Hh - H1) + a[4] * Hh;
  if (kReciprocal) {
    const double Hl = ul * T::kAtanSteps;
    small += Hl * ((a[3] + a[4]) + Hh * (2.0 * a[5] + 3.0 * Hh * a[6]));
  }
  // The error: a few roundings of 2^-53 of H^2 q, whose size is about
  // |b2| H^2 + |H|^3/3 2^-21, and what the series leave out (all in a[12]),
  // a few roundings of the small terms (below 2^-29), and 2^-102 for pi/2,
  // the table and what the small terms leave out.
  const double bound = H2 * a[12] + 0x1p-50 * std::fabs(small) + 0x1p-102;
  double hi = s.hi, lo = (s.lo + a[1]) + small, y = H2 * q;
  if (kReciprocal) {
    const Double2 w = FastTwoSum(T::kHalfPi[0], -s.hi);
    hi = w.hi;
    lo = w.lo + (T::kHalfPi[1] - lo);
    y = -y;
  }
  // atan is odd and rounding to nearest symmetric: the sign goes on last.
  const Quick quick = Test(hi, lo, y, bound);
  const double sign = std::copysign(1.0, x);
  return {std::copysign(quick.value, x), sign * quick.hi, sign * quick.lo, bound, quick.decided};
}

// atan x for |x| <= 1 near c, for |x| > 1 pi/2 - atan(1/|x|); beyond 2^53
// pi/2 itself rounds the same way.
[[gnu::always_inline]] inline Quick AtanQuickPath(double x) {
  // NaN first, by a comparison that is quiet in every compiler: an ordered
  // one would raise the invalid operation for a quiet NaN, which IEEE 754
  // passes through silently.
  if (x != x) return Decided(x + x);
  const double ax = std::fabs(x);
  if (!(ax < 0x1p53)) return Decided(std::copysign(T::kHalfPi[0], x));
  if (ax < kTiny) return Decided(x);
  if (!(ax > 1.0)) return AtanNear<false>(x, ax, 0.0);
  // 1/|x| = uh + ul to 2^-105 relative; 1 - |x| uh is exact.
  const double uh = 1.0 / ax;
  const Double2 p = TwoProduct(ax, uh);
  return AtanNear<true>(x, uh, ((1.0 - p.hi) - p.lo) * uh);
}

// atan x to about 2^-145 relative: atan c + atan t with t = (u - c)/(1 + u c).
Double3 AtanPreciseValue(double x) {
  using expansion::Add;
  using expansion::Multiply;
  const double ax = std::fabs(x);
  const bool big = ax > 1.0;
  const Double3 u =
      big ? expansion::Divide({1.0, 0.0, 0.0}, {ax, 0.0, 0.0}) : Double3{ax, 0.0, 0.0};
  const int i = static_cast<int>(u.hi * T::kAtanSteps + 0.5);
  const double c = i * (1.0 / T::kAtanSteps);
  const Double3 t = expansion::Divide(Add(u, -c), Add(Multiply(u, c), 1.0));
  const Double3 z = Multiply(t, t);
  const Double3 at = Add(t, Multiply(Multiply(t, z), Horner(T::kAtanPrecise, z)));
  Double3 v = Add(expansion::Make3(Tables().atan[i]), at);
  if (big) v = Add(expansion::Make3(T::kHalfPi), expansion::Negate(v));
  return x < 0.0 ? expansion::Negate(v) : v;
}

}  // namespace

namespace maths_paths {

Quick AtanQuick(double x) { return AtanQuickPath(x); }

Quick SinQuick(double x) {
  double sine = 0.0, cosine = 0.0;
  if (SinCosSpecial(x, sine, cosine)) return Decided(sine);
  const QuickTerms t = QuickExpand(x);
  return QuickCombine(SinEntry(t.k), CosEntry(t.k), 1.0, t);
}

Quick CosQuick(double x) {
  double sine = 0.0, cosine = 0.0;
  if (SinCosSpecial(x, sine, cosine)) return Decided(cosine);
  const QuickTerms t = QuickExpand(x);
  return QuickCombine(CosEntry(t.k), SinEntry(t.k), -1.0, t);
}

Double3 AtanPrecise(double x) { return AtanPreciseValue(x); }

Double3 SinPrecise(double x) {
  Double3 v{};
  PreciseSinCos(x, &v, nullptr);
  return v;
}

Double3 CosPrecise(double x) {
  Double3 v{};
  PreciseSinCos(x, nullptr, &v);
  return v;
}

}  // namespace maths_paths

double Atan(double x) {
  const Quick q = AtanQuickPath(x);
  return q.decided ? q.value : expansion::RoundToNearest(AtanPreciseValue(x));
}

double Sin(double x) {
  const Quick q = maths_paths::SinQuick(x);
  return q.decided ? q.value : expansion::RoundToNearest(maths_paths::SinPrecise(x));
}

double Cos(double x) {
  const Quick q = maths_paths::CosQuick(x);
  return q.decided ? q.value : expansion::RoundToNearest(maths_paths::CosPrecise(x));
}

void SinCos(double x, double& sine, double& cosine) {
  if (SinCosSpecial(x, sine, cosine)) return;
  const QuickTerms t = QuickExpand(x);
  const Quick s = QuickCombine(SinEntry(t.k), CosEntry(t.k), 1.0, t);
  const Quick c = QuickCombine(CosEntry(t.k), SinEntry(t.k), -1.0, t);
  if (s.decided && c.decided) {
    sine = s.value;
    cosine = c.value;
    return;
  }
  Double3 preciseSine{}, preciseCosine{};
  PreciseSinCos(x, s.decided ? nullptr : &preciseSine, c.decided ? nullptr : &preciseCosine);
  sine = s.decided ? s.value : expansion::RoundToNearest(preciseSine);
  cosine = c.decided ? c.value : expansion::RoundToNearest(preciseCosine);
}

}  // namespace chain
