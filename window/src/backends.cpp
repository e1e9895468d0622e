// The window systems this build can show its window on, in one table, and
// the choice among them: the one the program names, or else the first the
// session offers. The null backend is there on every platform, by name only
// (in a page, where it is linked).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backend.hpp"
#include "chain/printable.hpp"
#include "window/process.hpp"

namespace window::detail {
#ifndef __EMSCRIPTEN__
namespace {

bool Same(const char* name, const std::string& asked) {
  if (std::strlen(name) != asked.size()) return false;
  for (std::size_t i = 0; i < asked.size(); ++i)
    if ((name[i] | 0x20) != (asked[i] | 0x20)) return false;  // ASCII letters in any case
  return true;
}

bool Named(const char* variable, const char* value) {
  const char* set = std::getenv(variable);
  return set && Same(value, set);
}

bool Always() { return true; }
bool ByNameOnly() { return false; }

#ifndef _WIN32
bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

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

// The backend named, if any: the program's choice, or else SDL_VIDEODRIVER's
// "wayland" (SDL's own name for it, read as ours).
const BackendEntry* Asked(const std::string& name) {
  const std::string wanted =
      !name.empty() || !Named("SDL_VIDEODRIVER", "wayland") ? name : "wayland";
  if (wanted.empty()) return nullptr;
  for (const Entry& entry : kBackends)
    if (entry.Backend.Open && Same(entry.Backend.Name, wanted)) return &entry.Backend;
  throw Error("no window system named \"" + chain::Printable(name) + "\"");
}

#ifndef _WIN32
// Where the first choice cannot reach its server, the next one the session
// offers with a display of its own (X11 beside a stale WAYLAND_DISPLAY).
std::unique_ptr<Backend> OpenInstead(const Entry& failed, const Unreachable& why,
                                     const FormDesign& design, Host& host) {
  const char* x11 = std::getenv("DISPLAY");
  const Entry* next = &failed + 1;
  if (next == std::end(kBackends) || std::strcmp(next->Backend.Name, "x11") != 0 || !x11 || !*x11)
    throw;  // the Unreachable being handled
  try {
    std::unique_ptr<Backend> backend = next->Backend.Open(design, host);
    const std::string line = ProgramName() + ": " + why.what() + "; using the X display \"" +
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
                                                  const FormDesign&, Host&) {
  throw;  // the Unreachable being handled
}
#endif

}  // namespace
#endif

#ifdef __EMSCRIPTEN__
// The page's canvas, or the null backend where it is linked (the tests
// under node) and named.
std::unique_ptr<Backend> OpenBackend(const FormDesign& design, Host& host,
                                     const std::string& name) {
  if (name.empty() || name == "page") return OpenWebBackend(design, host);
  if (name == "null" && OpenNullBackend) return OpenNullBackend(design, host);
  throw Error("no window system named \"" + name + "\"");
}
#else
std::unique_ptr<Backend> OpenBackend(const FormDesign& design, Host& host,
                                     const std::string& name) {
  if (const BackendEntry* asked = Asked(name)) return asked->Open(design, host);
  for (const Entry& entry : kBackends) {
    if (!entry.Offered()) continue;
    try {
      return entry.Backend.Open(design, host);
    } catch (const Unreachable& why) {
      return OpenInstead(entry, why, design, host);
    }
  }
  throw Error("no window system to show the window on");
}
#endif

}  // namespace window::detail

namespace window {
std::vector<std::string> Backends() {
#ifdef __EMSCRIPTEN__
  return {"page"};
#else
  std::vector<std::string> names;
  for (const detail::Entry& entry : detail::kBackends) names.emplace_back(entry.Backend.Name);
  return names;
#endif
}
}  // namespace window
