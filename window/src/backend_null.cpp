// A window system of our own, for tests and measurements: the window's
// pixels live in memory, its events are the ones posted to it, and its
// display refreshes at the rate a test sets, on a clock the test moves on
// (or on the real one). Built on every platform; opened by the name "null".
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "backend.hpp"
#include "window/testing.hpp"
#ifndef __EMSCRIPTEN__
#include "os.hpp"
#endif

namespace window::detail {
namespace {

using testing::NullDisplay;

class NullBackend;

// The display and the test's clock, shared by the windows of a process.
struct NullState {
  NullDisplay display;
  std::mutex mutex;
  double clock = 0.0;             // the test's clock, ms
  NullBackend* window = nullptr;  // the one NullResize reaches, the last opened
};

NullState& State() {
  static NullState state;
  return state;
}

double SteadyMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

class NullBackend final : public Backend, DisplayFrames::Display {
 public:
  NullBackend(const FormDesign& design, Host& host) : display_(State().display), host_(host) {
    if (!(display_.RefreshHz > 0.0 && display_.RefreshHz <= 1000.0))
      throw Error("the null display's refresh rate must be above 0 and at most 1000 Hz");
    if (!(display_.Scale >= 0.25f && display_.Scale <= 10.0f))
      throw Error("the null display's scale must be from 0.25 to 10");
    designWidth_ = clientWidth_ = design.ClientWidth;
    designHeight_ = clientHeight_ = design.ClientHeight;
    origin_ = Now();
    host_.Events.Post({Event::kScale, 0.0f, 0.0f, display_.Scale});
    {
      const std::lock_guard<std::mutex> lock(State().mutex);
      State().window = this;
    }
    if (display_.RunsFrames) host_.Frames.RunBy(*this);
#ifndef __EMSCRIPTEN__
    if (!display_.Driven) {
      // Chosen by a user: Ctrl-C, SIGTERM and SIGHUP close it.
      interrupts_.emplace([this] { host_.Events.Post({Event::kClose}); });
      interrupts_->Ready();
    }
#endif
  }
  ~NullBackend() override {
#ifndef __EMSCRIPTEN__
    if (interrupts_) interrupts_->Stop();
#endif
    const std::lock_guard<std::mutex> lock(State().mutex);
    if (State().window == this) State().window = nullptr;
  }

  void Show() override {}
  void Hide() override {}

  // Pixels for the client area's size, made when it changes.
  Pixels Buffer() override {
    int w = 0, h = 0;
    {
      const std::lock_guard<std::mutex> lock(State().mutex);
      w = DevicePixels(clientWidth_, display_.Scale);
      h = DevicePixels(clientHeight_, display_.Scale);
    }
    if (w != width_ || h != height_) {
      const std::size_t bytes = PictureBytes(w, h);
      if (bytes == 0) {
        ++refused_;
        pixels_ = {};
        width_ = height_ = 0;
        return {};
      }
      pixels_.assign(bytes / 4, 0);
      width_ = w, height_ = h;
    }
    return {pixels_.data(), width_, height_, width_, false, display_.Scale};
  }

  // Under State().mutex.
  void Resize(int width, int height) {
    clientWidth_ = width > 0 ? width : designWidth_;
    clientHeight_ = height > 0 ? height : designHeight_;
    host_.Events.Post({Event::kExpose});
  }
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

  // Its refreshes are the display's own times.
  std::optional<double> DisplayTime() override { return Now(); }

  // Its only events are the ones posted to the host's queue.
  void Pump(bool wait) override {
    if (wait) host_.Events.Wait();
  }

  // Where the display runs the frames (the test's thread only).
  void AskFrame() override { asked_ = true; }
  void Rested() override { ++rests_; }
  void Failed(const std::exception& e) override { ReportFailure(e.what()); }
  bool RunAskedFrame() {
    if (!asked_) return false;
    asked_ = false;
    host_.Frames.Frame();
    return true;
  }
  int Rests() const { return rests_; }
  int Refused() const { return refused_; }

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
  int designWidth_ = 0, designHeight_ = 0;
  int clientWidth_ = 0, clientHeight_ = 0;  // client pixels, under State().mutex
  int width_ = 0, height_ = 0;              // the pixels', device pixels
  std::vector<std::uint32_t> pixels_;
  double origin_ = 0.0;  // refresh 0's time, ms
  Host host_;
  bool asked_ = false;
  int rests_ = 0;
  int refused_ = 0;  // buffers asked for that had no pixels
#ifndef __EMSCRIPTEN__
  std::optional<os::InterruptBridge> interrupts_;  // a user's null window only
#endif
};

}  // namespace

}  // namespace window::detail

namespace window::testing {
using detail::State;

NullDisplay& TheNullDisplay() { return State().display; }

double NullClock() {
  const std::lock_guard<std::mutex> lock(State().mutex);
  return State().clock;
}

void NullResize(int width, int height) {
  const std::lock_guard<std::mutex> lock(State().mutex);
  if (State().window) State().window->Resize(width, height);
}

void NullAdvance(double ms) {
  const std::lock_guard<std::mutex> lock(State().mutex);
  State().clock += ms;
}

bool NullRunAskedFrame() { return State().window && State().window->RunAskedFrame(); }
int NullRests() { return State().window ? State().window->Rests() : 0; }
int NullPixelsRefused() { return State().window ? State().window->Refused() : 0; }

}  // namespace window::testing

namespace window::detail {

std::unique_ptr<Backend> OpenNullBackend(const FormDesign& design, Host& host) {
  return std::make_unique<NullBackend>(design, host);
}

}  // namespace window::detail
