// A window system of our own, for tests and measurements: the window's
// pixels live in memory, its events are the ones posted to it, and its
// display refreshes at the rate a test sets, on a clock the test moves on
// (or on the real one). Built on every platform; CHAIN_BACKEND=null picks it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "backend.hpp"
#include "event_queue.hpp"

namespace window::detail {
namespace {

// The display and the test's clock, shared by the windows of a process.
struct NullState {
  NullDisplay display;
  std::mutex mutex;
  double clock = 0.0;  // the test's clock, ms
};

NullState& State() {
  static NullState state;
  return state;
}

double SteadyMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

class NullBackend final : public Backend {
 public:
  explicit NullBackend(const FormDesign& design) : display_(State().display) {
    if (!(display_.RefreshHz > 0.0 && display_.RefreshHz <= 1000.0))
      throw Error("the null display's refresh rate must be above 0 and at most 1000 Hz");
    if (!(display_.Scale >= 0.25f && display_.Scale <= 10.0f))
      throw Error("the null display's scale must be from 0.25 to 10");
    width_ = DevicePixels(design.ClientWidth, display_.Scale);
    height_ = DevicePixels(design.ClientHeight, display_.Scale);
    pixels_.assign(static_cast<std::size_t>(width_) * height_, 0);
    origin_ = Now();
  }

  float Scale() const override { return display_.Scale; }
  void Show() override {}
  void Hide() override {}
  Pixels Buffer() override { return {pixels_.data(), width_, height_, width_}; }
  void Present() override { NextRefresh(); }

  // The first refresh after the clock's time: on the test's clock, the
  // clock moves to it at once; on the real one, a sleep until then.
  void NextRefresh() override {
    const double now = Now();
    auto n = static_cast<std::uint64_t>(
                 std::max(0.0, std::floor((now - origin_) * display_.RefreshHz / 1000.0))) +
             1;
    double at = RefreshTime(n);
    while (at <= now) at = RefreshTime(++n);
    if (display_.RealClock) {
      std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(at - now));
      return;
    }
    const std::lock_guard<std::mutex> lock(State().mutex);
    State().clock = at;
  }

  double FrameTime() override { return Now(); }

  void Pump(BackendEvents& events, bool wait) override {
    if (wait) queue_.Wait();
    queue_.Deliver(events);
  }

  void PostMouseMove(int x, int y) override {
    queue_.Post({Event::kMove, static_cast<float>(x) / display_.Scale,
                 static_cast<float>(y) / display_.Scale});
  }
  void PostClose() override { queue_.Post({Event::kClose}); }

 private:
  double Now() const {
    if (display_.RealClock) return SteadyMs();
    const std::lock_guard<std::mutex> lock(State().mutex);
    return State().clock;
  }
  // n * 1000 / rate rather than n times a rounded period: whole seconds
  // fall exactly on a refresh at every whole rate.
  double RefreshTime(std::uint64_t n) const {
    const double jitter = display_.Jitter ? display_.Jitter(n) : 0.0;
    return origin_ + static_cast<double>(n) * 1000.0 / display_.RefreshHz + jitter;
  }

  const NullDisplay display_;  // as it was when the window opened
  int width_ = 0, height_ = 0;
  std::vector<std::uint32_t> pixels_;
  double origin_ = 0.0;  // refresh 0's time, ms
  EventQueue queue_;
};

}  // namespace

NullDisplay& TheNullDisplay() { return State().display; }

double NullClock() {
  const std::lock_guard<std::mutex> lock(State().mutex);
  return State().clock;
}

void NullAdvance(double ms) {
  const std::lock_guard<std::mutex> lock(State().mutex);
  State().clock += ms;
}

std::unique_ptr<Backend> OpenNullBackend(const FormDesign& design) {
  return std::make_unique<NullBackend>(design);
}

}  // namespace window::detail
