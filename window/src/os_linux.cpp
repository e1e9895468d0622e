// Process glue for Linux: signals, standard error, and the X11 display
// library's failure paths.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "backend.hpp"
#include "chain/printable.hpp"
#include "os.hpp"
#include "window/process.hpp"

namespace window::os {

namespace {

// SIGINT, SIGTERM and SIGHUP (the terminal closing) are blocked in every
// thread and taken by one thread of ours that lives as long as the process:
// a default handler would kill the process with another status, and a flag
// set by a handler is never seen by a sleeping event wait. The mask is never
// lifted again, so a signal that arrives during the teardown cannot take
// its default action either.
std::mutex catcherMutex;
std::function<void()> readyClose;  // the running window's, under catcherMutex
bool closeAsked = false;           // a first request went to it
// Where a fatal report goes while HoldBackStderr holds standard error back.
std::atomic<int> realStderr{STDERR_FILENO};

void Caught() {
  const std::lock_guard<std::mutex> lock(catcherMutex);
  // Nothing can answer a close (a display being reached, a teardown), or
  // one was asked for already: end now, with the status a close gives.
  if (!readyClose || closeAsked) _exit(0);
  closeAsked = true;
  readyClose();
}

void StartCatcher() {
  static std::once_flag started;
  std::call_once(started, [] {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    // Before the display library starts any thread, so that all inherit the mask.
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    try {
      std::thread([signals] {
        for (;;) {
          int signal = 0;
          if (sigwait(&signals, &signal) == 0) Caught();
        }
      }).detach();
    } catch (const std::system_error& e) {
      // Without it the blocked signals would never end the program.
      throw Error(std::string("cannot start the thread that answers Ctrl-C: ") +
                  (e.code() == std::errc::resource_unavailable_try_again
                       ? "out of memory or threads"
                       : e.what()));
    }
  });
}

}  // namespace

struct InterruptBridge::Impl {
  std::function<void()> close;
};

InterruptBridge::InterruptBridge(std::function<void()> closeWindow)
    : impl_(std::make_unique<Impl>(Impl{std::move(closeWindow)})) {
  StartCatcher();
}

InterruptBridge::~InterruptBridge() { Stop(); }

void InterruptBridge::Ready() {
  const std::lock_guard<std::mutex> lock(catcherMutex);
  readyClose = impl_->close;
  closeAsked = false;
}

void InterruptBridge::Stop() {
  const std::lock_guard<std::mutex> lock(catcherMutex);
  readyClose = nullptr;
}

bool HoldBackStderr(const std::function<bool()>& work, std::string& said) {
  std::fflush(stderr);
  std::FILE* held = std::tmpfile();
  const int saved = held ? dup(STDERR_FILENO) : -1;
  if (saved < 0 || dup2(fileno(held), STDERR_FILENO) < 0) {
    if (held) std::fclose(held);
    if (saved >= 0) close(saved);
    return work();  // cannot hold it back; let it through
  }
  realStderr = saved;  // where a fatal report still goes (Xlib's lost connection)
  const bool result = work();
  std::fflush(stderr);
  realStderr = STDERR_FILENO;
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::rewind(held);
  char buffer[512];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, held)) > 0 && said.size() < 4096)
    said.append(buffer, got);
  std::fclose(held);
  for (char& c : said)
    if (c == '\n' || c == '\r') c = ' ';
  while (!said.empty() && said.back() == ' ') said.pop_back();
  return result;
}

namespace {

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
std::atomic<bool> windowLostSaid{false};

void* XlibSymbol(const char* name) {
  void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (!xlib) return nullptr;
  void* symbol = dlsym(xlib, name);
  dlclose(xlib);  // the display library's own reference keeps it loaded
  return symbol;
}

}  // namespace

namespace {

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

}  // namespace

std::string ScarceResource() {
  // An X11 window holds four descriptors beside the standard streams (two
  // sockets, a pipe, the display library's own); fewer free than that is why
  // the connection failed.
  constexpr int kNeeded = 4;
  int held[kNeeded];
  int got = 0;
  while (got < kNeeded && (held[got] = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) >= 0) ++got;
  const int error = errno;
  for (int i = 0; i < got; ++i) close(held[i]);
  if (got < kNeeded && (error == EMFILE || error == ENFILE)) {
    rlimit limit{};
    std::string line = "too few file descriptors left";
    if (error == EMFILE && getrlimit(RLIMIT_NOFILE, &limit) == 0)
      line += " (this process may have " + std::to_string(limit.rlim_cur) + "; see ulimit -n)";
    else if (error == ENFILE)
      line += " (the system's table of open files is full)";
    return line;
  }
  // Room for a few pictures at the design's size and what the display
  // library allocates: less than that left is why it failed.
  void* volatile room = std::malloc(std::size_t{4} << 20);  // volatile: asked for, not folded
  std::free(room);
  return room ? std::string() : "out of memory";
}

void WatchX11Connection() {
  // Loaded now (and kept) so that the handlers are in place before the first
  // connection: the display library would print two lines of its own, into
  // a held-back standard error, and exit. SDL puts back the error handler it
  // found when it shuts down, which is then this one.
  if (!dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL)) return;  // SDL will say why
  using IOHandler = int (*)(void*);
  if (auto set = reinterpret_cast<IOHandler (*)(IOHandler)>(XlibSymbol("XSetIOErrorHandler"))) {
    set([](void*) -> int {
      // The connection also ends where the display library could not
      // allocate what it reads into.
      static const char kLost[] = "chain: lost the connection to the X display\n";
      static const char kMemory[] = "chain: out of memory (the X display's connection ended)\n";
      const bool memory = errno == ENOMEM;
      [[maybe_unused]] const ssize_t written =
          write(realStderr, memory ? kMemory : kLost, (memory ? sizeof kMemory : sizeof kLost) - 1);
      _exit(1);  // Xlib allows no return, and nothing can be drawn any more
    });
  }
  SetXErrorHandler();
}

void WatchX11Display(std::function<void()> windowLost) {
  windowLostCall = std::move(windowLost);
  SetXErrorHandler();  // in place of the one SDL set over ours
}

void X11CheckWindow(void* display, unsigned long window) {
  using GetAttributes = int (*)(void*, unsigned long, void*);
  const auto get = reinterpret_cast<GetAttributes>(XlibSymbol("XGetWindowAttributes"));
  alignas(16) unsigned char attributes[512];  // more than an XWindowAttributes
  if (display && get) get(display, window, attributes);
}

float X11DesktopScale(void* display) {
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

}  // namespace window::os

namespace window {

void ConnectConsole() {}

void KeepStandardStreamsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free number is this one.
      [[maybe_unused]] const int opened = open("/dev/null", O_RDWR);
    }
}

void ReportFailure(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace window
