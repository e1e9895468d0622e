// The floor the Wayland backend is measured against: a bare wl_shm window
// of the same size, titled "bare", drawing 41 circles once and then waiting
// for its close. Nothing else: no scale, no pacing, no decorations.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "xdg-shell-client-protocol.h"

namespace {

constexpr int kWidth = 556, kHeight = 425;

wl_compositor* compositor = nullptr;
wl_shm* shm = nullptr;
xdg_wm_base* wmBase = nullptr;
bool configured = false, closed = false;

void Global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
  if (std::strcmp(interface, wl_compositor_interface.name) == 0)
    compositor =
        static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  else if (std::strcmp(interface, wl_shm_interface.name) == 0)
    shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
    wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
}
void GlobalRemoved(void*, wl_registry*, std::uint32_t) {}
void Ping(void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }
void Configure(void*, xdg_surface* surface, std::uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  configured = true;
}
void ToplevelConfigure(void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {}
void Close(void*, xdg_toplevel*) { closed = true; }

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  wl_registry* registry = wl_display_get_registry(display);
  const wl_registry_listener registryListener = {Global, GlobalRemoved};
  wl_registry_add_listener(registry, &registryListener, nullptr);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !wmBase) return 1;
  const xdg_wm_base_listener pong = {Ping};
  xdg_wm_base_add_listener(wmBase, &pong, nullptr);
  wl_surface* surface = wl_compositor_create_surface(compositor);
  xdg_surface* xsurface = xdg_wm_base_get_xdg_surface(wmBase, surface);
  const xdg_surface_listener surfaceListener = {Configure};
  xdg_surface_add_listener(xsurface, &surfaceListener, nullptr);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(xsurface);
  xdg_toplevel_listener toplevelListener{};
  toplevelListener.configure = ToplevelConfigure;
  toplevelListener.close = Close;
  xdg_toplevel_add_listener(toplevel, &toplevelListener, nullptr);
  xdg_toplevel_set_title(toplevel, "bare");
  wl_surface_commit(surface);
  while (!configured && wl_display_dispatch(display) >= 0) {
  }

  const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * 4;
  const int fd = memfd_create("bare", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) return 1;
  auto* pixels =
      static_cast<std::uint32_t*>(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(bytes));
  wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, kWidth, kHeight, kWidth * 4, WL_SHM_FORMAT_XRGB8888);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      std::uint32_t colour = 0xF0F0F0;
      for (int i = 0; i < 41; ++i) {
        const int dx = x - (280 - i * 6), dy = y - (300 - i * 6);
        if (dx * dx + dy * dy <= 16) colour = dx * dx + dy * dy <= 9 ? 0xFF0000 : 0x000000;
      }
      pixels[y * kWidth + x] = colour;
    }
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, kWidth, kHeight);
  wl_surface_commit(surface);
  while (!closed && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}
