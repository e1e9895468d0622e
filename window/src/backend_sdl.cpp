// The window on SDL2, for X11 desktops and for tests without a display
// (SDL's dummy driver). The window presents a plain pixel buffer, SDL's
// window surface: on X11 shared memory with the X server, no OpenGL driver
// loaded. A user who sets SDL_RENDER_DRIVER or SDL_FRAMEBUFFER_ACCELERATION
// gets SDL's GPU-backed surface instead.
//
// SDL is loaded when this backend opens, not with the program: a Wayland
// session never maps it, nor the sound and X11 libraries it brings.
#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "backend.hpp"
#include "chain/printable.hpp"
#include "os.hpp"
#include "window/link_art.hpp"

namespace window::detail {
namespace {

// The X11 display library's failure paths, for SDL's X11 driver: the
// library is the one SDL loads, reached through dlsym.
namespace x11 {

// Xlib's own types, as far as its error handler needs them; the display
// library is the one SDL loaded, reached through dlsym.
struct XErrorEventHead {
  int type;
  void* display;
  unsigned long resourceid;
  unsigned long serial;
  unsigned char error_code;
  unsigned char request_code;
  unsigned char minor_code;
};
constexpr unsigned char kBadWindow = 3;
constexpr unsigned char kBadDrawable = 9;
constexpr unsigned char kBadMatch = 8;

std::function<void()> windowLostCall;
std::string lost, outOfMemory;  // the lines for the connection's end, made beforehand
std::atomic<bool> windowLostSaid{false};

void* XlibSymbol(const char* name) {
  void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (!xlib) return nullptr;
  void* symbol = dlsym(xlib, name);
  dlclose(xlib);  // the display library's own reference keeps it loaded
  return symbol;
}

// Another client destroying our window shows up as errors about it in the
// requests that follow; Xlib's default would print six lines and exit. Any
// other error (one about a window already gone while SDL shuts down, say)
// is of no consequence to a program that only shows pictures.
int OnXError(void*, XErrorEventHead* error) {
  const unsigned char code = error->error_code;
  if ((code == kBadWindow || code == kBadDrawable || code == kBadMatch) && windowLostCall &&
      !windowLostSaid.exchange(true))
    windowLostCall();
  return 0;
}

void SetXErrorHandler() {
  using Handler = int (*)(void*, XErrorEventHead*);
  if (auto set = reinterpret_cast<Handler (*)(Handler)>(XlibSymbol("XSetErrorHandler")))
    set(OnXError);
}

// makes the loss of the display connection, at any moment from the
// first connection on, end the program with one line. Call before the
// display library connects.
void WatchConnection() {
  // Loaded now (and kept) so that the handlers are in place before the first
  // connection: the display library would print two lines of its own, into
  // a held-back standard error, and exit. SDL puts back the error handler it
  // found when it shuts down, which is then this one.
  if (!dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL)) return;  // SDL will say why
  lost = ProgramName() + ": lost the connection to the X display\n";
  outOfMemory = ProgramName() + ": out of memory (the X display's connection ended)\n";
  using IOHandler = int (*)(void*);
  if (auto set = reinterpret_cast<IOHandler (*)(IOHandler)>(XlibSymbol("XSetIOErrorHandler"))) {
    set([](void*) -> int {
      // The connection also ends where the display library could not
      // allocate what it reads into.
      const std::string& line = errno == ENOMEM ? outOfMemory : lost;
      [[maybe_unused]] const ssize_t written = write(os::RealStderr(), line.data(), line.size());
      _exit(1);  // Xlib allows no return, and nothing can be drawn any more
    });
  }
  SetXErrorHandler();
}

// turns X errors about our own window having been destroyed by
// another client into a call of `windowLost` (once) instead of Xlib's
// report and exit; with nullptr, only ignores them (the teardown). Call
// once the display library is connected.
void WatchDisplay(std::function<void()> windowLost) {
  windowLostCall = std::move(windowLost);
  SetXErrorHandler();  // in place of the one SDL set over ours
}

// asks the server about `window`; if another client destroyed it,
// the error reaches WatchDisplay's `windowLost`.
void CheckWindow(void* display, unsigned long window) {
  using GetAttributes = int (*)(void*, unsigned long, void*);
  const auto get = reinterpret_cast<GetAttributes>(XlibSymbol("XGetWindowAttributes"));
  alignas(16) unsigned char attributes[512];  // more than an XWindowAttributes
  if (display && get) get(display, window, attributes);
}

// the scale the desktop asks for, from the Xft.dpi resource (96 dpi
// is 1); 1 when it is missing or malformed.
float DesktopScale(void* display) {
  using ResourceString = char* (*)(void*);
  const auto resources = reinterpret_cast<ResourceString>(XlibSymbol("XResourceManagerString"));
  const char* text = display && resources ? resources(display) : nullptr;
  if (!text) return 1.0f;
  // One "name:<blanks>value" a line; the last Xft.dpi wins, as in Xrm.
  float dpi = 0.0f;
  for (const char* line = text; *line;) {
    const char* end = std::strchr(line, '\n');
    if (!end) end = line + std::strlen(line);
    static const char kName[] = "Xft.dpi:";
    if (static_cast<std::size_t>(end - line) > sizeof kName - 1 &&
        std::strncmp(line, kName, sizeof kName - 1) == 0) {
      const std::string value(line + sizeof kName - 1, end);
      char* rest = nullptr;
      const float parsed = std::strtof(value.c_str(), &rest);
      while (rest && (*rest == ' ' || *rest == '\t')) ++rest;
      dpi = rest && rest != value.c_str() && *rest == '\0' ? parsed : 0.0f;
    }
    line = *end ? end + 1 : end;
  }
  // Below 1 x the window would be too small to use; far above it, a typo.
  if (!(dpi >= 96.0f && dpi <= 960.0f)) return 1.0f;
  return dpi / 96.0f;
}
}  // namespace x11

// The SDL functions this backend calls, as pointers of the same names that
// hide SDL's own here: the program takes nothing from SDL at link time.
// clang-format off
#define CHAIN_SDL_FUNCTIONS(X)                                                                  \
  X(SDL_ConvertPixels) X(SDL_CreateRGBSurfaceWithFormatFrom) X(SDL_CreateWindow)                \
  X(SDL_DestroyWindow) X(SDL_FreeSurface) X(SDL_GetCurrentDisplayMode)                         \
  X(SDL_GetCurrentVideoDriver) X(SDL_GetDisplayUsableBounds) X(SDL_GetError)                   \
  X(SDL_GetModState) X(SDL_GetNumVideoDrivers) X(SDL_GetVideoDriver)                           \
  X(SDL_GetWindowDisplayIndex) X(SDL_GetWindowID) X(SDL_GetWindowPixelFormat)                  \
  X(SDL_GetWindowSize) X(SDL_GetWindowSizeInPixels) X(SDL_GetWindowSurface)                    \
  X(SDL_GetWindowWMInfo) X(SDL_HideWindow) X(SDL_Init) X(SDL_PollEvent) X(SDL_PushEvent)       \
  X(SDL_Quit) X(SDL_SetHint) X(SDL_SetHintWithPriority) X(SDL_SetWindowIcon)                   \
  X(SDL_SetWindowPosition) X(SDL_SetWindowSize) X(SDL_ShowWindow) X(SDL_UpdateWindowSurface)   \
  X(SDL_WaitEvent) X(SDL_getenv) X(SDL_strcasecmp)
// clang-format on
#define CHAIN_SDL_POINTER(name) decltype(&::name) name = nullptr;
CHAIN_SDL_FUNCTIONS(CHAIN_SDL_POINTER)
#undef CHAIN_SDL_POINTER

void LoadSdl() {
  static void* library = nullptr;  // kept for the process's life: SDL may hold threads
  if (library) return;
  void* loaded = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!loaded) {
    // A library that cannot be mapped in, under a memory limit, is no missing SDL.
    const std::string why = dlerror();
    throw Error("cannot load SDL 2, which " + ProgramName() + " needs on X11: " +
                (why.find("failed to map segment") != std::string::npos
                     ? "out of memory (" + why + ")"
                     : why));
  }
#define CHAIN_SDL_LOAD(name)                                     \
  name = reinterpret_cast<decltype(name)>(dlsym(loaded, #name)); \
  if (!name) throw Error("cannot load SDL 2: libSDL2-2.0.so.0 has no " #name);
  CHAIN_SDL_FUNCTIONS(CHAIN_SDL_LOAD)
#undef CHAIN_SDL_LOAD
  library = loaded;
}

// SDL's reason, or what it means where SDL's own words would mislead.
std::string SdlReason() {
  const std::string said = SDL_GetError();
  return said == "Out of memory" ? "out of memory" : said;
}

[[noreturn]] void Fail(const std::string& what) { throw Error(what + ": " + SdlReason()); }

constexpr int kIconSize = 64;  // pixels; window managers scale it as they need

// Opens a video driver that can show a window. Left to itself SDL falls
// back to its invisible drivers when there is no display, and the program
// would run unseen; those are used only when SDL_VIDEODRIVER names them.
void InitVideo() {
  const bool chosen = SDL_getenv("SDL_VIDEODRIVER") != nullptr;
  const auto set = [](const char* name) {
    const char* value = SDL_getenv(name);
    return value && *value;
  };
  if (!chosen) {
    // Wayland is never SDL's here: the program's own backend serves it.
    std::string drivers;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
      const std::string name = SDL_GetVideoDriver(i);
      if (name == "offscreen" || name == "dummy" || name == "evdev" || name == "wayland") continue;
      drivers += (drivers.empty() ? "" : ",") + name;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
  }
  // The display libraries print their own complaints (Xlib's "Authorization
  // required", say); hold them back so a failure stays on one line.
  std::string said;
  x11::WatchConnection();
  const bool ok = os::HoldBackStderr([] { return SDL_Init(SDL_INIT_VIDEO) == 0; }, said);
  if (ok) {
    if (!said.empty()) std::fprintf(stderr, "%s\n", said.c_str());
    return;
  }
  // No display at all: what to do, first; SDL's list of drivers it lacks
  // would only puzzle.
  if (!chosen && !set("DISPLAY") && !set("WAYLAND_DISPLAY"))
    throw Error("no display: set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland), or start " +
                ProgramName() + " from a desktop session");
  std::string why = SdlReason();
  if (!said.empty()) why += " [" + chain::Printable(said) + "]";
  if (const std::string scarce = os::ScarceResource(); !scarce.empty())
    throw Error("cannot open the display: " + scarce);
  // Where X11 was among the drivers tried, what stood in its way.
  const bool x11 = !chosen || SDL_strcasecmp(SDL_getenv("SDL_VIDEODRIVER"), "x11") == 0;
  if (x11 && !set("DISPLAY"))
    why += " (no X display: DISPLAY is not set)";
  else if (x11)
    why += " (cannot reach the X display \"" + chain::Printable(SDL_getenv("DISPLAY")) + "\")";
  throw Error("cannot open the display: " + why);
}

// The plain window surface unless the user asks for SDL's GPU path (a
// render driver named in SDL_RENDER_DRIVER serves the surface then), or the
// window's pixels are of a kind the plain surface cannot take (30-bit
// colour): the GPU path converts them.
void ChooseSurface(SDL_Window* window) {
  if (SDL_getenv("SDL_FRAMEBUFFER_ACCELERATION")) return;  // the user's choice stands
  const char* driver = SDL_getenv("SDL_RENDER_DRIVER");
  const bool plain = !driver || !*driver || SDL_strcasecmp(driver, "software") == 0;
  const bool convertible = SDL_GetWindowPixelFormat(window) != SDL_PIXELFORMAT_UNKNOWN;
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, plain && convertible ? "0" : plain ? "1" : driver);
}

// SDL's button state and modifier keys in the platform's terms.
std::int16_t TranslateButtons(Uint32 state) {
  return static_cast<std::int16_t>(((state & SDL_BUTTON_LMASK) ? kLeftButton : 0) |
                                   ((state & SDL_BUTTON_RMASK) ? kRightButton : 0) |
                                   ((state & SDL_BUTTON_MMASK) ? kMiddleButton : 0));
}
std::int16_t TranslateKeys(SDL_Keymod mod) {
  return static_cast<std::int16_t>(((mod & KMOD_SHIFT) ? kShiftKey : 0) |
                                   ((mod & KMOD_CTRL) ? kCtrlKey : 0) |
                                   ((mod & KMOD_ALT) ? kAltKey : 0));
}

// DISPLAY=host:N.S names screen S of the server. SDL's XRandR path lists
// every screen's outputs and opens the window on screen 0's whatever S
// says; its plain Xlib path keeps to the screen named. Where the user has
// not chosen, a screen other than 0 takes the plain path.
void KeepToTheNamedScreen() {
  const char* display = SDL_getenv("DISPLAY");
  const char* colon = display ? std::strrchr(display, ':') : nullptr;
  const char* dot = colon ? std::strchr(colon, '.') : nullptr;
  if (!dot || SDL_getenv(SDL_HINT_VIDEO_X11_XRANDR)) return;
  char* end = nullptr;
  const long screen = std::strtol(dot + 1, &end, 10);
  if (end != dot + 1 && *end == '\0' && screen > 0) SDL_SetHint(SDL_HINT_VIDEO_X11_XRANDR, "0");
}

// A device scale asked for in the environment (as SDL 3 reads
// SDL_VIDEO_X11_SCALING_FACTOR): a decimal number from 1 to 10, blanks
// around it alike on either side, or nothing, with a warning for anything
// else (hexadecimal and exponents too, which strtof alone would take).
std::optional<float> AskedScale() {
  const char* asked = SDL_getenv("SDL_VIDEO_X11_SCALING_FACTOR");
  if (!asked || !*asked) return std::nullopt;
  // What strtof read must be digits and a point only, with blanks alone after it.
  char* end = nullptr;
  const float scale = std::strtof(asked, &end);
  const char* start = asked + std::strspn(asked, " \t");
  const bool decimal = end != start &&
                       std::strspn(start, "0123456789.") == static_cast<std::size_t>(end - start) &&
                       end[std::strspn(end, " \t")] == '\0';
  if (decimal && scale >= 1.0f && scale <= 10.0f) return scale;
  std::fprintf(stderr, "%s: ignoring SDL_VIDEO_X11_SCALING_FACTOR=%s (expected 1 to 10)\n",
               ProgramName().c_str(), chain::Printable(asked).c_str());
  return std::nullopt;
}

class SdlBackend final : public Backend {
 public:
  SdlBackend(const FormDesign& design, Host& host)
      : interrupts_([] {  // Ctrl-C, SIGTERM, SIGHUP: a quit request wakes a sleeping wait
          SDL_Event quit;
          std::memset(&quit, 0, sizeof quit);
          quit.type = SDL_QUIT;
          SDL_PushEvent(&quit);
        }),
        host_(host) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // the interrupt bridge handles them
    // Let a desktop compositor keep running, and name the program.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint("SDL_APP_NAME", design.Name.c_str());
    KeepToTheNamedScreen();
    SDL_SetHintWithPriority(SDL_HINT_RENDER_VSYNC, host_.Clock.On() ? "1" : "0", SDL_HINT_OVERRIDE);
    InitVideo();
    const bool x11 = std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0;
    // From here a lost X server is our one line, whatever SDL is doing.
    x11_ = x11;
    if (x11) x11::WatchDisplay([this] { windowLost_ = true; });

    window_ = SDL_CreateWindow(design.Caption.c_str(), SDL_WINDOWPOS_UNDEFINED,
                               SDL_WINDOWPOS_UNDEFINED, design.ClientWidth, design.ClientHeight,
                               SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!window_) Fail("cannot create the window");
    id_ = SDL_GetWindowID(window_);
    FixScale(design);
    icon_ = design.Icon;  // drawn once the first picture is out: see Present
    // The window's pixels now, while it is hidden: SDL's GPU path replaces
    // the window with one it can render to, which must happen before
    // anyone sees (and holds on to) the first one.
    ChooseSurface(window_);
    if (!SDL_GetWindowSurface(window_)) {
      const std::string why = SdlReason();
      throw Error("cannot show the picture: " +
                  (why == "out of memory"
                       ? why
                       : "nothing SDL has draws into this display's windows: " + why));
    }
    host_.Events.Post({Event::kScale, 0.0f, 0.0f, Scale()});
    interrupts_.Ready();
  }

  // SDL 2 never scales on X11: size the window by the desktop's scale, or
  // the one asked for, as far as the screen's work area has room for it.
  // Without a desktop (the dummy driver) a scale can still be asked for.
  void FixScale(const FormDesign& design) {
    const std::optional<float> asked = AskedScale();
    if (x11_) {
      SDL_SysWMinfo info;
      SDL_VERSION(&info.version);
      if (asked)
        fixedScale_ = *asked;
      else if (SDL_GetWindowWMInfo(window_, &info))
        fixedScale_ = x11::DesktopScale(info.info.x11.display);
      SDL_Rect work{};
      if (SDL_GetDisplayUsableBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &work) == 0)
        fixedScale_ =
            FitScale(fixedScale_, design.ClientWidth, design.ClientHeight, work.w, work.h);
    } else if (asked) {
      fixedScale_ = *asked;
    }
    if (fixedScale_ != 1.0f) {
      SDL_SetWindowSize(window_, DevicePixels(design.ClientWidth, fixedScale_),
                        DevicePixels(design.ClientHeight, fixedScale_));
      SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    }
  }

  ~SdlBackend() override {
    interrupts_.Stop();                    // nothing may reach SDL's queue once it is shutting down
    if (x11_) x11::WatchDisplay(nullptr);  // errors about a window on its way out are none
    // With the window destroyed under us, the process is about to end with
    // a failure: closing the display would flush requests about the lost
    // window, whose errors SDL's shutdown hands back to Xlib's own
    // six-line report. The connection ends with the process instead.
    if (windowLost_) return;
    if (window_) SDL_DestroyWindow(window_);
    SDL_Quit();
  }

  float Scale() const {
    if (fixedScale_ != 1.0f) return fixedScale_;
    // Where SDL's driver scales by itself (none of those used here today):
    // device pixels over window size.
    int w = 0, h = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(window_, &w, &h);
    SDL_GetWindowSizeInPixels(window_, &dw, &dh);
    return w > 0 && dw > 0 ? static_cast<float>(dw) / static_cast<float>(w) : 1.0f;
  }

  void Show() override { SDL_ShowWindow(window_); }
  void Hide() override { SDL_HideWindow(window_); }

  Pixels Buffer() override {
    CheckWindow();
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (!surface) return {};  // none at this size (far beyond the screen)
    if (Ours(surface))
      return {static_cast<std::uint32_t*>(surface->pixels),
              surface->w,
              surface->h,
              surface->pitch / 4,
              false,
              Scale()};
    // Another layout (a 16-bit display): draw into our own, convert on present.
    try {
      own_.resize(PictureBytes(surface->w, surface->h) / 4);
    } catch (const std::bad_alloc&) {
      own_.clear();
    }
    if (own_.empty()) return {};
    return {own_.data(), surface->w, surface->h, surface->w, false, Scale()};
  }

  void Present() override {
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    const bool drawn =
        surface && (Ours(surface) ||
                    (!own_.empty() && own_.size() * 4 == PictureBytes(surface->w, surface->h) &&
                     SDL_ConvertPixels(surface->w, surface->h, SDL_PIXELFORMAT_RGB888, own_.data(),
                                       surface->w * 4, surface->format->format, surface->pixels,
                                       surface->pitch) == 0));
    if (drawn) SDL_UpdateWindowSurface(window_);
    CheckWindow();
    if (icon_) SetIcon();
    NextRefresh();
  }

  void NextRefresh() override {
    if (!host_.Clock.On()) {
      host_.Clock.Deadline(0.0);
      return;
    }
    SDL_DisplayMode mode{};
    const int display = SDL_GetWindowDisplayIndex(window_);
    const double hz =
        display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 ? mode.refresh_rate : 0.0;
    std::this_thread::sleep_until(host_.Clock.Deadline(hz));
  }

  // At rest, only what reaches the host's queue wakes the program.
  void Pump(bool wait) override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) Handle(e);
    while (wait && host_.Events.Empty() && !windowLost_) {
      if (SDL_WaitEvent(&e) == 0) Fail("cannot wait for window events");
      Handle(e);
      while (SDL_PollEvent(&e)) Handle(e);
    }
    CheckWindow();
  }

  // An event of no meaning of its own ends SDL's wait; were SDL's queue
  // full, what fills it would end the wait as well.
  void Wake() override {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_USEREVENT;
    SDL_PushEvent(&e);
  }

 private:
  // The surface already holds pixels as the shared drawing writes them.
  static bool Ours(const SDL_Surface* surface) {
    return surface->format->BytesPerPixel == 4 && surface->format->Rmask == 0xFF0000 &&
           surface->format->Gmask == 0xFF00 && surface->format->Bmask == 0xFF;
  }

  // The window manager takes an icon set while the window shows, so the
  // first picture need not wait for it to be drawn.
  void SetIcon() {
    window::RgbaImage icon = icon_(kIconSize);
    icon_ = nullptr;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        icon.Pixels.data(), icon.Width, icon.Height, 32, icon.Width * 4, SDL_PIXELFORMAT_RGBA32);
    if (!surface) Fail("cannot make the window icon");
    SDL_SetWindowIcon(window_, surface);
    SDL_FreeSurface(surface);
  }

  // Another program destroyed the window (X11 only): nothing left to show.
  void CheckWindow() const {
    if (windowLost_) throw Error("the window was destroyed by another program");
  }

  void Handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:  // Ctrl-C in the terminal, SIGTERM, SIGHUP, logout
        host_.Events.Post({Event::kClose});
        break;
      case SDL_MOUSEMOTION:
        // Device pixels on X11; SDL reports window coordinates elsewhere.
        if (e.motion.windowID == id_)
          host_.Events.Post({Event::kMove, static_cast<float>(e.motion.x),
                             static_cast<float>(e.motion.y), fixedScale_,
                             TranslateButtons(e.motion.state), TranslateKeys(SDL_GetModState())});
        break;
      case SDL_WINDOWEVENT:
        if (e.window.windowID != id_) break;
        if (e.window.event == SDL_WINDOWEVENT_CLOSE)
          host_.Events.Post({Event::kClose});
        else if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
                 e.window.event == SDL_WINDOWEVENT_DISPLAY_CHANGED)
          host_.Events.Post({Event::kScale, 0.0f, 0.0f, Scale()});
        else if (e.window.event == SDL_WINDOWEVENT_EXPOSED ||
                 e.window.event == SDL_WINDOWEVENT_SHOWN ||
                 e.window.event == SDL_WINDOWEVENT_RESTORED)
          host_.Events.Post({Event::kExpose});
        else if (e.window.event == SDL_WINDOWEVENT_HIDDEN)
          Probe();
        break;
      default:
        break;
    }
  }

  // A window unmapped by someone else may have been destroyed: one round
  // trip finds out (through the X error it raises) while the program would
  // otherwise sleep at rest.
  void Probe() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11)
      x11::CheckWindow(info.info.x11.display, info.info.x11.window);
  }

  os::InterruptBridge interrupts_;  // first: its signal mask reaches SDL's threads
  Host host_;                       // its clock paces SDL's GPU path too, where that serves
  SDL_Window* window_ = nullptr;
  Uint32 id_ = 0;
  window::RgbaImage (*icon_)(int size) = nullptr;  // to draw, once
  float fixedScale_ = 1.0f;  // the desktop's scale where SDL does not scale (X11)
  bool x11_ = false;
  std::atomic<bool> windowLost_{false};
  std::vector<std::uint32_t> own_;
};

}  // namespace

std::unique_ptr<Backend> OpenSdlBackend(const FormDesign& design, Host& host) {
  LoadSdl();
  return std::make_unique<SdlBackend>(design, host);
}

}  // namespace window::detail
