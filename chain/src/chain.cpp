#include "chain/chain.hpp"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>

#include "chain/maths.hpp"

namespace chain {
namespace {

// The square used for every distance: the exactly rounded product, which is
// what a correct power function returns for an exponent of 2. Writing it as a
// product keeps the result independent of the libm's pow and of whether the
// compiler rewrites pow(x, 2) itself.
double Square(double value) { return value * value; }

}  // namespace

float HeadingAngle(float DX, float DY) {
  // Near-horizontal vectors get an exact quarter turn; this also keeps the
  // quotient below from dividing by anything smaller than kNearZero.
  if (std::fabs(DY) < kNearZero) {
    if (std::fabs(DX) < kNearZero) return 0.0f;
    const float quarterTurn = kHalfTurn / 2.0f;
    return DX > 0.0f ? quarterTurn : -quarterTurn;
  }
  const float R = static_cast<float>(Atan(static_cast<double>(DX) / static_cast<double>(DY)));
  if (DY >= 0.0f) return R;
  // Pointing up the window: the arctangent answers for the opposite
  // direction, so turn it by half a turn (DX = 0 turns the positive way).
  return DX >= 0.0f ? R + kHalfTurn : R - kHalfTurn;
}

void ConstrainLink(float& X, float& Y, float& Angle, const float& Length, const float& AnchorX,
                   const float& AnchorY) {
  const float DX = X - AnchorX;
  const float DY = Y - AnchorY;
  Angle = HeadingAngle(DX, DY);
  if (Angle < 0.0f) Angle = Angle + kFullTurn;

  // The distance test takes the differences afresh in double precision, Y
  // first; only the sums are rounded to float.
  const float D2 =
      static_cast<float>(Square(static_cast<double>(Y) - static_cast<double>(AnchorY)) +
                         Square(static_cast<double>(X) - static_cast<double>(AnchorX)));
  const float L2 = static_cast<float>(Square(Length));
  if (L2 >= D2) return;  // within reach, including exactly at Length

  // The inputs are read before X is written, so X's new value can never leak
  // into Y's (and the sine and cosine of one angle can be taken together).
  const double length = Length;
  const double anchorY = AnchorY;
  double sine = 0.0, cosine = 0.0;
  SinCos(Angle, sine, cosine);
  X = static_cast<float>(length * sine + static_cast<double>(AnchorX));
  Y = static_cast<float>(length * cosine + anchorY);
}

void PinAnchor(ChainPoints& Points) { Points[kAnchor] = {kAnchorX, kAnchorY}; }

void StepChain(ChainPoints& Points, float MouseX, float MouseY) {
  // Each link is worked on in locals and written back once; `previous` is
  // the neighbour it is kept to, as already moved in this pass. Every call
  // gets a fresh scratch angle (written by ConstrainLink, not needed here)
  // and a fresh length.

  // Forward: each free link falls, then is pulled toward the link before it
  // (link 1 toward last frame's head).
  LinkPoint previous = Points[kHead];
  for (int i = 1; i < kAnchor; ++i) {
    LinkPoint link = Points[i];
    link.Y = link.Y + kGravity;
    float angle = 0.0f;
    const float length = kLinkLength;
    ConstrainLink(link.X, link.Y, angle, length, previous.X, previous.Y);
    Points[i] = link;
    previous = link;
  }
  // Backward: settle every free link from the anchor down, so each ends
  // within reach of its final upper neighbour.
  previous = Points[kAnchor];
  for (int n = kAnchor - 1; n >= 1; --n) {
    LinkPoint link = Points[n];
    float angle = 0.0f;
    const float length = kLinkLength;
    ConstrainLink(link.X, link.Y, angle, length, previous.X, previous.Y);
    Points[n] = link;
    previous = link;
  }
  // The head moves last, so the links follow the mouse one frame later.
  Points[kHead] = {MouseX, MouseY};
}

namespace {

// The floating-point status. On x86-64 and AArch64 it is the processor's
// own register (MXCSR, FPSR), read and cleared directly: the C library keeps
// fetestexcept and feclearexcept in its maths library, which the program
// would otherwise load, at about 300 KiB of resident memory, for nothing
// else. Other processors go through <cfenv>. WebAssembly has no status at
// all: there a step is judged by its results, a non-finite coordinate
// standing for the fault that made it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
constexpr bool kHasFloatStatus = true;
constexpr unsigned kInvalidFlag = 0x01, kZeroDivideFlag = 0x04, kOverflowFlag = 0x08;
constexpr unsigned kEveryFlag = 0x3F;  // with denormal, underflow and inexact
unsigned ReadFloatStatus() { return __builtin_ia32_stmxcsr(); }
void ClearFloatStatus() { __builtin_ia32_ldmxcsr(__builtin_ia32_stmxcsr() & ~kEveryFlag); }
#elif defined(__aarch64__) && defined(__GNUC__) && !defined(__clang__)
constexpr bool kHasFloatStatus = true;
constexpr unsigned kInvalidFlag = 0x01, kZeroDivideFlag = 0x02, kOverflowFlag = 0x04;
constexpr unsigned kEveryFlag = 0x9F;  // with underflow, inexact and denormal input
unsigned ReadFloatStatus() { return __builtin_aarch64_get_fpsr(); }
void ClearFloatStatus() { __builtin_aarch64_set_fpsr(__builtin_aarch64_get_fpsr() & ~kEveryFlag); }
#elif defined(FE_INVALID) && defined(FE_DIVBYZERO) && defined(FE_OVERFLOW)
constexpr bool kHasFloatStatus = true;
constexpr unsigned kInvalidFlag = FE_INVALID, kZeroDivideFlag = FE_DIVBYZERO,
                   kOverflowFlag = FE_OVERFLOW;
unsigned ReadFloatStatus() {
  return static_cast<unsigned>(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW));
}
void ClearFloatStatus() { std::feclearexcept(FE_ALL_EXCEPT); }
#else
constexpr bool kHasFloatStatus = false;
constexpr unsigned kInvalidFlag = 0, kZeroDivideFlag = 0, kOverflowFlag = 0;
unsigned ReadFloatStatus() { return 0; }
void ClearFloatStatus() {}
#endif

}  // namespace

unsigned TakeFloatFaults() {
  const unsigned raised = ReadFloatStatus();
  ClearFloatStatus();
  unsigned faults = kNoFault;
  if (raised & kInvalidFlag) faults |= kInvalidOperation;
  if (raised & kZeroDivideFlag) faults |= kDivisionByZero;
  if (raised & kOverflowFlag) faults |= kOverflow;
  return faults;
}

unsigned StepChainChecked(ChainPoints& Points, float MouseX, float MouseY) {
  ClearFloatStatus();
  StepChain(Points, MouseX, MouseY);
  unsigned faults = TakeFloatFaults();
  if (!kHasFloatStatus) {
    for (const LinkPoint& p : Points) {
      for (const float v : {p.X, p.Y}) {
        if (std::isnan(v)) faults |= kInvalidOperation;
        if (std::isinf(v)) faults |= kOverflow;
      }
    }
  }
  return faults;
}

const char* DescribeFloatFaults(unsigned faults) {
  static const char* const kNames[8] = {
      "",
      "invalid operation",
      "division by zero",
      "invalid operation, division by zero",
      "overflow",
      "invalid operation, overflow",
      "division by zero, overflow",
      "invalid operation, division by zero, overflow",
  };
  return kNames[faults & 7u];
}

namespace {
// Bit for bit: a rest decided on -0 == 0 or on a NaN would be wrong.
template <typename T>
bool SameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
}  // namespace

// A cycle of period p closes when a step ends on the points that step p
// steps back began from, the mouse the same over all p steps: the points
// then run through the same p states again and again. (A comparison that
// is no such return stops at the first links, which differ.)
void RestWatch::Record(const ChainPoints& before, const ChainPoints& after, float MouseX,
                       float MouseY) {
  const float mouse[2] = {MouseX, MouseY};
  steady_ = steady_ > 0 && SameBits(mouse, mouse_) ? std::min(steady_ + 1, kLongestCycle) : 1;
  mouse_[0] = MouseX;
  mouse_[1] = MouseY;
  last_ = (last_ + 1) % kLongestCycle;
  before_[static_cast<std::size_t>(last_)] = before;
  cycled_ = false;
  for (int period = 1; period <= steady_ && !cycled_; ++period)
    cycled_ = SameBits(
        before_[static_cast<std::size_t>((last_ - period + 1 + kLongestCycle) % kLongestCycle)],
        after);
}

bool RestWatch::AtRest(float MouseX, float MouseY) const {
  const float next[2] = {MouseX, MouseY};
  return cycled_ && SameBits(next, mouse_);
}

}  // namespace chain
