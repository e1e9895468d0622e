// The window on a Wayland compositor, natively: an xdg-shell toplevel whose
// picture is a shared-memory buffer (wl_shm) the shared drawing fills
// directly, no GPU. It is drawn at the output's full density: with the
// fractional-scale protocol and a viewport where the compositor offers
// them, at the integer buffer scale of its outputs otherwise. Presents are
// paced by the compositor's frame callbacks, and none is asked for while the
// chain is at rest. The compositor draws the title bar where it offers
// xdg-decoration; elsewhere (GNOME) libdecor draws it.
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <libdecor.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "backend.hpp"
#include "chain/printable.hpp"
#include "event_queue.hpp"
#include "fractional-scale-v1-client-protocol.h"
#include "os.hpp"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace window::detail {
namespace {

constexpr char kLost[] = "lost the connection to the Wayland compositor";

// A picture in shared memory, 0xFFRRGGBB words (WL_SHM_FORMAT_XRGB8888).
struct ShmBuffer {
  wl_buffer* buffer = nullptr;
  std::uint32_t* pixels = nullptr;
  std::size_t bytes = 0;
  int width = 0, height = 0;
  float scale = 1.0f;  // device pixels per logical pixel it was made for
  bool busy = false;   // the compositor holds it until it releases it

  void Free() {
    if (buffer) wl_buffer_destroy(buffer);
    if (pixels) munmap(pixels, bytes);
    *this = {};
  }
};

class WaylandBackend final : public Backend {
 public:
  WaylandBackend(const FormDesign& design, Host& host)
      : host_(host),
        design_(design),
        width_(design.ClientWidth),
        height_(design.ClientHeight),
        interrupts_([this] {  // Ctrl-C, SIGTERM, SIGHUP: a close request wakes the wait
          Post({Event::kClose});
        }) {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw Error("cannot make a pipe: " + Errno());
    Connect();
    BindGlobals();
    MakeSurface();
    Decorate(design.Caption);
    host_.Events.Post({Event::kScale, 0.0f, 0.0f, scale_});
    interrupts_.Ready();
  }

  // The compositor's globals this window needs, and the outputs' scales.
  void BindGlobals() {
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistry, this);
    Roundtrip();  // the globals
    Roundtrip();  // the outputs' scales, the seat's capabilities
    if (!compositor_) throw Error("the Wayland compositor offers no wl_compositor of version 4");
    if (!shm_) throw Error("the Wayland compositor offers no shared memory (wl_shm)");
    if (!wmBase_) throw Error("the Wayland compositor offers no xdg_wm_base");
    // Until the surface enters an output, the densest one's scale: the
    // first picture is then sharp wherever the window lands.
    for (const auto& [output, scale] : outputScales_)
      scale_ = std::max(scale_, static_cast<float>(scale));
  }

  // The surface, with a viewport and a fractional scale where offered.
  void MakeSurface() {
    surface_ = wl_compositor_create_surface(compositor_);
    wl_surface_add_listener(surface_, &kSurface, this);
    if (fractionalManager_ && viewporter_) {
      viewport_ = wp_viewporter_get_viewport(viewporter_, surface_);
      fractional_ =
          wp_fractional_scale_manager_v1_get_fractional_scale(fractionalManager_, surface_);
      wp_fractional_scale_v1_add_listener(fractional_, &kFractional, this);
    }
  }

  // A toplevel with the compositor's title bar (xdg-decoration), or, where
  // it draws none (GNOME), libdecor's, which makes the xdg-shell objects.
  void Decorate(const std::string& caption) {
    if (!decorationManager_) {
      decorating_ = this;
      decor_ = libdecor_new(display_, &kDecor);
      if (!decor_) throw Error("cannot decorate the window: libdecor did not start");
      frame_ = libdecor_decorate(decor_, surface_, &kFrame, this);
      if (!frame_) throw Error("cannot decorate the window: libdecor made no frame");
      libdecor_frame_set_title(frame_, caption.c_str());
      if (!design_.AppId.empty()) libdecor_frame_set_app_id(frame_, design_.AppId.c_str());
      return;
    }
    xdgSurface_ = xdg_wm_base_get_xdg_surface(wmBase_, surface_);
    xdg_surface_add_listener(xdgSurface_, &kXdgSurface, this);
    toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
    xdg_toplevel_add_listener(toplevel_, &kToplevel, this);
    xdg_toplevel_set_title(toplevel_, caption.c_str());
    if (!design_.AppId.empty()) xdg_toplevel_set_app_id(toplevel_, design_.AppId.c_str());
    decoration_ = zxdg_decoration_manager_v1_get_toplevel_decoration(decorationManager_, toplevel_);
    zxdg_toplevel_decoration_v1_set_mode(decoration_, ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
  }

  ~WaylandBackend() override {
    interrupts_.Stop();
    for (ShmBuffer& b : buffers_) b.Free();
    if (frameCallback_) wl_callback_destroy(frameCallback_);
    if (frame_) libdecor_frame_unref(frame_);
    if (decor_) libdecor_unref(decor_);
    if (decoration_) zxdg_toplevel_decoration_v1_destroy(decoration_);
    if (toplevel_) xdg_toplevel_destroy(toplevel_);
    if (xdgSurface_) xdg_surface_destroy(xdgSurface_);
    if (fractional_) wp_fractional_scale_v1_destroy(fractional_);
    if (viewport_) wp_viewport_destroy(viewport_);
    if (surface_) wl_surface_destroy(surface_);
    if (pointer_) wl_pointer_destroy(pointer_);
    if (keyboard_) wl_keyboard_destroy(keyboard_);
    if (touch_) ReleaseTouch(touch_);
    if (display_) wl_display_disconnect(display_);
    close(wake_[0]);
    close(wake_[1]);
  }

  // To the socket handed down in WAYLAND_SOCKET, or the one WAYLAND_DISPLAY
  // names (wayland-0 when unset), with the reason in one line otherwise.
  void Connect() {
    const char* socket = std::getenv("WAYLAND_SOCKET");
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (socket) CheckHandedSocket(socket);
    // libwayland prints its own complaints: held back, they join the one line.
    std::string said;
    int error = 0;
    os::HoldBackStderr(
        [&] {
          errno = 0;
          display_ = wl_display_connect(nullptr);
          error = errno;
          return display_ != nullptr;
        },
        said);
    if (!said.empty() && display_) std::fprintf(stderr, "%s\n", chain::Printable(said).c_str());
    if (display_) return;
    std::string line = "cannot open the display: cannot reach the Wayland compositor through ";
    if (socket)
      line.append("the socket WAYLAND_SOCKET=\"")
          .append(chain::Printable(socket))
          .append("\" hands down");
    else
      line.append("\"").append(chain::Printable(name && *name ? name : "wayland-0")).append("\"");
    if (error)
      line.append(" (").append(std::strerror(error)).append(")");
    else if (socket)
      line.append(" (not a connected socket)");
    if (!said.empty()) line.append(" [").append(chain::Printable(said)).append("]");
    throw Unreachable(line);
  }

  // WAYLAND_SOCKET is a descriptor number a launcher hands down, connected
  // to the compositor. Anything else (a file, a pipe, nothing open) would
  // only fail at the first word, as if the compositor had been lost.
  static void CheckHandedSocket(const char* socket) {
    char* end = nullptr;
    errno = 0;
    const long fd = std::strtol(socket, &end, 10);
    struct stat status {};
    const char* what = nullptr;
    if (end == socket || *end || errno || fd < 0 || fd > 0x7FFFFFFF)
      what = "is not a descriptor number";
    else if (fstat(static_cast<int>(fd), &status) != 0)
      what = "names no open descriptor";
    else if (!S_ISSOCK(status.st_mode))
      what = S_ISFIFO(status.st_mode) ? "names a pipe" : "names a file";
    if (what)
      throw Unreachable("cannot open the display: WAYLAND_SOCKET=\"" + chain::Printable(socket) +
                        "\" should hand down a socket connected to a Wayland compositor, but " +
                        what);
  }

  void Show() override {
    if (shown_) return;
    shown_ = true;
    if (frame_)
      libdecor_frame_map(frame_);
    else
      wl_surface_commit(surface_);  // no buffer yet: asks for the first configure
    while (!configured_ && !closing_) Dispatch(-1);
  }

  void Hide() override {
    if (!shown_) return;
    shown_ = false;
    wl_surface_attach(surface_, nullptr, 0, 0);
    wl_surface_commit(surface_);
    wl_display_flush(display_);
  }

  Pixels Buffer() override {
    // One the compositor does not hold, of this size or made so; where it
    // holds both, wait for one back. The size is taken afresh after each
    // wait, in which a new scale or size may have come.
    for (;;) {
      const int w = DevicePixels(width_, scale_);
      const int h = DevicePixels(height_, scale_);
      for (ShmBuffer& b : buffers_) {
        if (b.busy) continue;
        if ((b.width != w || b.height != h || b.scale != scale_) && !Make(b, w, h)) return {};
        current_ = &b;
        return {b.pixels, b.width, b.height, b.width, false, scale_};
      }
      if (closing_) return {};
      Dispatch(-1);
    }
  }

  void Present() override {
    if (!current_ || !shown_) return;
    ShmBuffer& b = *current_;
    wl_surface_attach(surface_, b.buffer, 0, 0);
    wl_surface_damage_buffer(surface_, 0, 0, b.width, b.height);
    // Each buffer goes with the scale it was drawn for, whatever came since:
    // its size is a whole multiple of that scale, as the protocol demands.
    if (viewport_)
      wp_viewport_set_destination(viewport_, width_, height_);
    else
      wl_surface_set_buffer_scale(surface_, static_cast<std::int32_t>(b.scale));
    if (host_.Clock.On() && !frameCallback_) AskForFrame();
    wl_surface_commit(surface_);
    b.busy = true;
    current_ = nullptr;
    onScreen_ = &b;
    presented_ = true;
    Flush();
    AwaitFrame();
  }

  // A frame with nothing new to show still waits for the compositor's next
  // one: an empty commit asks for it and leaves the picture as it is.
  void NextRefresh() override {
    if (host_.Clock.On() && !frameCallback_ && shown_ && presented_) {
      AskForFrame();
      wl_surface_commit(surface_);
      Flush();
    }
    AwaitFrame();
  }

  // The compositor's time for the frame: its frame callback's, where one
  // came for this frame; none after a rest, or for a hidden window the
  // compositor asks nothing of.
  std::optional<double> DisplayTime() override {
    if (host_.Clock.On()) return shownAt_;
    return std::nullopt;
  }

  // At rest only an event wakes the program: a frame callback that comes
  // after its wait gave up (a slow or throttled output) is taken and slept
  // through, and its time is not the next frame's.
  void Pump(bool wait) override {
    if (!wait || !host_.Events.Empty()) {
      Dispatch(0);
    } else {
      GiveBackIdleBuffers();
      while (host_.Events.Empty() && !closing_) Dispatch(-1);
    }
    if (wait) shownAt_.reset();
  }

  void Wake() override {
    [[maybe_unused]] const ssize_t written = write(wake_[1], "x", 1);  // wakes a waiting pump
  }

 private:
  static std::string Errno() { return std::strerror(errno); }

  void Post(const Event& e) {
    if (e.kind == Event::kClose) closing_ = true;
    host_.Events.Post(e);
    Wake();
  }

  // The connection's end, named: libwayland also ends it where it could
  // not allocate what it reads.
  [[noreturn]] void Lost() {
    if (wl_display_get_error(display_) == ENOMEM)
      throw Error("out of memory (" + std::string(kLost) + ")");
    throw Error(kLost);
  }

  void Check() {
    if (wl_display_get_error(display_) != 0) Lost();
  }

  void Roundtrip() {
    if (wl_display_roundtrip(display_) < 0) Lost();
  }

  void Flush() {
    while (wl_display_flush(display_) < 0) {
      if (errno != EAGAIN) Lost();
      pollfd out{wl_display_get_fd(display_), POLLOUT, 0};
      poll(&out, 1, -1);
    }
  }

  // Reads what the compositor sent, waiting up to `timeoutMs` (-1: until
  // something arrives, from the compositor or the wake pipe), and runs the
  // listeners.
  void Dispatch(int timeoutMs) {
    while (wl_display_prepare_read(display_) != 0)
      if (wl_display_dispatch_pending(display_) < 0) Lost();
    try {
      Flush();
    } catch (...) {
      wl_display_cancel_read(display_);
      throw;
    }
    pollfd fds[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs);
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      if (wl_display_read_events(display_) < 0) Lost();
    } else {
      wl_display_cancel_read(display_);
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) Lost();
    if (fds[1].revents & POLLIN) {
      char drained[64];
      while (read(wake_[0], drained, sizeof drained) > 0) {
      }
    }
    if (decor_) {
      if (libdecor_dispatch(decor_, 0) < 0) Lost();
    } else if (wl_display_dispatch_pending(display_) < 0) {
      Lost();
    }
    if (!decorFailure_.empty()) throw Error("cannot decorate the window: " + decorFailure_);
    Check();
  }

  bool Make(ShmBuffer& b, int w, int h) {
    b.Free();
    // A size whose pixels cannot be had draws nothing until it changes; a
    // pool is at most 2^31 - 1 bytes.
    const std::size_t bytes = PictureBytes(w, h);
    if (bytes == 0) return false;
    const int fd =
        memfd_create(design_.Name.empty() ? "window" : design_.Name.c_str(), MFD_CLOEXEC);
    if (fd < 0) return false;
    void* memory = ftruncate(fd, static_cast<off_t>(bytes)) == 0
                       ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    if (memory == MAP_FAILED) {
      close(fd);
      return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(bytes));
    b.buffer = wl_shm_pool_create_buffer(pool, 0, w, h, w * 4, WL_SHM_FORMAT_XRGB8888);
    wl_buffer_add_listener(b.buffer, &kBufferRelease, &b);
    wl_shm_pool_destroy(pool);
    close(fd);
    b.pixels = static_cast<std::uint32_t*>(memory);
    b.bytes = bytes;
    b.width = w;
    b.height = h;
    b.scale = scale_;
    return true;
  }

  // At rest one picture is enough: the one on the screen. The other buffer,
  // which the compositor no longer reads, is given back (about 1 MB at
  // scale 1) and made again at the first picture after the rest, without
  // waiting for the compositor. One it still holds is kept until the next rest.
  // So are the heap's pages that start-up and motion used and freed.
  void GiveBackIdleBuffers() {
    for (ShmBuffer& b : buffers_)
      if (&b != onScreen_ && !b.busy && b.buffer) b.Free();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
  }

  // A new size or scale: the next picture is drawn for it.
  void Resized(int width, int height) {
    if (width > 0 && height > 0) width_ = width, height_ = height;
    Post({Event::kExpose});
  }

  void Rescaled(float scale) {
    if (scale <= 0.0f || scale == scale_) return;
    scale_ = scale;
    Post({Event::kScale, 0.0f, 0.0f, scale_});
  }

  // The integer scale of the outputs the surface is on, where no
  // fractional scale is offered.
  void OutputsChanged() {
    if (fractional_ || entered_.empty()) return;
    int scale = 1;
    for (wl_output* output : entered_) scale = std::max(scale, outputScales_[output]);
    Rescaled(static_cast<float>(scale));
  }

  // ---- listeners ----

  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    auto& w = *static_cast<WaylandBackend*>(data);
    const auto bind = [&](const wl_interface* what, std::uint32_t most) {
      return wl_registry_bind(registry, name, what, std::min(version, most));
    };
    const std::string i = interface;
    if (i == wl_compositor_interface.name && version >= 4)
      w.compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    else if (i == wl_shm_interface.name)
      w.shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    else if (i == xdg_wm_base_interface.name) {
      w.wmBase_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 2));
      xdg_wm_base_add_listener(w.wmBase_, &kWmBase, &w);
    } else if (i == wl_seat_interface.name && !w.seat_) {
      w.seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
      wl_seat_add_listener(w.seat_, &kSeat, &w);
    } else if (i == wl_output_interface.name && version >= 2) {
      auto* output = static_cast<wl_output*>(bind(&wl_output_interface, 2));
      w.outputScales_[output] = 1;
      wl_output_add_listener(output, &kOutput, &w);
    } else if (i == zxdg_decoration_manager_v1_interface.name &&
               !w.host_.Settings.OwnDecorations)  // libdecor's, asked for
      w.decorationManager_ =
          static_cast<zxdg_decoration_manager_v1*>(bind(&zxdg_decoration_manager_v1_interface, 1));
    else if (i == wp_fractional_scale_manager_v1_interface.name)
      w.fractionalManager_ = static_cast<wp_fractional_scale_manager_v1*>(
          bind(&wp_fractional_scale_manager_v1_interface, 1));
    else if (i == wp_viewporter_interface.name)
      w.viewporter_ = static_cast<wp_viewporter*>(bind(&wp_viewporter_interface, 1));
  }
  static void GlobalRemoved(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistry = {.global = Global,
                                                     .global_remove = GlobalRemoved};

  static void Ping(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
  }
  static constexpr xdg_wm_base_listener kWmBase = {.ping = Ping};

  static void SurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
    auto& w = *static_cast<WaylandBackend*>(data);
    xdg_surface_ack_configure(surface, serial);
    w.configured_ = true;
    w.Resized(w.pendingWidth_, w.pendingHeight_);
  }
  static constexpr xdg_surface_listener kXdgSurface = {.configure = SurfaceConfigure};

  // 0 x 0: the window's own size, the design's; a compositor that tiles
  // gives another, and the picture is drawn for it (the chain keeps its
  // place, clipped).
  static void ToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                                wl_array*) {
    auto& w = *static_cast<WaylandBackend*>(data);
    w.pendingWidth_ = width > 0 ? width : w.design_.ClientWidth;
    w.pendingHeight_ = height > 0 ? height : w.design_.ClientHeight;
  }
  static void ToplevelClose(void* data, xdg_toplevel*) {
    static_cast<WaylandBackend*>(data)->Post({Event::kClose});
  }
  // Later versions' events (bounds, capabilities) are never sent: version 2 is bound.
  static constexpr xdg_toplevel_listener kToplevel = [] {
    xdg_toplevel_listener l{};
    l.configure = ToplevelConfigure;
    l.close = ToplevelClose;
    return l;
  }();

  static void FrameConfigure(libdecor_frame* frame, libdecor_configuration* configuration,
                             void* data) {
    auto& w = *static_cast<WaylandBackend*>(data);
    int width = 0, height = 0;
    if (!libdecor_configuration_get_content_size(configuration, frame, &width, &height))
      width = w.design_.ClientWidth, height = w.design_.ClientHeight;
    libdecor_state* state = libdecor_state_new(width, height);
    libdecor_frame_commit(frame, state, configuration);
    libdecor_state_free(state);
    w.configured_ = true;
    w.Resized(width, height);
  }
  static void FrameClose(libdecor_frame*, void* data) {
    static_cast<WaylandBackend*>(data)->Post({Event::kClose});
  }
  static void FrameCommit(libdecor_frame*, void* data) {
    wl_surface_commit(static_cast<WaylandBackend*>(data)->surface_);
  }
  static void DismissPopup(libdecor_frame*, const char*, void*) {}
  static constexpr libdecor_frame_interface kFrameEvents = [] {
    libdecor_frame_interface f{};
    f.configure = FrameConfigure;
    f.close = FrameClose;
    f.commit = FrameCommit;
    f.dismiss_popup = DismissPopup;
    return f;
  }();
  static inline libdecor_frame_interface kFrame = kFrameEvents;  // libdecor takes it non-const
  // Said after the dispatch that raised it: nothing may be thrown through
  // libwayland's own frames.
  static void DecorError(libdecor*, libdecor_error, const char* message) {
    if (decorating_) decorating_->decorFailure_ = message ? message : "unknown error";
  }
  static constexpr libdecor_interface kDecorEvents = [] {
    libdecor_interface d{};
    d.error = DecorError;
    return d;
  }();
  static inline libdecor_interface kDecor = kDecorEvents;

  static void Enter(void* data, wl_surface*, wl_output* output) {
    auto& w = *static_cast<WaylandBackend*>(data);
    w.entered_.insert(output);
    w.OutputsChanged();
  }
  static void Leave(void* data, wl_surface*, wl_output* output) {
    auto& w = *static_cast<WaylandBackend*>(data);
    w.entered_.erase(output);
    w.OutputsChanged();
  }
  static constexpr wl_surface_listener kSurface = {.enter = Enter, .leave = Leave};

  static void PreferredScale(void* data, wp_fractional_scale_v1*, std::uint32_t scale120) {
    static_cast<WaylandBackend*>(data)->Rescaled(static_cast<float>(scale120) / 120.0f);
  }
  static constexpr wp_fractional_scale_v1_listener kFractional = {.preferred_scale =
                                                                      PreferredScale};

  static void OutputGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t,
                             std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {}
  static void OutputMode(void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t,
                         std::int32_t) {}
  static void OutputDone(void* data, wl_output*) {
    static_cast<WaylandBackend*>(data)->OutputsChanged();
  }
  static void OutputScale(void* data, wl_output* output, std::int32_t factor) {
    static_cast<WaylandBackend*>(data)->outputScales_[output] = std::max(1, factor);
  }
  static constexpr wl_output_listener kOutput = [] {  // version 2: no name, no description
    wl_output_listener l{};
    l.geometry = OutputGeometry;
    l.mode = OutputMode;
    l.done = OutputDone;
    l.scale = OutputScale;
    return l;
  }();

  static void Capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
    auto& w = *static_cast<WaylandBackend*>(data);
    w.Follow(caps & WL_SEAT_CAPABILITY_POINTER, w.pointer_, seat, wl_seat_get_pointer, kPointer,
             wl_pointer_destroy);
    if (w.Follow(caps & WL_SEAT_CAPABILITY_TOUCH, w.touch_, seat, wl_seat_get_touch, kTouch,
                 ReleaseTouch))
      w.finger_.reset();
    if (w.Follow(caps & WL_SEAT_CAPABILITY_KEYBOARD, w.keyboard_, seat, wl_seat_get_keyboard,
                 kKeyboard, wl_keyboard_destroy))
      w.keys_ = 0;
  }
  // A device of the seat, taken when it comes; true when it has gone.
  template <typename Device, typename Listener>
  bool Follow(bool has, Device*& device, wl_seat* seat, Device* (*get)(wl_seat*),
              const Listener& listener, void (*drop)(Device*)) {
    if (has && !device) {
      device = get(seat);
      wl_proxy_add_listener(reinterpret_cast<wl_proxy*>(device),
                            reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)),
                            this);
    } else if (!has && device) {
      drop(device);
      device = nullptr;
      return true;
    }
    return false;
  }

  // The keyboard only for the modifier keys a move reports. Their bits are
  // the keymap's modifier indices; xkb puts its eight real modifiers first
  // in every keymap: Shift 0, Lock 1, Control 2, Mod1 (Alt) 3.
  static std::int16_t TranslateKeys(std::uint32_t mods) {
    return static_cast<std::int16_t>(((mods & 1u) ? kShiftKey : 0) | ((mods & 4u) ? kCtrlKey : 0) |
                                     ((mods & 8u) ? kAltKey : 0));
  }
  static void KeyMap(void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) {
    close(fd);  // not needed: the modifiers' indices are fixed
  }
  static void KeyEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
  static void KeyLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    static_cast<WaylandBackend*>(data)->keys_ = 0;
  }
  static void Key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  }
  static void Modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                        std::uint32_t latched, std::uint32_t, std::uint32_t) {
    static_cast<WaylandBackend*>(data)->keys_ = TranslateKeys(depressed | latched);
  }
  static void RepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
  static constexpr wl_keyboard_listener kKeyboard = {.keymap = KeyMap,
                                                     .enter = KeyEnter,
                                                     .leave = KeyLeave,
                                                     .key = Key,
                                                     .modifiers = Modifiers,
                                                     .repeat_info = RepeatInfo};
  static void SeatName(void*, wl_seat*, const char*) {}
  static constexpr wl_seat_listener kSeat = {.capabilities = Capabilities, .name = SeatName};

  // Positions in the surface's logical pixels: the chain's own. While a
  // button is held the compositor keeps sending them outside the window.
  void Moved(wl_fixed_t x, wl_fixed_t y) {
    Post({Event::kMove, static_cast<float>(wl_fixed_to_double(x)),
          static_cast<float>(wl_fixed_to_double(y)), 1.0f, buttons_, keys_});
  }
  static void PointerEnter(void* data, wl_pointer*, std::uint32_t, wl_surface* surface,
                           wl_fixed_t x, wl_fixed_t y) {
    auto& w = *static_cast<WaylandBackend*>(data);
    w.inside_ = surface == w.surface_;
    if (w.inside_) w.Moved(x, y);
  }
  static void PointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*) {
    static_cast<WaylandBackend*>(data)->inside_ = false;
  }
  static void PointerMotion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
    auto& w = *static_cast<WaylandBackend*>(data);
    if (w.inside_) w.Moved(x, y);
  }
  // BTN_LEFT, BTN_RIGHT, BTN_MIDDLE (linux/input-event-codes.h) in the
  // platform's terms; other buttons are not reported.
  static std::int16_t TranslateButton(std::uint32_t button) {
    switch (button) {
      case 0x110:
        return kLeftButton;
      case 0x111:
        return kRightButton;
      case 0x112:
        return kMiddleButton;
      default:
        return 0;
    }
  }
  static void PointerButton(void* data, wl_pointer*, std::uint32_t, std::uint32_t,
                            std::uint32_t button, std::uint32_t state) {
    auto& w = *static_cast<WaylandBackend*>(data);
    const std::int16_t bit = TranslateButton(button);
    w.buttons_ = static_cast<std::int16_t>(
        state == WL_POINTER_BUTTON_STATE_PRESSED ? w.buttons_ | bit : w.buttons_ & ~bit);
  }
  static void PointerAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
  static void PointerFrame(void*, wl_pointer*) {}
  static void PointerAxisSource(void*, wl_pointer*, std::uint32_t) {}
  static void PointerAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
  static void PointerAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
  static constexpr wl_pointer_listener kPointer = [] {  // version 5: no axis_value120
    wl_pointer_listener l{};
    l.enter = PointerEnter;
    l.leave = PointerLeave;
    l.motion = PointerMotion;
    l.button = PointerButton;
    l.axis = PointerAxis;
    l.frame = PointerFrame;
    l.axis_source = PointerAxisSource;
    l.axis_stop = PointerAxisStop;
    l.axis_discrete = PointerAxisDiscrete;
    return l;
  }();

  // A finger drives the head as a pointer with its left button held does, as
  // in the page: the first one down on the window, until it lifts or the
  // compositor takes the touch for itself (cancel); the others are ignored.
  static void TouchDown(void* data, wl_touch*, std::uint32_t, std::uint32_t, wl_surface* surface,
                        std::int32_t id, wl_fixed_t x, wl_fixed_t y) {
    auto& w = *static_cast<WaylandBackend*>(data);
    if (surface != w.surface_ || w.finger_) return;
    w.finger_ = id;
    w.Touched(x, y);
  }
  static void TouchMotion(void* data, wl_touch*, std::uint32_t, std::int32_t id, wl_fixed_t x,
                          wl_fixed_t y) {
    auto& w = *static_cast<WaylandBackend*>(data);
    if (w.finger_ == id) w.Touched(x, y);
  }
  static void TouchUp(void* data, wl_touch*, std::uint32_t, std::uint32_t, std::int32_t id) {
    auto& w = *static_cast<WaylandBackend*>(data);
    if (w.finger_ == id) w.finger_.reset();
  }
  static void TouchCancel(void* data, wl_touch*) {
    static_cast<WaylandBackend*>(data)->finger_.reset();
  }
  static void TouchFrame(void*, wl_touch*) {}
  static constexpr wl_touch_listener kTouch = {
      // version 5: no shape or orientation
      .down = TouchDown,     .up = TouchUp,    .motion = TouchMotion, .frame = TouchFrame,
      .cancel = TouchCancel, .shape = nullptr, .orientation = nullptr};
  static void ReleaseTouch(wl_touch* touch) {  // a request from version 3, a seat's
    if (wl_touch_get_version(touch) >= WL_TOUCH_RELEASE_SINCE_VERSION)
      wl_touch_release(touch);
    else
      wl_touch_destroy(touch);
  }
  void Touched(wl_fixed_t x, wl_fixed_t y) {
    Post({Event::kMove, static_cast<float>(wl_fixed_to_double(x)),
          static_cast<float>(wl_fixed_to_double(y)), 1.0f, kLeftButton, keys_});
  }

  static void Released(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
  static constexpr wl_buffer_listener kBufferRelease = {.release = Released};

  void AskForFrame() {
    frameCallback_ = wl_surface_frame(surface_);
    wl_callback_add_listener(frameCallback_, &kFrameDone, this);
  }

  // Until the compositor wants the next frame; a hidden window may never
  // be asked, so never longer than two of the display's frames.
  void AwaitFrame() {
    const auto deadline = host_.Clock.Deadline(30.0);
    if (!host_.Clock.On()) return;
    shownAt_.reset();
    while (frameCallback_ && Pacer::Clock::now() < deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Pacer::Clock::now());
      Dispatch(static_cast<int>(std::max<long long>(1, left.count())));
      if (closing_) break;
    }
  }

  // The callback's time is in milliseconds, 32 bits, of a clock the protocol
  // leaves open; compositors use the monotonic one, as the steady clock
  // does. A time that is not within a second of it is taken as received.
  static void FrameDone(void* data, wl_callback* callback, std::uint32_t ms) {
    auto& w = *static_cast<WaylandBackend*>(data);
    wl_callback_destroy(callback);
    if (w.frameCallback_ != callback) return;
    w.frameCallback_ = nullptr;
    const double now = w.host_.Clock.NowMs();
    const auto ahead =
        static_cast<std::int32_t>(ms - static_cast<std::uint32_t>(static_cast<std::uint64_t>(now)));
    w.shownAt_ = std::abs(ahead) < 1000 ? std::floor(now) + ahead : now;
  }
  static constexpr wl_callback_listener kFrameDone = {.done = FrameDone};

  Host host_;
  FormDesign design_;
  int width_, height_;  // the surface's logical size
  int pendingWidth_ = 0, pendingHeight_ = 0;
  float scale_ = 1.0f;  // device pixels per logical pixel
  bool shown_ = false, configured_ = false, inside_ = false, presented_ = false;
  std::optional<double> shownAt_;  // the last frame callback's time, ms, if one came this frame
  std::int16_t buttons_ = 0;
  int wake_[2] = {-1, -1};
  os::InterruptBridge interrupts_;

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  xdg_wm_base* wmBase_ = nullptr;
  wl_seat* seat_ = nullptr;
  wl_pointer* pointer_ = nullptr;
  wl_keyboard* keyboard_ = nullptr;
  wl_touch* touch_ = nullptr;
  std::optional<std::int32_t> finger_;  // the touch point that drives the head
  std::int16_t keys_ = 0;               // the modifier keys held (ShiftKeys)
  zxdg_decoration_manager_v1* decorationManager_ = nullptr;
  wp_fractional_scale_manager_v1* fractionalManager_ = nullptr;
  wp_viewporter* viewporter_ = nullptr;
  std::map<wl_output*, int> outputScales_;
  std::set<wl_output*> entered_;

  wl_surface* surface_ = nullptr;
  xdg_surface* xdgSurface_ = nullptr;
  xdg_toplevel* toplevel_ = nullptr;
  zxdg_toplevel_decoration_v1* decoration_ = nullptr;
  wp_viewport* viewport_ = nullptr;
  wp_fractional_scale_v1* fractional_ = nullptr;
  libdecor* decor_ = nullptr;
  libdecor_frame* frame_ = nullptr;
  std::string decorFailure_;
  static inline WaylandBackend* decorating_ = nullptr;  // libdecor's errors carry no user data
  wl_callback* frameCallback_ = nullptr;

  ShmBuffer buffers_[2];
  ShmBuffer* current_ = nullptr;      // the one Buffer() gave out
  ShmBuffer* onScreen_ = nullptr;     // the one last presented
  std::atomic<bool> closing_{false};  // a close request is on its way
};

}  // namespace

std::unique_ptr<Backend> OpenWaylandBackend(const FormDesign& design, Host& host) {
  return std::make_unique<WaylandBackend>(design, host);
}

}  // namespace window::detail
