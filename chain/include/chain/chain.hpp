// The chain simulation: 41 points, a pinned anchor, a head that follows the
// mouse, and a frame step that pulls every free link back within reach of
// its neighbours. Knows nothing about windows.
//
// Every value is a 32-bit float and every rounding step is fixed, so the
// chain is bit-identical on every build (the project compiles with
// -ffp-contract=off and never with -ffast-math).
#pragma once

#include <array>

namespace chain {

/// One chain point, in pixels of the window's client area (X to the right,
/// Y downward, origin at the top-left corner).
struct LinkPoint {
  float X = 0.0f;
  float Y = 0.0f;

  friend bool operator==(const LinkPoint&, const LinkPoint&) = default;
};

/// Number of points in the chain: index 0 is the head that follows the mouse,
/// index 40 the pinned anchor, 1 to 39 the free links.
inline constexpr int kPointCount = 41;
/// Index of the head, which takes the mouse position at the end of each step.
inline constexpr int kHead = 0;
/// Index of the anchor, pinned at (kAnchorX, kAnchorY).
inline constexpr int kAnchor = kPointCount - 1;
/// Largest allowed distance between neighbouring links, pixels.
inline constexpr float kLinkLength = 10.0f;
/// Pixels added to each free link's Y once per frame.
inline constexpr float kGravity = 2.0f;
/// Where the anchor is pinned, pixels.
inline constexpr float kAnchorX = 280.0f;
inline constexpr float kAnchorY = 300.0f;
/// Largest magnitude of a mouse coordinate the chain is given, pixels: far
/// beyond any screen, small enough that its squares and sums stay finite.
inline constexpr float kMaxCoordinate = 1e9f;

/// The program's half and full turns: deliberately the five-decimal
/// approximations, not pi, because the chain's exact positions depend on them.
inline constexpr float kHalfTurn = 3.14159f;
inline constexpr float kFullTurn = 6.28318f;
/// Below this magnitude a difference counts as zero when taking a heading.
inline constexpr float kNearZero = 1e-7f;

/// The whole chain, indexed 0 (head) to 40 (anchor); all points start at (0, 0).
using ChainPoints = std::array<LinkPoint, kPointCount>;

/// Direction of the vector (DX, DY) in radians, measured from +Y (straight
/// down the window) toward +X; the result lies in [-kHalfTurn, kHalfTurn].
/// A vector whose |DY| is below kNearZero counts as horizontal, or as zero
/// length (angle 0) when |DX| is below it too.
float HeadingAngle(float DX, float DY);

/// Keeps the point (X, Y) within Length pixels of (AnchorX, AnchorY): a point
/// farther away is put back on the circle of that radius, on the ray from the
/// anchor through its old position; a point at that distance or nearer stays.
/// Angle always receives the heading of the point seen from the anchor,
/// normalised into [0, kFullTurn]; its value on entry is never read.
void ConstrainLink(float& X, float& Y, float& Angle, const float& Length, const float& AnchorX,
                   const float& AnchorY);

/// Pins the anchor at (kAnchorX, kAnchorY); called once before the first step.
void PinAnchor(ChainPoints& Points);

/// Advances the chain by one frame: gravity and a constraint toward the head
/// for links 1 to 39, then a constraint toward the anchor for links 39 down
/// to 1, then the head takes the mouse position. The mouse therefore reaches
/// link 1 one frame after it reaches the head. The anchor is only read.
void StepChain(ChainPoints& Points, float MouseX, float MouseY);

/// Floating-point exceptions that make a frame step's result unusable.
enum FloatFault : unsigned {
  kNoFault = 0,
  kInvalidOperation = 1u << 0,
  kDivisionByZero = 1u << 1,
  kOverflow = 1u << 2,
};

/// Reads and clears the floating-point status: the faults raised since it
/// was last cleared (kNoFault normally); underflow and inexact results are
/// not faults.
unsigned TakeFloatFaults();

/// StepChain with the floating-point status cleared before the step and
/// taken after it (TakeFloatFaults). Where there is no floating-point status
/// (WebAssembly), a NaN coordinate after the step counts as an invalid
/// operation and an infinite one as an overflow.
unsigned StepChainChecked(ChainPoints& Points, float MouseX, float MouseY);

/// A short English description of a fault mask from StepChainChecked, such as
/// "invalid operation, overflow"; empty for kNoFault.
const char* DescribeFloatFaults(unsigned faults);

/// Tells when further frames would only repeat themselves: the last step
/// brought back exactly the points of 1 to kLongestCycle steps before (1: it
/// changed no bit of any point), and the mouse has not changed over those
/// steps. Most chains come to a fixed point, which repeats one picture; a
/// few end alternating between two states 0.0002 px apart, and a few (about
/// one resting place in 200) cycle through three to eight, which repeat as
/// many pictures, forever.
class RestWatch {
 public:
  /// The longest cycle recognised, steps.
  static constexpr int kLongestCycle = 64;
  /// Records one frame step: the points before and after it and the mouse
  /// position it was given.
  void Record(const ChainPoints& before, const ChainPoints& after, float MouseX, float MouseY);
  /// True when the next step, given (MouseX, MouseY), would bring back a
  /// picture already shown.
  bool AtRest(float MouseX, float MouseY) const;

 private:
  std::array<ChainPoints, kLongestCycle> before_{};  // the points before each of the last
                                                     // steps, a ring; the last at last_
  int last_ = kLongestCycle - 1;
  float mouse_[2]{};     // the mouse of the last step
  int steady_ = 0;       // steps with that mouse, counting up to kLongestCycle
  bool cycled_ = false;  // the last step closed a cycle
};

}  // namespace chain
