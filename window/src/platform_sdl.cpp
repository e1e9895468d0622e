// The forms platform on SDL2. Shapes are drawn from an atlas of one circle
// pre-rendered at 8 x 8 sub-pixel offsets, so each circle lands
// anti-aliased at its fractional position at the cost of one texture copy.
#include <SDL.h>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "window/link_art.hpp"
#include "window/platform.hpp"

namespace platform {
namespace {

constexpr int kPhases = 8;  // sub-pixel steps per device pixel, per axis

[[noreturn]] void Fail(const std::string& what) { throw Error(what + ": " + SDL_GetError()); }

// Device pixel coordinates farther out than this are off every screen; they
// are skipped rather than converted to int, which would overflow.
constexpr double kFarOff = 1e6;

// Runs `work` with standard error going to a temporary file, then hands back
// what was written there.
template <typename Work>
bool CaptureStderr(Work work, std::string& said) {
  std::fflush(stderr);
  std::FILE* held = std::tmpfile();
  const int saved = held ? dup(STDERR_FILENO) : -1;
  if (saved < 0 || dup2(fileno(held), STDERR_FILENO) < 0) {
    if (held) std::fclose(held);
    if (saved >= 0) close(saved);
    return work();  // cannot hold it back; let it through
  }
  const bool result = work();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::rewind(held);
  char buffer[512];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, held)) > 0 && said.size() < 4096)
    said.append(buffer, got);
  std::fclose(held);
  return result;
}

// Turns SIGINT and SIGTERM into a quit request, like the window's close
// button. SDL's own handlers only set a flag that a sleeping event wait never
// looks at, so the signals are blocked in every thread instead and taken by
// one thread of ours, which queues the request and so wakes the wait.
class SignalBridge {
 public:
  SignalBridge() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    // Before SDL starts any thread, so that all of them inherit the mask.
    if (pthread_sigmask(SIG_BLOCK, &signals_, &previous_) != 0) return;
    blocked_ = true;
    thread_ = std::thread([this] {
      for (;;) {
        int signal = 0;
        if (sigwait(&signals_, &signal) != 0 || stopping_) return;
        SDL_Event quit;
        std::memset(&quit, 0, sizeof quit);
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
      }
    });
  }
  ~SignalBridge() {
    if (thread_.joinable()) {
      stopping_ = true;
      pthread_kill(thread_.native_handle(), SIGTERM);  // ends its sigwait
      thread_.join();
    }
    if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalBridge(const SignalBridge&) = delete;
  SignalBridge& operator=(const SignalBridge&) = delete;

 private:
  sigset_t signals_{};
  sigset_t previous_{};
  bool blocked_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace

struct Form::Impl {
  FormDesign design;
  FormEvents& events;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* atlas = nullptr;
  Uint32 windowId = 0;
  float scale = 1.0f;  // device pixels per client pixel
  int cell = 0;        // atlas cell size, device pixels
  bool shown = false;
  bool unloaded = false;
  bool dirty = true;  // something changed since the last present
  std::uint64_t presents = 0;
  std::vector<ShapeState> shapes;

  SignalBridge signalBridge;  // outlives SDL: members go after ~Impl has quit it

  Impl(const FormDesign& d, FormEvents& e) : design(d), events(e) {}

  ~Impl() {
    // Reverse order of creation.
    if (atlas) SDL_DestroyTexture(atlas);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
    SDL_Quit();
  }

  void Start() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // see SignalBridge
    // Let a desktop compositor keep running, and name the program for the
    // window system and audio mixers.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint("SDL_APP_NAME", "chain");
    InitVideo();
    WatchDisplayConnection();

    window = SDL_CreateWindow(design.Caption.c_str(), SDL_WINDOWPOS_UNDEFINED,
                              SDL_WINDOWPOS_UNDEFINED, design.ClientWidth, design.ClientHeight,
                              SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!window) Fail("cannot create the window");
    windowId = SDL_GetWindowID(window);

    // Paced by the display unless SDL_RENDER_VSYNC=0 says otherwise.
    const bool vsync = SDL_GetHintBoolean(SDL_HINT_RENDER_VSYNC, SDL_TRUE);
    renderer = SDL_CreateRenderer(window, -1, vsync ? SDL_RENDERER_PRESENTVSYNC : 0);
    if (!renderer) {
      const std::string first = SDL_GetError();
      renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
      if (!renderer)
        throw Error("cannot create a renderer: " + first +
                    "; software renderer: " + SDL_GetError());
    }
    // The software renderer cannot wait for the display; SDL then paces its
    // presents to the refresh rate itself.
    if (SDL_RenderSetVSync(renderer, vsync ? 1 : 0) != 0) SDL_ClearError();

    if (design.IconSize > 0) SetIcon();
    UpdateScale();
    shapes.push_back({design.Shape.Left, design.Shape.Top, true});
  }

  // Opens a video driver that can show a window. Left to itself SDL falls
  // back to its invisible drivers when there is no display, and the program
  // would run unseen; those are used only when SDL_VIDEODRIVER names them.
  static void InitVideo() {
    const bool chosen = SDL_getenv("SDL_VIDEODRIVER") != nullptr;
    const bool hasWayland =
        SDL_getenv("WAYLAND_DISPLAY") != nullptr || SDL_getenv("XDG_RUNTIME_DIR") != nullptr;
    if (!chosen) {
      std::string drivers;
      for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const std::string name = SDL_GetVideoDriver(i);
        if (name == "offscreen" || name == "dummy" || name == "evdev") continue;
        if (name == "wayland" && !hasWayland) continue;  // nothing to connect to
        drivers += (drivers.empty() ? "" : ",") + name;
      }
      SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    }
    // The display libraries print their own complaints (Xlib's "Authorization
    // required", say); hold them back so a failure stays on one line.
    std::string said;
    const bool ok = CaptureStderr([] { return SDL_Init(SDL_INIT_VIDEO) == 0; }, said);
    if (ok) {
      std::fputs(said.c_str(), stderr);
      return;
    }
    std::string why = SDL_GetError();
    for (char& c : said)
      if (c == '\n' || c == '\r') c = ' ';
    while (!said.empty() && said.back() == ' ') said.pop_back();
    if (!said.empty()) why += " [" + said + "]";
    if (!chosen && SDL_getenv("DISPLAY") == nullptr && SDL_getenv("WAYLAND_DISPLAY") == nullptr)
      why += " (no display: neither DISPLAY nor WAYLAND_DISPLAY is set)";
    else if (!chosen && SDL_getenv("DISPLAY") != nullptr)
      why += std::string(" (cannot reach the X display \"") + SDL_getenv("DISPLAY") + "\")";
    throw Error("cannot open the display: " + why);
  }

  // Xlib's answer to a lost display is a two-line complaint and exit(1) from
  // wherever the program is. Ours says so on one line. SDL loads Xlib itself,
  // so the handler is set on the copy it loaded.
  static void WatchDisplayConnection() {
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) return;
    void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!xlib) return;
    using Handler = int (*)(void*);
    using SetHandler = Handler (*)(Handler);
    const auto set = reinterpret_cast<SetHandler>(dlsym(xlib, "XSetIOErrorHandler"));
    if (set) {
      set([](void*) -> int {
        static const char kMessage[] = "chain: lost the connection to the X display\n";
        [[maybe_unused]] const ssize_t written =
            write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        _exit(1);  // Xlib allows no return, and nothing can be drawn any more
      });
    }
    dlclose(xlib);  // SDL's own reference keeps the library loaded
  }

  void SetIcon() {
    window::RgbaImage icon = window::DrawIcon(design.IconSize);
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        icon.Pixels.data(), icon.Width, icon.Height, 32, icon.Width * 4, SDL_PIXELFORMAT_RGBA32);
    if (!surface) Fail("cannot make the window icon");
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
  }

  // Follows the display's pixel density; rebuilds the circles when it changes.
  void UpdateScale() {
    int w = 0, h = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(window, &w, &h);
    if (SDL_GetRendererOutputSize(renderer, &dw, &dh) != 0) Fail("cannot read the window's size");
    if (w <= 0 || dw <= 0) return;  // minimised
    const float newScale = static_cast<float>(dw) / static_cast<float>(w);
    if (atlas && newScale == scale) return;
    scale = newScale;
    BuildAtlas();
  }

  void BuildAtlas() {
    const double diameter = design.Shape.Width * static_cast<double>(scale);
    cell = static_cast<int>(std::ceil(diameter)) + 2;
    window::RgbaImage image(cell * kPhases, cell * kPhases);
    for (int py = 0; py < kPhases; ++py) {
      for (int px = 0; px < kPhases; ++px) {
        window::Disc disc;
        disc.CentreX = px * cell + 1 + static_cast<double>(px) / kPhases + diameter / 2;
        disc.CentreY = py * cell + 1 + static_cast<double>(py) / kPhases + diameter / 2;
        disc.OuterRadius = diameter / 2;
        disc.InnerRadius = diameter / 2 - scale;  // a one-pixel outline
        disc.Fill = design.Shape.FillColour;
        disc.Outline = design.Shape.OutlineColour;
        window::PaintDisc(image, disc);
      }
    }
    if (atlas) SDL_DestroyTexture(atlas);
    atlas = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC,
                              image.Width, image.Height);
    if (!atlas) Fail("cannot create the link texture");
    if (SDL_UpdateTexture(atlas, nullptr, image.Pixels.data(), image.Width * 4) != 0)
      Fail("cannot fill the link texture");
    if (SDL_SetTextureBlendMode(atlas, SDL_BLENDMODE_BLEND) != 0)
      Fail("cannot set the link texture's blending");
    SDL_SetTextureScaleMode(atlas, SDL_ScaleModeNearest);
    dirty = true;
  }

  void DrawScene() {
    const std::uint32_t back = design.BackColour;
    if (SDL_SetRenderDrawColor(renderer, (back >> 16) & 0xFF, (back >> 8) & 0xFF, back & 0xFF,
                               0xFF) != 0 ||
        SDL_RenderClear(renderer) != 0)
      Fail("cannot clear the window");
    for (const ShapeState& shape : shapes) {
      if (!shape.Visible) continue;
      const double x = static_cast<double>(shape.Left) * scale;
      const double y = static_cast<double>(shape.Top) * scale;
      if (!(std::fabs(x) < kFarOff && std::fabs(y) < kFarOff)) continue;
      double fx = std::floor(x), fy = std::floor(y);
      int px = static_cast<int>(std::lround((x - fx) * kPhases));
      int py = static_cast<int>(std::lround((y - fy) * kPhases));
      if (px == kPhases) px = 0, fx += 1;
      if (py == kPhases) py = 0, fy += 1;
      const SDL_Rect src{px * cell, py * cell, cell, cell};
      const SDL_Rect dst{static_cast<int>(fx) - 1, static_cast<int>(fy) - 1, cell, cell};
      if (SDL_RenderCopy(renderer, atlas, &src, &dst) != 0) Fail("cannot draw a link");
    }
  }

  void Repaint() {
    if (!shown || unloaded || !dirty) return;
    DrawScene();
    SDL_RenderPresent(renderer);
    ++presents;
    dirty = false;
  }

  void Unload() {
    std::int16_t cancel = 0;
    events.Form_Unload(cancel);
    if (cancel != 0) return;
    unloaded = true;
    SDL_HideWindow(window);
  }

  void Handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:  // Ctrl-C in the terminal, SIGTERM, logout
        Unload();
        break;
      case SDL_MOUSEMOTION:
        if (e.motion.windowID == windowId) {
          std::int16_t button = 0;
          if (e.motion.state & SDL_BUTTON_LMASK) button |= 1;
          if (e.motion.state & SDL_BUTTON_RMASK) button |= 2;
          if (e.motion.state & SDL_BUTTON_MMASK) button |= 4;
          const SDL_Keymod mod = SDL_GetModState();
          std::int16_t shift = 0;
          if (mod & KMOD_SHIFT) shift |= 1;
          if (mod & KMOD_CTRL) shift |= 2;
          if (mod & KMOD_ALT) shift |= 4;
          events.Form_MouseMove(button, shift, static_cast<float>(e.motion.x),
                                static_cast<float>(e.motion.y));
        }
        break;
      case SDL_WINDOWEVENT:
        if (e.window.windowID != windowId) break;
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            Unload();
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_DISPLAY_CHANGED:
            UpdateScale();
            dirty = true;
            break;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_RESTORED:
            dirty = true;
            break;
          default:
            break;
        }
        break;
      case SDL_RENDER_TARGETS_RESET:
        dirty = true;
        break;
      case SDL_RENDER_DEVICE_RESET:
        // The renderer lost its textures: rebuild the circles.
        BuildAtlas();
        break;
      default:
        break;
    }
  }

  void Drain() {
    SDL_Event e;
    while (!unloaded && SDL_PollEvent(&e)) Handle(e);
    Repaint();
  }

  void CheckIndex(int index) const {
    if (index < 0 || index >= static_cast<int>(shapes.size()))
      throw Error("no shape with index " + std::to_string(index));
  }
};

Form::Form(const FormDesign& design, FormEvents& events)
    : impl_(std::make_unique<Impl>(design, events)) {
  impl_->Start();
}

Form::~Form() = default;

void Form::CreateElement(int index) {
  if (index != static_cast<int>(impl_->shapes.size()))
    throw Error("cannot create shape " + std::to_string(index) + ": the next free index is " +
                std::to_string(impl_->shapes.size()));
  ShapeState copy = impl_->shapes.front();
  copy.Visible = false;
  impl_->shapes.push_back(copy);
}

void Form::SetVisible(int index, bool visible) {
  impl_->CheckIndex(index);
  ShapeState& shape = impl_->shapes[static_cast<std::size_t>(index)];
  if (shape.Visible != visible) impl_->dirty = true;
  shape.Visible = visible;
}

void Form::Move(int index, float left, float top) {
  impl_->CheckIndex(index);
  ShapeState& shape = impl_->shapes[static_cast<std::size_t>(index)];
  if (shape.Left == left && shape.Top == top) return;
  shape.Left = left;
  shape.Top = top;
  if (shape.Visible) impl_->dirty = true;
}

void Form::Show() {
  if (impl_->shown) return;
  SDL_ShowWindow(impl_->window);
  impl_->shown = true;
  impl_->dirty = true;
}

void Form::DoEvents() {
  if (impl_->unloaded) return;
  impl_->Drain();
}

void Form::WaitEvents() {
  if (impl_->unloaded) return;
  if (SDL_WaitEvent(nullptr) == 0) Fail("cannot wait for window events");
  impl_->Drain();
}

bool Form::Unloaded() const { return impl_->unloaded; }
int Form::ElementCount() const { return static_cast<int>(impl_->shapes.size()); }

ShapeState Form::Shape(int index) const {
  impl_->CheckIndex(index);
  return impl_->shapes[static_cast<std::size_t>(index)];
}

std::uint64_t Form::Presents() const { return impl_->presents; }

std::string Form::RendererName() const {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(impl_->renderer, &info) != 0) return "unknown";
  return info.name;
}

Snapshot Form::Capture() {
  impl_->DrawScene();
  Snapshot shot;
  if (SDL_GetRendererOutputSize(impl_->renderer, &shot.Width, &shot.Height) != 0)
    Fail("cannot read the window's size");
  shot.Pixels.resize(static_cast<std::size_t>(shot.Width) * shot.Height);
  if (SDL_RenderReadPixels(impl_->renderer, nullptr, SDL_PIXELFORMAT_RGB888, shot.Pixels.data(),
                           shot.Width * 4) != 0)
    Fail("cannot read back the window's pixels");
  for (auto& p : shot.Pixels) p &= 0xFFFFFF;
  impl_->dirty = true;  // the back buffer no longer holds the last present
  return shot;
}

void Form::PostMouseMove(int x, int y) {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = impl_->windowId;
  e.motion.x = x;
  e.motion.y = y;
  if (SDL_PushEvent(&e) < 0) Fail("cannot queue a mouse movement");
}

void Form::PostCloseRequest() {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = impl_->windowId;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  if (SDL_PushEvent(&e) < 0) Fail("cannot queue a close request");
}

}  // namespace platform
