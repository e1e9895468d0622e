#include "chain/chain.hpp"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

#include "chain/maths.hpp"
#include "chain_invariants.hpp"

namespace {

using chain::ChainPoints;
using chain::ConstrainLink;
using chain::HeadingAngle;
using chain::kAnchor;
using chain::StepChain;

const float kQuarterTurn = chain::kHalfTurn / 2.0f;

float Distance(const chain::LinkPoint& a, const chain::LinkPoint& b) {
  return static_cast<float>(
      std::hypot(static_cast<double>(a.X) - b.X, static_cast<double>(a.Y) - b.Y));
}

ChainPoints PinnedChain() {
  ChainPoints points{};
  chain::PinAnchor(points);
  return points;
}

ChainPoints RunStill(float mouseX, float mouseY, int frames) {
  ChainPoints points = PinnedChain();
  for (int i = 0; i < frames; ++i) StepChain(points, mouseX, mouseY);
  return points;
}

// ---- HeadingAngle -----------------------------------------------------------

TEST(HeadingAngle, VectorsShorterThanTheThresholdPointDown) {
  EXPECT_EQ(HeadingAngle(0.0f, 0.0f), 0.0f);
  EXPECT_EQ(HeadingAngle(1e-8f, 1e-8f), 0.0f);
  const float justBelow = std::nextafter(chain::kNearZero, 0.0f);
  EXPECT_EQ(HeadingAngle(justBelow, -justBelow), 0.0f);
}

TEST(HeadingAngle, NearHorizontalVectorsGetExactQuarterTurns) {
  EXPECT_EQ(kQuarterTurn, 1.570795f);
  EXPECT_EQ(HeadingAngle(5.0f, 0.0f), kQuarterTurn);
  EXPECT_EQ(HeadingAngle(-5.0f, 0.0f), -kQuarterTurn);
  // The quarter turn wins even where the arctangent would say otherwise.
  EXPECT_EQ(HeadingAngle(2e-7f, 5e-8f), kQuarterTurn);
  EXPECT_EQ(HeadingAngle(-2e-7f, 5e-8f), -kQuarterTurn);
  // DX exactly at the threshold is no longer "zero".
  EXPECT_EQ(HeadingAngle(chain::kNearZero, 0.0f), kQuarterTurn);
}

TEST(HeadingAngle, DyAtTheThresholdUsesTheArctangent) {
  EXPECT_FLOAT_EQ(HeadingAngle(2e-7f, chain::kNearZero), static_cast<float>(chain::Atan(2.0)));
}

TEST(HeadingAngle, EachQuadrantMeasuresFromDownTowardRight) {
  EXPECT_EQ(HeadingAngle(0.0f, 5.0f), 0.0f);
  EXPECT_EQ(HeadingAngle(0.0f, -5.0f), chain::kHalfTurn);  // DX = 0 turns the positive way
  EXPECT_NEAR(HeadingAngle(5.0f, 5.0f), 0.785398f, 1e-6f);
  EXPECT_NEAR(HeadingAngle(-5.0f, 5.0f), -0.785398f, 1e-6f);
  EXPECT_NEAR(HeadingAngle(5.0f, -5.0f), 2.356192f, 1e-6f);
  EXPECT_NEAR(HeadingAngle(-5.0f, -5.0f), -2.356192f, 1e-6f);
}

// ---- ConstrainLink ----------------------------------------------------------

struct Constrained {
  float X, Y, Angle;
};

Constrained Constrain(float x, float y, float anchorX = 0.0f, float anchorY = 0.0f) {
  float angle = 123.0f;  // must be overwritten
  const float length = 10.0f;
  ConstrainLink(x, y, angle, length, anchorX, anchorY);
  return {x, y, angle};
}

TEST(ConstrainLink, PointsWithinReachStayButGetTheirHeading) {
  const Constrained onAnchor = Constrain(0.0f, 0.0f);
  EXPECT_EQ(onAnchor.X, 0.0f);
  EXPECT_EQ(onAnchor.Y, 0.0f);
  EXPECT_EQ(onAnchor.Angle, 0.0f);

  const Constrained near = Constrain(3.0f, 4.0f);
  EXPECT_EQ(near.X, 3.0f);
  EXPECT_EQ(near.Y, 4.0f);
  EXPECT_NEAR(near.Angle, 0.643501f, 1e-6f);

  // Exactly at the link length counts as within reach.
  const Constrained atLength = Constrain(6.0f, 8.0f);
  EXPECT_EQ(atLength.X, 6.0f);
  EXPECT_EQ(atLength.Y, 8.0f);
  EXPECT_NEAR(atLength.Angle, 0.643501f, 1e-6f);
}

TEST(ConstrainLink, PointsBeyondReachArePulledOntoTheCircle) {
  const Constrained below = Constrain(0.0f, 20.0f);
  EXPECT_EQ(below.X, 0.0f);
  EXPECT_EQ(below.Y, 10.0f);
  EXPECT_EQ(below.Angle, 0.0f);

  const Constrained right = Constrain(20.0f, 0.0f);
  EXPECT_EQ(right.Angle, kQuarterTurn);
  EXPECT_EQ(right.X, 10.0f);
  EXPECT_NEAR(right.Y, 1.3e-5f, 1e-6f);

  // A negative heading is turned into [0, full turn).
  const Constrained left = Constrain(-20.0f, 0.0f);
  EXPECT_EQ(left.Angle, -kQuarterTurn + chain::kFullTurn);
  EXPECT_NEAR(left.Angle, 4.712385f, 1e-6f);
  EXPECT_EQ(left.X, -10.0f);
  EXPECT_NEAR(left.Y, -3.8e-5f, 1e-6f);

  // The approximate half turn leaves a point above its anchor slightly right.
  const Constrained above = Constrain(0.0f, -20.0f);
  EXPECT_EQ(above.Angle, chain::kHalfTurn);
  EXPECT_NEAR(above.X, 2.5e-5f, 1e-6f);
  EXPECT_EQ(above.Y, -10.0f);
}

TEST(ConstrainLink, PullsTowardAnAnchorAwayFromTheOrigin) {
  const Constrained p = Constrain(280.0f + 30.0f, 300.0f + 40.0f, 280.0f, 300.0f);
  EXPECT_NEAR(p.X, 286.0f, 1e-4f);
  EXPECT_NEAR(p.Y, 308.0f, 1e-4f);
}

// ---- StepChain --------------------------------------------------------------

TEST(StepChain, FirstFrameLaysTheChainOutFromTheAnchor) {
  ChainPoints points = PinnedChain();
  StepChain(points, 0.0f, 0.0f);
  EXPECT_EQ(points[0], (chain::LinkPoint{0.0f, 0.0f}));
  EXPECT_EQ(points[kAnchor], (chain::LinkPoint{280.0f, 300.0f}));
  const struct {
    int index;
    float x, y;
  } expected[] = {
      {39, 273.15f, 292.71f}, {38, 266.30f, 285.42f}, {20, 143.05f, 154.24f}, {1, 12.95f, 15.78f}};
  for (const auto& e : expected) {
    EXPECT_NEAR(points[e.index].X, e.x, 0.01f) << "link " << e.index;
    EXPECT_NEAR(points[e.index].Y, e.y, 0.01f) << "link " << e.index;
  }
  for (int n = 1; n < kAnchor; ++n) EXPECT_NEAR(Distance(points[n], points[n + 1]), 10.0f, 1e-4f);
}

TEST(StepChain, SettlesWithOnlyTheHeadSegmentStretched) {
  const struct {
    float x, y, headSegment;
  } cases[] = {{100.0f, 100.0f, 16.6f}, {0.0f, 0.0f, 31.2f}};
  for (const auto& c : cases) {
    ChainPoints points = RunStill(c.x, c.y, 3000);
    EXPECT_NEAR(Distance(points[0], points[1]), c.headSegment, 0.1f) << c.x << "," << c.y;
    for (int n = 1; n < kAnchor; ++n) EXPECT_LE(Distance(points[n], points[n + 1]), 10.0001f);
    // At rest the chain is a fixed point: another frame changes no bit.
    const ChainPoints before = points;
    StepChain(points, c.x, c.y);
    EXPECT_EQ(points, before);
  }
}

TEST(StepChain, HeldOnTheAnchorTheChainFoldsInTwoBelowIt) {
  const ChainPoints points = RunStill(280.0f, 300.0f, 3000);
  EXPECT_NEAR(points[1].X, 280.0f, 0.01f);
  EXPECT_NEAR(points[1].Y, 310.0f, 0.01f);
  EXPECT_NEAR(points[39].X, 280.0f, 0.01f);
  EXPECT_NEAR(points[39].Y, 310.0f, 0.01f);
  EXPECT_NEAR(points[20].X, 280.0f, 0.01f);
  EXPECT_NEAR(points[20].Y, 500.0f, 0.01f);
}

TEST(StepChain, TheLinksFollowTheMouseOneFrameLate) {
  ChainPoints moved = RunStill(100.0f, 100.0f, 50);
  ChainPoints still = moved;
  StepChain(moved, 400.0f, 50.0f);
  StepChain(still, 100.0f, 100.0f);
  EXPECT_EQ(moved[0], (chain::LinkPoint{400.0f, 50.0f}));
  for (int i = 1; i <= kAnchor; ++i) EXPECT_EQ(moved[i], still[i]) << "link " << i;
  // The next frame pulls link 1 toward the new head.
  StepChain(moved, 400.0f, 50.0f);
  EXPECT_GT(moved[1].X, still[1].X);
}

TEST(StepChain, RandomPathsKeepTheInvariants) {
  std::mt19937 random(20261207);
  std::uniform_real_distribution<float> onScreen(-100.0f, 700.0f);
  std::uniform_real_distribution<float> far(-1e9f, 1e9f);
  ChainPoints points = PinnedChain();
  for (int frame = 0; frame < 20000; ++frame) {
    const bool jump = frame % 500 == 499;
    const float x = jump ? far(random) : onScreen(random);
    const float y = jump ? far(random) : onScreen(random);
    int link = 0;
    const char* broken = invariants::StepAndCheck(points, x, y, link);
    ASSERT_EQ(broken, nullptr) << broken << ": frame " << frame << ", link " << link;
  }
}

#if defined(FE_INVALID) && defined(FE_DIVBYZERO) && defined(FE_OVERFLOW)
// IEEE 754's flags, the same under every compiler: a quiet NaN passes
// through silently; an argument outside the domain is an invalid operation.
TEST(Maths, RaiseTheInvalidOperationOnlyOutsideTheirDomain) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double (*f)(double);
    double x;
    bool invalid;
  } cases[] = {{chain::Atan, nan, false},  {chain::Sin, nan, false},  {chain::Cos, nan, false},
               {chain::Atan, -nan, false}, {chain::Atan, inf, false}, {chain::Sin, inf, true},
               {chain::Cos, -9.0, true}};
  for (const auto& c : cases) {
    std::feclearexcept(FE_ALL_EXCEPT);
    const volatile double y = c.f(c.x);
    EXPECT_EQ(std::fetestexcept(FE_INVALID) != 0, c.invalid) << c.x << " gave " << y;
  }
  double sine = 0.0, cosine = 0.0;
  std::feclearexcept(FE_ALL_EXCEPT);
  chain::SinCos(nan, sine, cosine);
  EXPECT_FALSE(std::fetestexcept(FE_INVALID));
  EXPECT_TRUE(std::isnan(sine) && std::isnan(cosine));
}

TEST(StepChainChecked, ReportsEachFaultAloneWithItsName) {
  ChainPoints points = PinnedChain();
  // A head at the edge of float range: its squared distance overflows.
  EXPECT_EQ(chain::StepChainChecked(points, 3e38f, 3e38f), chain::kNoFault);
  EXPECT_EQ(chain::StepChainChecked(points, 3e38f, 3e38f), chain::kOverflow);
  // Each fault is raised by arithmetic, as a step would raise it (a library's
  // feraiseexcept may set another unit's flags than the ones a step sets).
  volatile double zero = 0.0, one = 1.0, huge = 1e308, tiny = 1e-308, sink = 0.0;
  // Flags raised before a step do not count against it.
  points = PinnedChain();
  sink = one / zero + zero / zero;
  EXPECT_EQ(chain::StepChainChecked(points, 10.0f, 10.0f), chain::kNoFault);

  const auto expect = [](unsigned fault, const char* name) {
    EXPECT_EQ(chain::TakeFloatFaults(), fault) << name;
    EXPECT_EQ(chain::TakeFloatFaults(), chain::kNoFault) << "taking clears " << name;
    EXPECT_STREQ(chain::DescribeFloatFaults(fault), name);
  };
  sink = zero / zero;
  expect(chain::kInvalidOperation, "invalid operation");
  sink = one / zero;
  expect(chain::kDivisionByZero, "division by zero");
  sink = huge * huge;
  expect(chain::kOverflow, "overflow");
  sink = tiny * tiny;  // underflow and inexact are no faults
  expect(chain::kNoFault, "");
  static_cast<void>(sink);
  EXPECT_STREQ(chain::DescribeFloatFaults(chain::kInvalidOperation | chain::kOverflow),
               "invalid operation, overflow");
}
#else
// Without a floating-point status (WebAssembly) a step is judged by the
// points it leaves.
TEST(StepChainChecked, ReportsNonFiniteResultsWithoutAFloatingPointStatus) {
  ChainPoints points = PinnedChain();
  EXPECT_EQ(chain::StepChainChecked(points, 10.0f, 10.0f), chain::kNoFault);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(chain::StepChainChecked(points, nan, nan), chain::kInvalidOperation);
  points = PinnedChain();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(chain::StepChainChecked(points, inf, 0.0f), chain::kOverflow);
  EXPECT_EQ(chain::TakeFloatFaults(), chain::kNoFault);
}
#endif

// ---- RestWatch --------------------------------------------------------------

// Steps the chain with the mouse held at (x, y) until `watch` says it rests,
// 20000 steps at most: true if it came to rest.
bool StepUntilRest(ChainPoints& points, chain::RestWatch& watch, float x, float y) {
  for (int frames = 0; frames < 20000; ++frames) {
    if (watch.AtRest(x, y)) return true;
    const ChainPoints before = points;
    StepChain(points, x, y);
    watch.Record(before, points, x, y);
  }
  return false;
}

TEST(RestWatch, RestIsAStepThatRepeatsWithTheMouseUnchanged) {
  // The mouse held at (100, 100) leads to a fixed point, at (0, 54) to a
  // two-frame cycle.
  for (const float x : {100.0f, 0.0f}) {
    const float y = x == 100.0f ? 100.0f : 54.0f;
    ChainPoints points = PinnedChain();
    chain::RestWatch watch;
    ASSERT_TRUE(StepUntilRest(points, watch, x, y)) << x;
    // At rest the next two steps bring back pictures already seen.
    const ChainPoints rest = points;
    ChainPoints next = points;
    StepChain(next, x, y);
    ChainPoints after = next;
    StepChain(after, x, y);
    EXPECT_EQ(after, rest) << x;
    EXPECT_EQ(next == rest, x == 100.0f) << "the cycle's two states differ";
    // The answer right after a move is no, even a move of one bit; a move
    // back to where the mouse was is yes again.
    EXPECT_FALSE(watch.AtRest(x + 1.0f, y));
    EXPECT_FALSE(watch.AtRest(x, std::nextafter(y, 0.0f)));
    EXPECT_TRUE(watch.AtRest(x, y));
  }
}

// Places where the chain, jumped there from its rest under (0, 0) as the
// program starts, cycles for ever through 3, 4 or 8 states (found by
// trying every ninth pixel of the window): each is rest too, once the cycle
// has closed, and the steps after it bring back its pictures in turn.
TEST(RestWatch, LongerCyclesAreRestToo) {
  ChainPoints start = PinnedChain();
  chain::RestWatch first;
  ASSERT_TRUE(StepUntilRest(start, first, 0.0f, 0.0f));
  for (const auto& [x, y, period] : {std::tuple{324.0f, 45.0f, 3}, std::tuple{405.0f, 198.0f, 4},
                                     std::tuple{90.0f, 270.0f, 8}}) {
    ChainPoints points = start;
    chain::RestWatch watch;
    ASSERT_TRUE(StepUntilRest(points, watch, x, y)) << x << ", " << y << ": never at rest";
    const ChainPoints rest = points;
    for (int step = 1; step <= period; ++step) {
      StepChain(points, x, y);
      EXPECT_EQ(points == rest, step == period) << x << ", " << y << " after " << step;
    }
  }
}

TEST(RestWatch, ACycleCountsOnlyWhenTheMouseHeldForBothSteps) {
  ChainPoints a = PinnedChain(), b = a;
  b[5].X = 1.0f;
  chain::RestWatch watch;
  EXPECT_FALSE(watch.AtRest(0.0f, 0.0f));  // nothing seen yet
  watch.Record(a, b, 0.0f, 0.0f);
  watch.Record(b, a, 0.0f, 0.0f);  // back to the points of two steps before
  EXPECT_TRUE(watch.AtRest(0.0f, 0.0f));
  chain::RestWatch moved;
  moved.Record(a, b, 5.0f, 0.0f);
  moved.Record(b, a, 0.0f, 0.0f);
  EXPECT_FALSE(moved.AtRest(0.0f, 0.0f));
  moved.Record(a, a, 0.0f, 0.0f);  // a fixed point needs only its own step
  EXPECT_TRUE(moved.AtRest(0.0f, 0.0f));
  // A cycle of five, and of the longest recognised, with the mouse held
  // through every step of it, or not through the first.
  for (const int period : {5, chain::RestWatch::kLongestCycle}) {
    for (const bool heldThroughout : {true, false}) {
      chain::RestWatch watch;
      ChainPoints state = a;
      for (int step = 0; step < period; ++step) {
        ChainPoints next = a;
        next[7].Y = static_cast<float>((step + 1) % period);
        watch.Record(state, next, step == 0 && !heldThroughout ? 1.0f : 0.0f, 0.0f);
        state = next;
      }
      EXPECT_EQ(watch.AtRest(0.0f, 0.0f), heldThroughout) << period;
    }
  }
}

}  // namespace
