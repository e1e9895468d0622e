// The window systems this build can show its window on, in one table, and
// the choice among them: the one CHAIN_BACKEND names, or else the first the
// session offers. The null backend is there on every platform, by name only
// (in a page, where it is linked).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "backend.hpp"
#include "chain/printable.hpp"

namespace window::detail {
#ifndef __EMSCRIPTEN__
namespace {

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

bool Named(const char* variable, const char* value) {
  const char* set = std::getenv(variable);
  if (!set) return false;
  for (; *set && *value; ++set, ++value)
    if ((*set | 0x20) != (*value | 0x20)) return false;  // ASCII letters in any case
  return !*set && !*value;
}

bool Always() { return true; }
bool ByNameOnly() { return false; }

#ifndef _WIN32
// Native Wayland where the session offers it (WAYLAND_DISPLAY, or a socket
// handed down by the compositor's launcher), as SDL 3 and GTK choose, unless
// SDL_VIDEODRIVER names another of SDL's drivers (x11, or the tests' dummy).
bool WaylandSession() {
  return (Set("WAYLAND_DISPLAY") || Set("WAYLAND_SOCKET")) &&
         (!Set("SDL_VIDEODRIVER") || Named("SDL_VIDEODRIVER", "wayland"));
}
#endif

struct Entry {
  BackendEntry Backend;
  bool (*Offered)();  // chosen, unnamed, where this says so
};

constexpr Entry kBackends[] = {
#if defined(_WIN32)
    {{"win32", OpenWin32Backend}, Always},
#else
    {{"wayland", OpenWaylandBackend}, WaylandSession},
    {{"x11", OpenSdlBackend}, Always},  // and SDL's other drivers, by SDL_VIDEODRIVER
#endif
    {{"null", OpenNullBackend}, ByNameOnly},
};

// The backend CHAIN_BACKEND (or SDL_VIDEODRIVER=wayland) names, if any.
const BackendEntry* Asked() {
  if (Set("CHAIN_BACKEND")) {
    for (const Entry& entry : kBackends)
      if (entry.Backend.Open && Named("CHAIN_BACKEND", entry.Backend.Name)) return &entry.Backend;
    std::string names;
    for (const Entry& entry : kBackends)
      names.append(names.empty()                       ? ""
                   : &entry == std::end(kBackends) - 1 ? " or "
                                                       : ", ")
          .append(entry.Backend.Name);
    throw Error("unknown CHAIN_BACKEND \"" + chain::Printable(std::getenv("CHAIN_BACKEND")) +
                "\" (expected " + names + ")");
  }
  if (Named("SDL_VIDEODRIVER", "wayland"))  // SDL's own name for it, read as ours
    for (const Entry& entry : kBackends)
      if (std::strcmp(entry.Backend.Name, "wayland") == 0) return &entry.Backend;
  return nullptr;
}

#ifndef _WIN32
// Where the first choice cannot reach its server, the next one the session
// offers with a display of its own (X11 beside a stale WAYLAND_DISPLAY).
std::unique_ptr<Backend> OpenInstead(const Entry& failed, const Unreachable& why,
                                     const FormDesign& design) {
  const char* x11 = std::getenv("DISPLAY");
  const Entry* next = &failed + 1;
  if (next == std::end(kBackends) || std::strcmp(next->Backend.Name, "x11") != 0 || !x11 || !*x11)
    throw;  // the Unreachable being handled
  try {
    std::unique_ptr<Backend> backend = next->Backend.Open(design);
    const std::string line = std::string("chain: ") + why.what() + "; using the X display \"" +
                             chain::Printable(x11) + "\"\n";
    std::fputs(line.c_str(), stderr);
    return backend;
  } catch (const Error& e) {
    throw Error(std::string(why.what()) + "; and X11: " + e.what());
  }
}
#else
// Only Wayland has another backend to fall back on.
[[noreturn]] std::unique_ptr<Backend> OpenInstead(const Entry&, const Unreachable&,
                                                  const FormDesign&) {
  throw;  // the Unreachable being handled
}
#endif

}  // namespace
#endif

#ifdef __EMSCRIPTEN__
// A page has no environment to name a backend in: the null backend where
// it is linked (the tests under node), the page's canvas otherwise.
std::unique_ptr<Backend> OpenBackend(const FormDesign& design) {
  return OpenNullBackend ? OpenNullBackend(design) : OpenWebBackend(design);
}
#else
std::unique_ptr<Backend> OpenBackend(const FormDesign& design) {
  if (const BackendEntry* asked = Asked()) return asked->Open(design);
  for (const Entry& entry : kBackends) {
    if (!entry.Offered()) continue;
    try {
      return entry.Backend.Open(design);
    } catch (const Unreachable& why) {
      return OpenInstead(entry, why, design);
    }
  }
  throw Error("no window system to show the window on");
}
#endif

}  // namespace window::detail
