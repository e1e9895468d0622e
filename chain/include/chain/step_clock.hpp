// The chain's own time: it steps a fixed number of times per second of real
// time, whatever the display's refresh rate, so that it falls and swings at
// the same speed on a 30, 60, 144 or 240 Hz display. Each frame asks how many
// steps its time calls for: none, one or a few.
#pragma once

#include <cstdint>

namespace chain {

/// Steps per second of real time.
inline constexpr int kStepsPerSecond = 60;
/// The most steps one frame catches up after a stall (a dragged window, a
/// suspended laptop, a hidden tab); the rest of the lost time is dropped.
inline constexpr int kMaxCatchUpSteps = 4;
/// A step falls due this much early: display timestamps jitter by a
/// fraction of a millisecond, and a frame that comes a hair before its step
/// would otherwise show nothing new and double up on the next.
inline constexpr double kStepToleranceMs = 1.0;

class StepClock {
 public:
  /// Milliseconds between steps.
  static constexpr double kStepMs = 1000.0 / kStepsPerSecond;

  /// The steps a frame at `nowMs` (any clock that counts milliseconds) runs.
  /// The first frame after a start or a Restart runs one at once and the
  /// clock counts from it; a clock that went backwards starts again too.
  int Due(double nowMs) {
    if (!started_ || !(nowMs >= base_)) {
      Start(nowMs);
      return 1;
    }
    int steps = 0;
    while (nowMs >= base_ + static_cast<double>(count_) * kStepMs - kStepToleranceMs) {
      if (steps == kMaxCatchUpSteps) {
        Start(nowMs);
        return steps;
      }
      ++count_;
      ++steps;
    }
    return steps;
  }
  /// After a rest: the next frame steps at once, whatever time passed.
  void Restart() { started_ = false; }

 private:
  // Step n (counted from the start) falls due at base_ + n * kStepMs, each
  // computed afresh rather than summed, so no rounding error builds up.
  void Start(double nowMs) {
    started_ = true;
    base_ = nowMs;
    count_ = 1;
  }
  bool started_ = false;
  double base_ = 0.0;
  std::int64_t count_ = 0;
};

}  // namespace chain
