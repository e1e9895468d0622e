// The same motion on every display: on the null backend, whose display
// refreshes at the rate the test sets on the test's own clock, the chain
// takes 60 steps a second and shows the same pictures at the same times at
// every refresh rate, catches up a stall by a few steps only, and answers
// the first move after a rest in the very next frame.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "form1.hpp"
#include "headless.hpp"

namespace {

using app::Form1;
using window::testing::NullAdvance;
using window::testing::NullClock;
using window::testing::TheNullDisplay;

struct Motion {
  std::vector<std::uint64_t> pictures;  // shown at 1, 2, ... 10 s
  std::uint64_t steps = 0, presents = 0, frames = 0;
};

// Ten seconds of a pointer that jumps every 200 ms (a time on which a
// refresh falls at every rate but 144 Hz, whose refreshes come often enough
// not to matter), as the program's frame loop runs them: frames at the
// display's refreshes, and a sleep at rest until the next move.
Motion RunFor(double hz, std::function<double(std::uint64_t)> jitter = {}) {
  UseNullDisplay();
  TheNullDisplay().RefreshHz = hz;
  TheNullDisplay().Jitter = std::move(jitter);
  Headless run;
  Form1& form = run.form;
  Motion seen;
  int move = 0;
  const auto at = [](int m) { return 200.0 * m; };
  while (seen.pictures.size() < 10) {
    const double now = NullClock();
    // The picture on the screen at each whole second passed: the last one
    // presented by a frame at or before it.
    while (seen.pictures.size() < 10 && 1000.0 * (seen.pictures.size() + 1) < now)
      seen.pictures.push_back(Fingerprint(form));
    if (at(move) <= now) {
      const double angle = move * 2.4;  // about 137 degrees a move: never the same place
      form.Window().PostMouseMove(static_cast<int>(280 + 200 * std::cos(angle)),
                                  static_cast<int>(200 + 150 * std::sin(angle)));
      ++move;
    }
    if (form.AtRest()) {  // sleep until the next move
      NullAdvance(at(move) - now);
      continue;
    }
    form.RunFrame();
    ++seen.frames;
  }
  seen.steps = form.Steps();
  seen.presents = form.Window().Presents();
  return seen;
}

TEST(Motion, TheSamePicturesAtTheSameTimesAtEveryRefreshRate) {
  const Motion reference = RunFor(60.0);
  EXPECT_NEAR(static_cast<double>(reference.steps), 600.0, 3.0);
  EXPECT_NE(reference.pictures.front(), reference.pictures.back()) << "the chain never moved";
  for (double hz : {30.0, 50.0, 75.0, 120.0, 144.0, 240.0}) {
    const Motion seen = RunFor(hz);
    EXPECT_EQ(seen.pictures, reference.pictures) << hz << " Hz";
    EXPECT_NEAR(static_cast<double>(seen.steps), static_cast<double>(reference.steps), 1.0)
        << hz << " Hz";
    // A frame in which no step runs shows nothing new.
    EXPECT_LE(seen.presents, seen.steps + 1) << hz << " Hz";
    EXPECT_GE(static_cast<double>(seen.frames), std::min(hz, 60.0) * 10 * 0.9) << hz << " Hz";
  }
}

TEST(Motion, AJitteringDisplayStillSteps60TimesASecond) {
  for (double hz : {60.0, 144.0}) {
    // Each refresh up to 2 ms early or late, the same way every run.
    const Motion seen = RunFor(hz, [](std::uint64_t n) { return std::sin(n * 12.9898) * 2.0; });
    EXPECT_NEAR(static_cast<double>(seen.steps), static_cast<double>(RunFor(60.0).steps), 1.0)
        << hz << " Hz";
  }
}

// A moving chain on a 60 Hz display, and the steps each frame takes.
struct Moving : Headless {
  Moving() { Move(500, 40); }
  std::uint64_t Frame() {
    const std::uint64_t before = form.Steps();
    form.RunFrame();
    return form.Steps() - before;
  }
};

TEST(Motion, AStallCatchesUpAFewStepsThenGoesOnAt60ASecond) {
  Moving m;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(m.Frame(), 1u);
  NullAdvance(2000.0);  // a dragged window, a suspended laptop
  EXPECT_EQ(m.Frame(), static_cast<std::uint64_t>(chain::kMaxCatchUpSteps));
  std::uint64_t steps = 0;
  for (int i = 0; i < 60; ++i) steps += m.Frame();
  EXPECT_EQ(steps, 60u);
}

TEST(Motion, TheFirstMoveAfterARestStepsInTheNextFrame) {
  for (double hz : {60.0, 240.0}) {
    UseNullDisplay();
    TheNullDisplay().RefreshHz = hz;
    Moving m;
    while (!m.form.AtRest()) m.Frame();
    NullAdvance(5000.0);  // long at rest: no frames meanwhile
    const std::uint64_t presents = m.form.Window().Presents();
    m.form.Window().PostMouseMove(100, 100);
    m.form.Window().WaitEvents();
    EXPECT_EQ(m.Frame(), 1u) << hz << " Hz";
    EXPECT_EQ(m.form.Window().Presents(), presents + 1) << hz << " Hz";
  }
  UseNullDisplay();
}

}  // namespace
