// The window in a web page: the shared drawing's pixels shown on a 2D canvas
// with putImageData, the pointer from Pointer Events, and frames driven by
// the browser's animation frames, none asked for while the chain is at rest.
// The page's side is chain.mjs, which gives each canvas an instance of its
// own: the functions below are its imports, and the chain_web_* functions
// at the end are what it calls. The canvas's backing store follows the size
// it is shown at times the device pixel ratio, as a desktop window follows
// its monitor's scale; the chain keeps its client pixels.
#include <emscripten.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "backend.hpp"
#include "window/process.hpp"

namespace window::detail {
class WebBackend;
}

namespace {
window::detail::WebBackend* page = nullptr;  // the one window an instance has
}  // namespace

// chain.mjs's side, imported from "env" (the tests under node stub it).
extern "C" {
// Takes the canvas for a client area of width x height; 0 when it has no 2D context.
int chain_page_open(int width, int height);
// Device pixels per client pixel: the size the canvas is shown at, times
// the device pixel ratio, over the client width.
double chain_page_scale();
void chain_page_show(int shown);
// Shows w x h RGBA pixels at `pixels` in the instance's memory.
void chain_page_present(const void* pixels, int w, int h);
// Asks for an animation frame, which calls chain_web_frame.
void chain_page_request_frame();
// The chain has come to rest (the page raises "chainrest" on the canvas).
void chain_page_resting();

EMSCRIPTEN_KEEPALIVE void chain_web_pointer(double x, double y, int buttons, int shift, int ctrl,
                                            int alt);
EMSCRIPTEN_KEEPALIVE void chain_web_rescaled();
EMSCRIPTEN_KEEPALIVE void chain_web_frame(double time);
}

namespace window::detail {
class WebBackend final : public Backend, DisplayFrames::Display {
 public:
  WebBackend(const FormDesign& design, Host& host) : design_(design), host_(host) {
    if (!chain_page_open(design.ClientWidth, design.ClientHeight))
      throw Error("cannot draw on the page: no canvas with a 2D context");
    page = this;
    Resize();
    host_.Events.Post({Event::kScale, 0.0f, 0.0f, scale_});
    // The browser runs the frames: an animation frame each while the chain
    // moves (a hidden tab gets none at all).
    host_.Frames.RunBy(*this);
  }
  ~WebBackend() override { page = nullptr; }

  void Show() override { chain_page_show(1); }
  void Hide() override { chain_page_show(0); }

  // The drawing paints the canvas's own RGBA bytes; none at a size whose
  // pixels cannot be had (a canvas styled far wider than any screen).
  Pixels Buffer() override {
    if (!pixels_) return {};
    return {pixels_.get(), width_, height_, width_, true, scale_};
  }

  void Present() override {
    if (pixels_) chain_page_present(pixels_.get(), width_, height_);
  }
  // The browser paces: the next frame is the next animation frame.
  void NextRefresh() override {}
  // The animation frame's timestamp, milliseconds; none for the first frame,
  // which runs at once, before any animation frame.
  std::optional<double> DisplayTime() override { return frameTime_; }

  // The page's events come as it calls in, between frames.
  void Pump(bool) override {}

  // At rest an event asks for the frame that handles it.
  void Queue(const Event& e) {
    host_.Events.Post(e);
    host_.Frames.Wake();
  }

  void Rescaled() {
    Resize();
    Queue({Event::kScale, 0.0f, 0.0f, scale_});
  }
  void AnimationFrame(double time) {
    frameTime_ = time;
    host_.Frames.Frame();
  }

  void AskFrame() override { chain_page_request_frame(); }
  void Rested() override { chain_page_resting(); }
  void Failed(const std::exception& e) override {  // under node; the page reports where it throws
    ReportFailure(ProgramName() + ": " + e.what());
  }

 private:
  void Resize() {
    scale_ = static_cast<float>(chain_page_scale());
    const int width = DevicePixels(design_.ClientWidth, scale_);
    const int height = DevicePixels(design_.ClientHeight, scale_);
    if (pixels_ && width == width_ && height == height_) return;
    // Zeroed as one block (a vector would set each pixel in a loop, which
    // the first frame's just-compiled code runs slowly). The old pixels go
    // first, so that memory that holds one picture holds the next.
    pixels_.reset();
    width_ = height_ = 0;
    const std::size_t bytes = PictureBytes(width, height);
    if (bytes == 0) return;  // nothing shown until the size changes
    pixels_.reset(static_cast<std::uint32_t*>(std::malloc(bytes)));
    if (!pixels_) return;
    std::memset(pixels_.get(), 0, bytes);
    width_ = width, height_ = height;
  }

  FormDesign design_;
  Host host_;
  float scale_ = 1.0f;
  int width_ = 0, height_ = 0;
  struct Free {
    void operator()(std::uint32_t* p) const { std::free(p); }
  };
  // Bytes R, G, B, A, as the canvas takes them; from malloc, which gives
  // null rather than an exception when memory cannot grow that far.
  std::unique_ptr<std::uint32_t[], Free> pixels_;
  std::optional<double> frameTime_;  // none for the first frame, run before any animation frame
};

std::unique_ptr<Backend> OpenWebBackend(const FormDesign& design, Host& host) {
  return std::make_unique<WebBackend>(design, host);
}

}  // namespace window::detail

namespace {
// A pointer event's buttons (Pointer Events' bits: 1 primary, 2 secondary,
// 4 auxiliary) and modifier keys, in the platform's terms.
std::int16_t TranslateButtons(int buttons) {
  using namespace window;
  return static_cast<std::int16_t>(((buttons & 1) ? kLeftButton : 0) |
                                   ((buttons & 2) ? kRightButton : 0) |
                                   ((buttons & 4) ? kMiddleButton : 0));
}
std::int16_t TranslateKeys(int shift, int ctrl, int alt) {
  using namespace window;
  return static_cast<std::int16_t>((shift ? kShiftKey : 0) | (ctrl ? kCtrlKey : 0) |
                                   (alt ? kAltKey : 0));
}
}  // namespace

// Client pixels: the page maps the event to the canvas's own.
void chain_web_pointer(double x, double y, int buttons, int shift, int ctrl, int alt) {
  if (page)
    page->Queue({window::detail::Event::kMove, static_cast<float>(x), static_cast<float>(y), 1.0f,
                 TranslateButtons(buttons), TranslateKeys(shift, ctrl, alt)});
}

void chain_web_rescaled() {
  if (page) page->Rescaled();
}

void chain_web_frame(double time) {
  if (page) page->AnimationFrame(time);
}
