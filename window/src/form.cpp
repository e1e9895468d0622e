// The forms platform's shared half: the control array, the drawing of the
// circles into the window's pixels, and the handlers. Each circle is copied
// from an atlas of one circle rendered at 8 x 8 sub-pixel offsets (each the
// first time it is needed), so it lands anti-aliased at its fractional
// position for the cost of a small copy.
#include <algorithm>
#include <cmath>
#include <string>

#include "backend.hpp"
#include "chain/chain.hpp"
#include "window/core.hpp"
#include "window/link_art.hpp"
#include "window/platform.hpp"
#include "window/process.hpp"

namespace window {
namespace {

constexpr int kPhases = 8;  // sub-pixel steps per device pixel, per axis

// Device pixel coordinates farther out than this are off every screen; they
// are skipped rather than converted to int, which would overflow.
constexpr double kFarOff = 1e6;

// A colour 0xRRGGBB in the buffer's order: 0xFFRRGGBB, or the bytes R, G,
// B, 255 of a canvas. The unused byte of an XRGB pixel is 0xFF, as opaque:
// some compositors (weston with pixman) show 0x00 there as transparent.
std::uint32_t InOrder(std::uint32_t rgb, bool rgba) {
  if (!rgba) return 0xFF000000u | (rgb & 0xFFFFFFu);
  return 0xFF000000u | (rgb & 0xFF00u) | (rgb >> 16 & 0xFFu) | (rgb & 0xFFu) << 16;
}

// Premultiplied colour with alpha in the top byte over an opaque one, the
// three colour bytes alike whatever their order; dst's top byte stays.
std::uint32_t BlendPremultiplied(std::uint32_t src, std::uint32_t dst) {
  const std::uint32_t a = src >> 24;
  if (a == 0) return dst;
  const std::uint32_t keep = 255 - a;
  std::uint32_t out = dst & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    out |= (s + (d * keep + 127) / 255) << shift;
  }
  return out;
}

struct ShapeState {
  float Left = 0.0f;
  float Top = 0.0f;
  bool Visible = false;
};

}  // namespace

struct Form::Impl {
  FormDesign design;
  FormEvents& events;
  detail::EventQueue queue;  // every backend's events, in order
  FormSettings settings;
#ifdef __EMSCRIPTEN__
  detail::Pacer clock{true};  // the browser paces
#else
  detail::Pacer clock{settings.Paced};
#endif
  detail::DisplayFrames frames{queue};  // where the display runs the frames
  detail::Host host{queue, clock, frames, settings};
  float windowScale = 1.0f;  // as the last scale event said
  std::vector<ShapeState> shapes;
  std::vector<std::uint32_t> atlas;    // kPhases x kPhases cells, premultiplied
  window::RgbaImage atlasImage{0, 0};  // the cells as painted, straight alpha; none at rest
  std::vector<bool> cellDrawn;         // which cells are ready
  int cell = 0;                        // a cell's side, device pixels
  float atlasScale = 0.0f;             // the scale the atlas was drawn for
  bool atlasRgba = false;              // and the byte order
  bool shown = false;
  bool unloaded = false;
  bool dirty = true;      // something changed since the last present
  bool noPixels = false;  // none could be had at this size and scale
  std::uint64_t presents = 0;
  std::unique_ptr<detail::Backend> backend;  // last: goes first

  Impl(const FormDesign& d, FormEvents& e, const std::string& backendName, const FormSettings& s)
      : design(d), events(e), settings(s) {
    backend = detail::OpenBackend(design, host, backendName);
    shapes.push_back({design.Shape.Left, design.Shape.Top, true});
  }

  // The pointer in client pixels. A position from outside (a page's
  // synthetic event, a driver gone wrong) that cannot be one: NaN is
  // dropped, the rest held within the chain's reach, so that no input can
  // end the program.
  void Moved(const detail::Event& e) {
    const float per = e.scale > 0.0f ? e.scale : windowScale;
    const float x = e.x / per, y = e.y / per;
    if (x != x || y != y) return;
    constexpr float kFar = chain::kMaxCoordinate;
    events.Form_MouseMove(e.button, e.shift, std::clamp(x, -kFar, kFar),
                          std::clamp(y, -kFar, kFar));
  }
  void CloseRequested() {
    std::int16_t cancel = 0;
    events.Form_Unload(cancel);
    if (cancel != 0) return;
    unloaded = true;
    backend->Hide();
  }
  // The handlers for what was queued, in order, until a close is accepted.
  void Deliver() {
    for (const detail::Event& e : queue.Take()) {
      if (unloaded) break;
      switch (e.kind) {
        case detail::Event::kMove:
          Moved(e);
          break;
        case detail::Event::kClose:
          CloseRequested();
          break;
        case detail::Event::kScale:
          windowScale = e.scale;
          [[fallthrough]];
        case detail::Event::kExpose:  // and resized
          dirty = true;
          noPixels = false;
          break;
      }
    }
  }

  // The atlas for a scale and byte order, its cells still blank: each is
  // drawn the first time a circle lands at its offset (a chain at rest uses
  // a few of the 64, and a page's first picture waits for no others).
  void ResetAtlas(float scale, bool rgba) {
    const double diameter = design.Shape.Size * static_cast<double>(scale);
    cell = static_cast<int>(std::ceil(diameter)) + 2;
    atlas.assign(static_cast<std::size_t>(cell) * cell * kPhases * kPhases, 0);
    atlasImage = window::RgbaImage(0, 0);
    cellDrawn.assign(kPhases * kPhases, false);
    atlasScale = scale;
    atlasRgba = rgba;
  }

  // The circle at sub-pixel offset (px, py) / kPhases, with a one-pixel
  // outline, in its cell of the atlas, premultiplied. It is painted where it
  // stands in the whole atlas image, so its pixels do not depend on which
  // cells were drawn before it.
  void DrawCell(int px, int py) {
    const double scale = atlasScale;
    const double diameter = design.Shape.Size * scale;
    window::Disc disc;
    disc.CentreX = px * cell + 1 + static_cast<double>(px) / kPhases + diameter / 2;
    disc.CentreY = py * cell + 1 + static_cast<double>(py) / kPhases + diameter / 2;
    disc.OuterRadius = diameter / 2;
    disc.InnerRadius = diameter / 2 - scale;
    disc.Fill = design.Shape.FillColour;
    disc.Outline = design.Shape.OutlineColour;
    // Each cell is painted onto clear pixels of its own, so an image made
    // again after a rest paints it as the first one did.
    if (atlasImage.Pixels.empty()) atlasImage = window::RgbaImage(cell * kPhases, cell * kPhases);
    window::PaintDisc(atlasImage, disc);
    const int width = cell * kPhases;
    for (int y = py * cell; y < (py + 1) * cell; ++y) {
      for (int x = px * cell; x < (px + 1) * cell; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * width + x;
        const std::uint8_t* p = &atlasImage.Pixels[i * 4];
        const auto pre = [&](int c) {
          return static_cast<std::uint32_t>((p[c] * p[3] + 127) / 255);
        };
        atlas[i] =
            static_cast<std::uint32_t>(p[3]) << 24 |
            (atlasRgba ? pre(2) << 16 | pre(1) << 8 | pre(0) : pre(0) << 16 | pre(1) << 8 | pre(2));
      }
    }
    cellDrawn[static_cast<std::size_t>(py * kPhases + px)] = true;
  }

  void Paint(const detail::Pixels& to) {
    const float scale = to.Scale;
    if (scale != atlasScale || to.Rgba != atlasRgba) ResetAtlas(scale, to.Rgba);
    // The background: one row filled, copied to the rest (a block copy,
    // which a page's just-compiled code does far faster than a loop).
    if (to.Height > 0) std::fill(to.Data, to.Data + to.Width, InOrder(design.BackColour, to.Rgba));
    for (int y = 1; y < to.Height; ++y)
      std::copy_n(to.Data, to.Width, to.Data + static_cast<std::ptrdiff_t>(y) * to.Stride);
    const int atlasWidth = cell * kPhases;
    for (const ShapeState& shape : shapes) {
      if (!shape.Visible) continue;
      const double x = static_cast<double>(shape.Left) * scale;
      const double y = static_cast<double>(shape.Top) * scale;
      if (!(std::fabs(x) < kFarOff && std::fabs(y) < kFarOff)) continue;
      double fx = std::floor(x), fy = std::floor(y);
      int px = static_cast<int>(core::RoundHalfAway((x - fx) * kPhases));
      int py = static_cast<int>(core::RoundHalfAway((y - fy) * kPhases));
      if (px == kPhases) px = 0, fx += 1;
      if (py == kPhases) py = 0, fy += 1;
      // The cell's top-left device pixel; the circle starts one pixel in.
      const int left = static_cast<int>(fx) - 1, top = static_cast<int>(fy) - 1;
      if (!cellDrawn[static_cast<std::size_t>(py * kPhases + px)]) DrawCell(px, py);
      for (int cy = std::max(0, -top); cy < cell && top + cy < to.Height; ++cy) {
        const std::uint32_t* src = &atlas[static_cast<std::size_t>(py * cell + cy) * atlasWidth +
                                          static_cast<std::size_t>(px * cell)];
        std::uint32_t* dst = to.Data + static_cast<std::ptrdiff_t>(top + cy) * to.Stride + left;
        for (int cx = std::max(0, -left); cx < cell && left + cx < to.Width; ++cx)
          dst[cx] = BlendPremultiplied(src[cx], dst[cx]);
      }
    }
  }

  // Shows what changed, if anything did; a frame pump that has nothing new
  // to show still waits for the display's next refresh, so that frames keep
  // its beat whether or not they draw.
  void Pump(bool wait) {
    if (unloaded) return;
    if (wait) atlasImage = window::RgbaImage(0, 0);  // at rest, only what is shown is kept
    backend->Pump(wait);
    Deliver();
    if (!shown || unloaded) return;
    if (dirty) {
      Draw();
      dirty = false;
    } else if (!wait) {
      backend->NextRefresh();
    }
  }

  // Paints and shows the picture. At a size whose pixels cannot be had (a
  // window stretched far beyond the screen) the frame only keeps the
  // display's beat, and no pixels are asked for again until the size or the
  // scale changes: trying every frame would only fail again, and a size the
  // user chose never ends the program.
  void Draw() {
    const detail::Pixels to = noPixels ? detail::Pixels{} : backend->Buffer();
    noPixels = !to.Data;
    if (noPixels) return backend->NextRefresh();
    Paint(to);
    backend->Present();
    ++presents;
  }

  // An event from outside the window system: where the display runs the
  // frames, at rest it asks for the frame that handles it; otherwise a pump
  // waiting in the window system's own wait returns for it.
  void Post(const detail::Event& e) {
    queue.Post(e);
    if (frames.Driven())
      frames.Wake();
    else
      backend->Wake();
  }

  ShapeState& At(int index) {
    if (index < 0 || index >= static_cast<int>(shapes.size()))
      throw Error("no shape with index " + std::to_string(index));
    return shapes[static_cast<std::size_t>(index)];
  }
};

Form::Form(const FormDesign& design, FormEvents& events, const std::string& backend,
           const FormSettings& settings)
    : impl_(std::make_unique<Impl>(design, events, backend, settings)) {}

Form::~Form() = default;

void Form::CreateElement(int index) {
  if (index != static_cast<int>(impl_->shapes.size()))
    throw Error("cannot create shape " + std::to_string(index) + ": the next free index is " +
                std::to_string(impl_->shapes.size()));
  ShapeState copy = impl_->shapes.front();
  copy.Visible = false;
  impl_->shapes.push_back(copy);
}

void Form::SetVisible(int index) {
  ShapeState& shape = impl_->At(index);
  if (!shape.Visible) impl_->dirty = true;
  shape.Visible = true;
}

void Form::Move(int index, float left, float top) {
  ShapeState& shape = impl_->At(index);
  if (shape.Left == left && shape.Top == top) return;
  shape.Left = left;
  shape.Top = top;
  if (shape.Visible) impl_->dirty = true;
}

void Form::Show() {
  if (impl_->shown) return;
  impl_->backend->Show();
  impl_->shown = true;
  impl_->dirty = true;
}

void Form::DoEvents() { impl_->Pump(false); }
void Form::WaitEvents() { impl_->Pump(true); }
// Frames until one says Stop; after Rest, the next event is waited for and
// handled first. A display that runs the frames (a browser) runs them after
// the first, and this returns at once: the window lives on after it.
void Form::RunFrames(const std::function<Next()>& frame) {
  const auto wake = [this] { impl_->Pump(true); };
  if (impl_->frames.Driven()) return impl_->frames.Start(frame, wake);
  for (Next next = frame(); next != Next::Stop; next = frame())
    if (next == Next::Rest) wake();
}

double Form::FrameTime() const {
  // The display's own time when it gives one; the clock is read only when it
  // does not, so a display-paced frame costs no clock call.
  if (const auto shown = impl_->backend->DisplayTime()) return *shown;
  return impl_->clock.NowMs();
}
bool Form::Unloaded() const { return impl_->unloaded; }
std::uint64_t Form::Presents() const { return impl_->presents; }

Snapshot Form::Presented() const {
  Snapshot shot;
  Presented(shot);
  return shot;
}

void Form::Presented(Snapshot& shot) const {
  const detail::Pixels px = impl_->backend->Buffer();
  shot.Width = px.Width;
  shot.Height = px.Height;
  shot.Scale = px.Scale;
  shot.Pixels.resize(static_cast<std::size_t>(px.Width) * px.Height);
  // One pass over plain pointers: tests read a snapshot a frame, in builds
  // without optimisation too.
  std::uint32_t* out = shot.Pixels.data();
  for (int y = 0; y < px.Height; ++y) {
    const std::uint32_t* row = px.Data + static_cast<std::ptrdiff_t>(y) * px.Stride;
    for (int x = 0; x < px.Width; ++x)
      *out++ = InOrder(row[x], px.Rgba) & 0xFFFFFF;  // swapping twice undoes it
  }
}

// In the window's device pixels, as a window system reports them.
void Form::PostMouseMove(int x, int y) {
  impl_->Post({detail::Event::kMove, static_cast<float>(x), static_cast<float>(y)});
}
void Form::PostCloseRequest() { impl_->Post({detail::Event::kClose}); }

namespace {
std::string& Name() {
  static std::string name;
  return name;
}
}  // namespace
void SetProgramName(const std::string& name) { Name() = name; }
const std::string& ProgramName() { return Name(); }

}  // namespace window
