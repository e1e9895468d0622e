// The frame step against its floor: the atan, sin and cos calls that any
// exact implementation must make, on the same data, each depending on the
// one before (as each link depends on the one before it). The floor is
// measured with the C library's functions and with the chain's own, and
// each of the chain's functions against the C library's on the chain's
// own arguments.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "chain/chain.hpp"
#include "chain/maths.hpp"

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

// The chained calls, with the C library's functions or the chain's own.
struct Libm {
  static double Atan(double x) { return std::atan(x); }
  static double Sin(double x) { return std::sin(x); }
  static double Cos(double x) { return std::cos(x); }
  static double Both(double x) { return std::sin(x) + std::cos(x); }  // one sincos call
};
struct Ours {
  static double Atan(double x) { return chain::Atan(x); }
  static double Sin(double x) { return chain::Sin(x); }
  static double Cos(double x) { return chain::Cos(x); }
  static double Both(double x) {
    double sine = 0.0, cosine = 0.0;
    chain::SinCos(x, sine, cosine);
    return sine + cosine;
  }
};

// Each call takes the previous result times zero: a dependency, not a change
// of value, so calls run one after another as the links do.
template <typename M>
double ChainedAtan(const Scene& scene, double carry) {
  for (double q : scene.atanArguments) carry = M::Atan(q + carry * 0.0);
  return carry;
}
template <typename M>
double ChainedSinCos(const Scene& scene, double carry) {
  for (double a : scene.turnAngles) {
    const double angle = a + carry * 0.0;
    carry = M::Sin(angle) + M::Cos(angle);
  }
  return carry;
}

template <typename M>
void BM_MathFloor(benchmark::State& state) {
  const Scene& scene = TheScene();
  for (auto _ : state)
    benchmark::DoNotOptimize(ChainedSinCos<M>(scene, ChainedAtan<M>(scene, 0.0)));
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["atan"] = static_cast<double>(scene.atanArguments.size()) / kFrames;
  state.counters["sincos"] = static_cast<double>(scene.turnAngles.size()) / kFrames;
}

// One function at a time on the chain's own arguments (3: sine and cosine
// of one angle together).
template <typename M, int Function>
void BM_Function(benchmark::State& state) {
  const Scene& scene = TheScene();
  const std::vector<double>& args = Function == 0 ? scene.atanArguments : scene.turnAngles;
  for (auto _ : state) {
    double carry = 0.0;
    for (double x : args) {
      const double y = x + carry * 0.0;
      carry = Function == 0   ? M::Atan(y)
              : Function == 1 ? M::Sin(y)
              : Function == 2 ? M::Cos(y)
                              : M::Both(y);
    }
    benchmark::DoNotOptimize(carry);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(args.size()));
}

#define CHAIN_BENCH(...) \
  BENCHMARK(__VA_ARGS__)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true)
CHAIN_BENCH(BM_MathFloor<Libm>)->Name("floor/libm");
CHAIN_BENCH(BM_MathFloor<Ours>)->Name("floor/chain");
CHAIN_BENCH(BM_StepChain)->Name("step");
CHAIN_BENCH(BM_Function<Libm, 0>)->Name("atan/libm");
CHAIN_BENCH(BM_Function<Ours, 0>)->Name("atan/chain");
CHAIN_BENCH(BM_Function<Libm, 1>)->Name("sin/libm");
CHAIN_BENCH(BM_Function<Ours, 1>)->Name("sin/chain");
CHAIN_BENCH(BM_Function<Libm, 2>)->Name("cos/libm");
CHAIN_BENCH(BM_Function<Ours, 2>)->Name("cos/chain");
CHAIN_BENCH(BM_Function<Libm, 3>)->Name("sincos/libm");
CHAIN_BENCH(BM_Function<Ours, 3>)->Name("sincos/chain");

// Notes the median of each benchmark and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}  // plain text, no colours
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      const std::string& name = run.run_name.function_name;
      medians_[name] = run.GetAdjustedRealTime();
      const auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end() && rate->second.value > 0)
        nanoseconds_[name] = 1e9 / rate->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double floor = medians_["floor/libm"], step = medians_["step"];
    if (floor > 0 && step > 0)
      std::printf("frame step: %.2f us a frame, floor %.2f us: %.3f x the floor\n", step / kFrames,
                  floor / kFrames, step / floor);
    if (floor > 0)
      std::printf("floor with the chain's maths: %.3f x the floor with the C library's\n",
                  medians_["floor/chain"] / floor);
    for (const char* f : {"atan", "sin", "cos", "sincos"}) {
      const double ours = nanoseconds_[std::string(f) + "/chain"];
      const double theirs = nanoseconds_[std::string(f) + "/libm"];
      if (ours > 0 && theirs > 0)
        std::printf("%s: chain %.1f ns a call, C library %.1f ns: %.3f x\n", f, ours, theirs,
                    ours / theirs);
    }
  }

 private:
  std::map<std::string, double> medians_;      // microseconds an iteration
  std::map<std::string, double> nanoseconds_;  // a call, for the single functions
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
