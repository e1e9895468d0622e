// The frame step against its floor: the standard library's atan, sin and cos
// calls that any exact implementation must make, on the same data, each
// depending on the one before (as each link depends on the one before it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "chain/chain.hpp"

namespace {

constexpr int kFrames = 1024;  // one lap of the mouse path

struct Scene {
  chain::ChainPoints start{};          // a hanging chain, the mouse moving
  std::vector<chain::LinkPoint> path;  // the mouse, frame by frame
  std::vector<double> atanArguments;   // every quotient the lap takes the arctangent of
  std::vector<double> turnAngles;      // every angle the lap takes sine and cosine of
};

// One ConstrainLink call, noting which library functions it calls with what.
void Constrain(Scene& scene, chain::LinkPoint& p, const chain::LinkPoint& anchor) {
  const float dx = p.X - anchor.X;
  const float dy = p.Y - anchor.Y;
  if (std::fabs(dy) >= chain::kNearZero)
    scene.atanArguments.push_back(static_cast<double>(dx) / static_cast<double>(dy));
  float angle = 0.0f;
  const float length = chain::kLinkLength;
  const chain::LinkPoint before = p;
  chain::ConstrainLink(p.X, p.Y, angle, length, anchor.X, anchor.Y);
  if (!(p == before)) scene.turnAngles.push_back(angle);
}

Scene MakeScene() {
  Scene scene;
  chain::PinAnchor(scene.start);
  for (int i = 0; i < 600; ++i) chain::StepChain(scene.start, 150.0f, 110.0f);  // hanging
  for (int i = 0; i < kFrames; ++i) {
    const double t = 2.0 * 3.141592653589793 * i / kFrames;
    scene.path.push_back({static_cast<float>(std::round(278 + 200 * std::sin(t))),
                          static_cast<float>(std::round(200 + 150 * std::sin(2 * t)))});
  }
  // Walk the lap with the public ConstrainLink, recording the maths it does,
  // and make sure the walk is the frame step itself.
  chain::ChainPoints walked = scene.start, stepped = scene.start;
  for (const chain::LinkPoint& mouse : scene.path) {
    for (int i = 1; i < chain::kAnchor; ++i) {
      walked[i].Y = walked[i].Y + chain::kGravity;
      Constrain(scene, walked[i], walked[i - 1]);
    }
    for (int n = chain::kAnchor - 1; n >= 1; --n) Constrain(scene, walked[n], walked[n + 1]);
    walked[chain::kHead] = mouse;
    chain::StepChain(stepped, mouse.X, mouse.Y);
  }
  if (std::memcmp(&walked, &stepped, sizeof walked) != 0) {
    std::fprintf(stderr, "step_bench: the recorded walk differs from the frame step\n");
    std::exit(1);
  }
  return scene;
}

const Scene& TheScene() {
  static const Scene scene = MakeScene();
  return scene;
}

void BM_StepChain(benchmark::State& state) {
  const Scene& scene = TheScene();
  for (auto _ : state) {
    chain::ChainPoints points = scene.start;
    for (const chain::LinkPoint& mouse : scene.path) chain::StepChain(points, mouse.X, mouse.Y);
    benchmark::DoNotOptimize(points);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_MathFloor(benchmark::State& state) {
  const Scene& scene = TheScene();
  for (auto _ : state) {
    double carry = 0.0;  // multiplied by zero: a dependency, not a change of value
    for (double q : scene.atanArguments) carry = std::atan(q + carry * 0.0);
    for (double a : scene.turnAngles) {
      const double angle = a + carry * 0.0;
      carry = std::sin(angle) + std::cos(angle);
    }
    benchmark::DoNotOptimize(carry);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["atan"] = static_cast<double>(scene.atanArguments.size()) / kFrames;
  state.counters["sincos"] = static_cast<double>(scene.turnAngles.size()) / kFrames;
}

BENCHMARK(BM_MathFloor)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_StepChain)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Notes the median of each benchmark and prints the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}  // plain text, no colours
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.aggregate_name == "median")
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double floor = medians_["BM_MathFloor"], step = medians_["BM_StepChain"];
    if (floor > 0 && step > 0)
      std::printf("frame step: %.2f us per frame, floor %.2f us: %.3f x the floor (goal <= 1.1)\n",
                  step / kFrames, floor / kFrames, step / floor);
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
