// Long runs, for CI and by hand.
//   soak steps N SEED   N frame steps along a seeded random mouse path; the
//                       chain's invariants are checked after every step
//   soak window N       N frames of the headless window with the pointer
//                       moving; its resident memory must stay flat
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "chain_invariants.hpp"
#include "form1.hpp"
#include "headless.hpp"
#include "proc.hpp"

namespace {

int Steps(long count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<float> wobble(-12.0f, 12.0f);
  std::uniform_real_distribution<float> anywhere(-1e9f, 1e9f);
  std::uniform_int_distribution<int> dice(0, 3999);
  chain::ChainPoints points{};
  chain::PinAnchor(points);
  float x = 150.0f, y = 110.0f;
  double farthest = 0.0;  // the longest link seen, squared, for the report
  for (long frame = 0; frame < count; ++frame) {
    // Mostly a hand on a mouse, sometimes a leap anywhere, sometimes home.
    const int roll = dice(random);
    if (roll == 0) {
      x = anywhere(random);
      y = anywhere(random);
    } else if (roll == 1) {
      x = 150.0f;
      y = 110.0f;
    } else {
      x = std::fmin(std::fmax(x + wobble(random), -2000.0f), 2000.0f);
      y = std::fmin(std::fmax(y + wobble(random), -2000.0f), 2000.0f);
    }
    int link = 0;
    if (const char* broken = invariants::StepAndCheck(points, x, y, link)) {
      std::fprintf(stderr, "soak: %s at step %ld, link %d\n", broken, frame, link);
      return 1;
    }
    if (std::fabs(x) < 5000.0f)
      for (int n = 1; n < chain::kAnchor; ++n)
        farthest = std::fmax(farthest, invariants::SquaredGap(points[n], points[n + 1]));
  }
  std::printf(
      "soak: %ld steps (seed %u): no fault, anchor fixed, all finite; "
      "longest free link near the window %.6f px\n",
      count, seed, std::sqrt(farthest));
  return 0;
}

int Window(long frames) {
  UseNullDisplay();
  Headless run;
  app::Form1& form = run.form;
  const long warmUp = frames / 10;
  long first = proc::ResidentKiB(), highest = 0;  // once first: the reading's own pages are in
  for (long i = 0; i < frames; ++i) {
    form.Window().PostMouseMove(static_cast<int>(60 + (i * 7) % 450),
                                static_cast<int>(40 + (i * 3) % 350));
    form.RunFrame();
    if (i == warmUp) first = highest = proc::ResidentKiB();
    if (i > warmUp && i % 1000 == 0) highest = std::max(highest, proc::ResidentKiB());
  }
  const long growth = highest - first;
  std::printf(
      "soak: %ld window frames: resident %ld KiB after warm-up, at most %ld KiB after (+%ld KiB)\n",
      frames, first, highest, growth);
  if (growth > 64) {
    std::fprintf(stderr, "soak: resident memory grew by %ld KiB\n", growth);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "steps") == 0)
      return Steps(std::atol(argv[2]), static_cast<unsigned>(std::atol(argv[3])));
    if (argc == 3 && std::strcmp(argv[1], "window") == 0) return Window(std::atol(argv[2]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "soak: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: soak steps N SEED | soak window N\n");
  return 2;
}
