// The window in a web page: the shared drawing's pixels shown on a 2D canvas
// with putImageData, the pointer from Pointer Events, and frames driven by
// the browser's animation frames, none asked for while the chain is at rest.
// The canvas's backing store follows the device pixel ratio, as a desktop
// window follows its monitor's scale; the chain keeps CSS pixels.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "backend.hpp"
#include "event_queue.hpp"
#include "window/process.hpp"

namespace window::detail {
class WebBackend;
}

namespace {
window::detail::WebBackend* page = nullptr;  // the one window a page has
}

// Called by the page's listeners below.
extern "C" {
EMSCRIPTEN_KEEPALIVE void chain_web_pointer(double x, double y, int buttons, int shift, int ctrl,
                                            int alt);
EMSCRIPTEN_KEEPALIVE void chain_web_rescaled();
}

// The page's side, in JavaScript (kept as written: a C++ formatter would
// break it). Finds the canvas (Module.canvas, or the element with id
// "form1"), gives the page the caption as its title, and listens for the
// pointer and for the device pixel ratio changing (zoom, another monitor).
// Returns 0 when no canvas with a 2D context can be had.
// clang-format off
EM_JS(int, chain_web_open, (const char* caption, int width, int height), {
  const canvas = Module.canvas || document.getElementById('form1');
  const context = canvas && canvas.getContext('2d', {alpha: false});
  if (!context) return 0;
  document.title = UTF8ToString(caption);
  canvas.style.width = width + 'px';
  canvas.style.height = height + 'px';
  canvas.style.touchAction = 'none';  // a finger drags the chain, not the page
  const web = Module.chainWeb = {canvas: canvas, context: context, image: null, ratio: 1};
  // From where the picture is shown, whatever the page's style makes of the
  // canvas (another size, a transform, a border or padding) to the chain's
  // own width x height. One pointer only: with two fingers down, the first.
  const send = (e) => {
    if (!e.isPrimary) return;
    const box = canvas.getBoundingClientRect();
    const style = getComputedStyle(canvas);
    const px = (name) => parseFloat(style[name]) || 0;
    const sx = box.width / (canvas.offsetWidth || box.width || 1);
    const sy = box.height / (canvas.offsetHeight || box.height || 1);
    const left = box.left + (px('borderLeftWidth') + px('paddingLeft')) * sx;
    const top = box.top + (px('borderTopWidth') + px('paddingTop')) * sy;
    const shownWidth = box.right - (px('borderRightWidth') + px('paddingRight')) * sx - left;
    const shownHeight = box.bottom - (px('borderBottomWidth') + px('paddingBottom')) * sy - top;
    _chain_web_pointer((e.clientX - left) * width / (shownWidth || width),
                       (e.clientY - top) * height / (shownHeight || height), e.buttons,
                       e.shiftKey, e.ctrlKey, e.altKey);
  };
  canvas.addEventListener('pointermove', send);
  canvas.addEventListener('pointerdown', (e) => {
    if (!e.isPrimary) return;
    // Held down, the pointer keeps reaching the canvas outside it, as a
    // desktop window captures the mouse while a button is held.
    canvas.setPointerCapture(e.pointerId);
    send(e);
  });
  // Zooming or moving to another monitor changes the ratio: the media query
  // for the current one stops matching, and a zoom resizes the viewport too.
  const watchRatio = () => {
    matchMedia('(resolution: ' + devicePixelRatio + 'dppx)')
        .addEventListener('change', () => { watchRatio(); _chain_web_rescaled(); }, {once: true});
  };
  watchRatio();
  addEventListener('resize', () => {
    if ((window.devicePixelRatio || 1) !== web.ratio) _chain_web_rescaled();
  });
  return 1;
});

EM_JS(double, chain_web_ratio, (), {
  return Module.chainWeb.ratio = window.devicePixelRatio || 1;
});

EM_JS(void, chain_web_show, (int shown), {
  Module.chainWeb.canvas.style.visibility = shown ? 'visible' : 'hidden';
});

// Shows w x h RGBA pixels at `pixels` through one ImageData laid over the
// program's memory itself (no copy), made again when the size or the memory
// changes.
EM_JS(void, chain_web_present, (const void* pixels, int w, int h), {
  const web = Module.chainWeb;
  if (!web.image || web.image.width !== w || web.image.height !== h ||
      web.image.data.buffer !== HEAPU8.buffer || web.pixels !== pixels) {
    if (web.canvas.width !== w || web.canvas.height !== h) {
      web.canvas.width = w;
      web.canvas.height = h;
    }
    web.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, pixels, w * h * 4), w, h);
    web.pixels = pixels;
  }
  web.context.putImageData(web.image, 0, 0);
});

// The page's hook for the moment the chain comes to rest (tests wait for it).
EM_JS(void, chain_web_resting, (), {
  if (Module.onRest) Module.onRest();
});
// clang-format on

namespace window::detail {
class WebBackend final : public Backend {
 public:
  explicit WebBackend(const FormDesign& design) : design_(design) {
    if (!chain_web_open(design.Caption.c_str(), design.ClientWidth, design.ClientHeight))
      throw Error("cannot draw on the page: no canvas with a 2D context");
    page = this;
    Resize();
  }
  ~WebBackend() override { page = nullptr; }

  float Scale() const override { return scale_; }
  void Show() override { chain_web_show(1); }
  void Hide() override { chain_web_show(0); }

  // The drawing paints the canvas's own RGBA bytes.
  Pixels Buffer() override { return {pixels_.data(), width_, height_, width_, true}; }

  void Present() override { chain_web_present(pixels_.data(), width_, height_); }
  // The browser paces: the next frame is the next animation frame.
  void NextRefresh() override {}
  // The animation frame's timestamp, milliseconds; none for the first frame,
  // which runs at once, before any animation frame.
  double FrameTime() override { return frameTime_; }

  void Pump(BackendEvents& events, bool) override {
    queue_.Deliver(events, [this] { Resize(); });
  }

  void PostMouseMove(int x, int y) override {
    Queue({Event::kMove, static_cast<float>(x) / scale_, static_cast<float>(y) / scale_, 0, 0});
  }
  void PostClose() override { Queue({Event::kClose, 0.0f, 0.0f, 0, 0}); }

  // The browser runs the frames: one an animation frame while the chain
  // moves, none at rest until an event arrives (a hidden tab gets none at
  // all). Whatever the page does next happens in those callbacks, so this
  // leaves main without unwinding it: the window lives on.
  void RunFrames(const std::function<Next()>& frame, const std::function<void()>& wake) override {
    frame_ = frame;
    wake_ = wake;
    OnFrame(std::nan(""), this);  // the first at once, as on the desktop: the page shows it sooner
    emscripten_exit_with_live_runtime();
  }

  void Queue(const Event& e) {
    queue_.Post(e);
    if (resting_) RequestFrame();
  }

  void Rescaled() { Queue({Event::kRescale, 0.0f, 0.0f, 0, 0}); }

 private:
  void Resize() {
    scale_ = static_cast<float>(chain_web_ratio());
    width_ = DevicePixels(design_.ClientWidth, scale_);
    height_ = DevicePixels(design_.ClientHeight, scale_);
    pixels_.assign(static_cast<std::size_t>(width_) * height_, 0);
  }

  void RequestFrame() {
    if (requested_ || stopped_ || !frame_) return;
    requested_ = true;
    emscripten_request_animation_frame(&WebBackend::OnFrame, this);
  }

  static EM_BOOL OnFrame(double time, void* self) {
    auto& web = *static_cast<WebBackend*>(self);
    web.requested_ = false;
    web.frameTime_ = time;
    try {
      if (web.resting_) {
        web.resting_ = false;
        web.wake_();  // what woke it: the event, handled as the desktop's wait does
      }
      const Next next = web.frame_();
      if (next == Next::Stop)
        web.stopped_ = true;
      else if (next == Next::Rest) {
        web.resting_ = true;
        if (!web.queue_.Empty())
          web.RequestFrame();  // already something to wake for
        else
          chain_web_resting();
      } else
        web.RequestFrame();
    } catch (const std::exception& e) {
      web.stopped_ = true;
      ReportFailure(std::string("chain: ") + e.what());
    }
    return EM_FALSE;  // the next frame, if any, is asked for above
  }

  FormDesign design_;
  float scale_ = 1.0f;
  int width_ = 0, height_ = 0;
  std::vector<std::uint32_t> pixels_;  // bytes R, G, B, A, as the canvas takes them
  EventQueue queue_;
  std::function<Next()> frame_;
  std::function<void()> wake_;
  double frameTime_ = std::nan("");
  bool requested_ = false;  // an animation frame is on its way
  bool resting_ = false;    // at rest: the next event asks for a frame
  bool stopped_ = false;
};

std::unique_ptr<Backend> OpenWebBackend(const FormDesign& design) {
  return std::make_unique<WebBackend>(design);
}

}  // namespace window::detail

// A pointer event's buttons (Pointer Events' bits: 1 primary, 2 secondary,
// 4 auxiliary) and modifier keys, in the platform's terms.
void chain_web_pointer(double x, double y, int buttons, int shift, int ctrl, int alt) {
  using namespace window;
  const auto held = [](bool on, std::int16_t bit) { return on ? bit : std::int16_t{0}; };
  const auto button =
      static_cast<std::int16_t>(held(buttons & 1, kLeftButton) | held(buttons & 2, kRightButton) |
                                held(buttons & 4, kMiddleButton));
  const auto keys =
      static_cast<std::int16_t>(held(shift, kShiftKey) | held(ctrl, kCtrlKey) | held(alt, kAltKey));
  if (page)
    page->Queue({detail::Event::kMove, static_cast<float>(x), static_cast<float>(y), button, keys});
}

void chain_web_rescaled() {
  if (page) page->Rescaled();
}
