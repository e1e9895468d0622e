// The chain's arctangent, sine and cosine against MPFR, the correctly
// rounded reference: every result must be the double nearest the exact
// value, the quick path's error must stay within the bound its rounding test
// trusts, and the precise path must be as precise as it claims.
#include "chain/maths.hpp"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "expansion.hpp"
#include "maths_paths.hpp"
#include "maths_sample.hpp"
#include "mpfr_reference.hpp"

namespace {

using chain::expansion::Double3;
namespace paths = chain::maths_paths;

enum class Fn { kAtan, kSin, kCos };
const char* Name(Fn f) { return f == Fn::kAtan ? "Atan" : f == Fn::kSin ? "Sin" : "Cos"; }

// One set of MPFR numbers for the whole test, which runs on one thread.
reference::Mpfr& Mpfr() {
  static reference::Mpfr numbers;
  return numbers;
}

double Reference(Fn f, double x) { return Mpfr().Rounded(static_cast<int>(f), x); }
double Ours(Fn f, double x) { return reference::Ours(static_cast<int>(f), x); }

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Hex(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", x);
  return text;
}

// Arguments as the chain makes them (quotients of float differences, float
// angles from 0 to a turn), then arguments from the whole domain: for the
// arctangent any bit pattern of a finite double, for sine and cosine
// uniform on [-8, 8].
std::vector<double> Sample(Fn f, int count, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<double> xs;
  xs.reserve(static_cast<std::size_t>(count));
  std::uniform_real_distribution<float> offset(-500.0f, 500.0f), angle(0.0f, 6.28318f);
  std::uniform_real_distribution<double> wide(-chain::kSinCosLimit, chain::kSinCosLimit);
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0) {
      const float dy = offset(random);
      xs.push_back(f == Fn::kAtan ? static_cast<double>(offset(random)) / (dy == 0.0f ? 1.0 : dy)
                                  : static_cast<double>(angle(random)));
    } else if (f == Fn::kAtan) {
      double x = 0.0;
      do {
        const std::uint64_t bits = random();
        std::memcpy(&x, &bits, sizeof x);
      } while (!std::isfinite(x));
      xs.push_back(
          i % 4 == 1 ? x : std::ldexp(x, -std::ilogb(x) + static_cast<int>(random() % 80) - 40));
    } else {
      xs.push_back(wide(random));
    }
  }
  return xs;
}

// ---- every result correctly rounded -------------------------------------------

void ExpectCorrectlyRounded(Fn f, const std::vector<double>& xs) {
  int wrong = 0;
  for (double x : xs) {
    const double got = Ours(f, x), want = Reference(f, x);
    if (!SameBits(got, want) && !(std::isnan(got) && std::isnan(want))) {
      if (++wrong <= 5)
        ADD_FAILURE() << Name(f) << "(" << Hex(x) << ") = " << Hex(got) << ", correctly rounded "
                      << Hex(want);
    }
  }
  EXPECT_EQ(wrong, 0) << Name(f) << ": " << wrong << " of " << xs.size() << " wrong";
}

TEST(Maths, EveryResultOfAMillionArgumentsIsCorrectlyRounded) {
  for (Fn f : {Fn::kAtan, Fn::kSin, Fn::kCos}) ExpectCorrectlyRounded(f, Sample(f, 1000000, 14));
}

// The unit tests' recorded hash, which every platform must give, is that of
// the correctly rounded results.
TEST(Maths, TheRecordedHashIsThatOfTheCorrectlyRoundedResults) {
  const auto f = [](Fn fn) { return [fn](double x) { return Reference(fn, x); }; };
  EXPECT_EQ(maths_sample::Hash(f(Fn::kAtan), f(Fn::kSin), f(Fn::kCos)),
            maths_sample::kRecordedHash);
}

TEST(Maths, SpecialArguments) {
  const double inf = std::numeric_limits<double>::infinity();
  const double tiny = std::numeric_limits<double>::denorm_min();
  const double smallest = std::numeric_limits<double>::min();
  const double biggest = std::numeric_limits<double>::max();
  const std::vector<double> both = {
      0.0,  -0.0, tiny, -tiny, smallest, -smallest, 0x1p-27, 0x1p-28, -0x1p-27, 0x1p-26,  1.0,
      -1.0, 0.5,  2.0,  8.0,   -8.0,     M_PI,      -M_PI,   M_PI_2,  M_PI_4,   2 * M_PI, 7.5};
  std::vector<double> atans = both;
  for (double x : {0x1p53, std::nextafter(0x1p53, 0.0), 0x1p60, -0x1p60, biggest, -biggest, inf,
                   -inf, std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), 1.0 / 256, 1.0 / 128})
    atans.push_back(x);
  ExpectCorrectlyRounded(Fn::kAtan, atans);
  ExpectCorrectlyRounded(Fn::kSin, both);
  ExpectCorrectlyRounded(Fn::kCos, both);
  // Signed zeros, and NaN in, NaN out.
  EXPECT_TRUE(std::signbit(chain::Atan(-0.0)) && std::signbit(chain::Sin(-0.0)));
  EXPECT_EQ(chain::Atan(inf), M_PI_2);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(chain::Atan(nan)) && std::isnan(chain::Sin(nan)) &&
              std::isnan(chain::Cos(nan)));
}

TEST(Maths, SineAndCosineOutsideTheirDomainAreNaNWithAnInvalidOperation) {
  for (double x : {std::nextafter(chain::kSinCosLimit, 9.0), -9.0, 1e6, 1e300,
                   std::numeric_limits<double>::infinity()}) {
    std::feclearexcept(FE_ALL_EXCEPT);
    double s = 0.0, c = 0.0;
    chain::SinCos(x, s, c);
    EXPECT_TRUE(std::isnan(s) && std::isnan(c) && std::isnan(chain::Sin(x)) &&
                std::isnan(chain::Cos(x)))
        << Hex(x);
    EXPECT_TRUE(std::fetestexcept(FE_INVALID)) << Hex(x);
  }
}

TEST(Maths, SinCosGivesWhatSinAndCosGive) {
  for (double x : Sample(Fn::kSin, 100000, 7)) {
    double s = 0.0, c = 0.0;
    chain::SinCos(x, s, c);
    ASSERT_TRUE(SameBits(s, chain::Sin(x)) && SameBits(c, chain::Cos(x))) << Hex(x);
  }
}

// The hardest arguments the sweep found among the chain's own angles and
// quotients (tools/maths_sweep), one "function argument" a line, arguments
// in hexadecimal: each is close to a midpoint between two doubles, where a
// quick evaluation cannot decide.
TEST(Maths, TheHardestKnownArgumentsAreCorrectlyRounded) {
  std::ifstream in(CHAIN_MATHS_HARD_CASES);
  ASSERT_TRUE(in) << "cannot read " << CHAIN_MATHS_HARD_CASES;
  std::vector<double> xs[3];
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, arg;
    fields >> name >> arg;
    const int f = name == "atan" ? 0 : name == "sin" ? 1 : 2;
    xs[f].push_back(std::strtod(arg.c_str(), nullptr));
  }
  for (int f = 0; f < 3; ++f) {
    EXPECT_FALSE(xs[f].empty());
    ExpectCorrectlyRounded(static_cast<Fn>(f), xs[f]);
  }
}

// ---- the two paths ------------------------------------------------------------

// |value - exact(f, x)| in a high precision, as a double.
double ErrorOf(Fn f, double x, const Double3& value) {
  return Mpfr().ErrorOf(static_cast<int>(f), x, value.hi, value.mid, value.lo);
}

// Every undecided case goes to the precise path, so a bound that is too
// small is the one way to a wrong result: check it has room to spare.
TEST(Maths, TheQuickPathStaysWithinTheBoundItsRoundingTestTrusts) {
  for (Fn f : {Fn::kAtan, Fn::kSin, Fn::kCos}) {
    double worst = 0.0;
    int undecided = 0;
    const std::vector<double> xs = Sample(f, 200000, 21);
    for (double x : xs) {
      const paths::Quick q = f == Fn::kAtan  ? paths::AtanQuick(x)
                             : f == Fn::kSin ? paths::SinQuick(x)
                                             : paths::CosQuick(x);
      if (q.bound == 0.0) continue;  // special arguments, exact by construction
      undecided += !q.decided;
      worst = std::fmax(worst, ErrorOf(f, x, {q.hi, q.lo, 0.0}) / q.bound);
    }
    EXPECT_LT(worst, 0.6) << Name(f) << ": error up to " << worst << " of the bound";
    // About one argument in several thousand is left to the precise path.
    EXPECT_LT(undecided, static_cast<int>(xs.size() / 1000)) << Name(f);
  }
}

TEST(Maths, ThePrecisePathIsGoodTo2ToTheMinus130) {
  for (Fn f : {Fn::kAtan, Fn::kSin, Fn::kCos}) {
    for (double x : Sample(f, 20000, 3)) {
      const double ax = std::fabs(x);
      if (ax < 0x1p-27 || !(ax < (f == Fn::kAtan ? 0x1p53 : 8.0))) continue;
      const Double3 v = f == Fn::kAtan  ? paths::AtanPrecise(x)
                        : f == Fn::kSin ? paths::SinPrecise(x)
                                        : paths::CosPrecise(x);
      ASSERT_LE(ErrorOf(f, x, v), std::ldexp(std::fabs(v.hi), -130)) << Name(f) << " " << Hex(x);
      ASSERT_TRUE(SameBits(chain::expansion::RoundToNearest(v), Reference(f, x)))
          << Name(f) << " " << Hex(x);
    }
  }
}

TEST(Maths, RoundingASumOfThreeDoublesDecidesMidpointsByTheLowerParts) {
  using chain::expansion::RoundToNearest;
  const double one = 1.0, half = 0x1p-53;            // half a unit in the last place of 1
  EXPECT_EQ(RoundToNearest({one, half, 0.0}), one);  // a tie: to even
  EXPECT_EQ(RoundToNearest({one, half, 0x1p-120}), one + 2 * half);
  EXPECT_EQ(RoundToNearest({one, half, -0x1p-120}), one);
  const double odd = 1.0 + 0x1p-52;
  EXPECT_EQ(RoundToNearest({odd, half, 0.0}), odd + 2 * half);  // a tie: to even
  EXPECT_EQ(RoundToNearest({odd, -half, 0x1p-120}), odd);
  EXPECT_EQ(RoundToNearest({odd, -half, -0x1p-120}), odd - 2 * half);
  // Below a power of two the spacing halves.
  EXPECT_EQ(RoundToNearest({one, -half / 2, -0x1p-120}), std::nextafter(one, 0.0));
  EXPECT_EQ(RoundToNearest({-one, -half, -0x1p-120}), -one - 2 * half);
}

}  // namespace
