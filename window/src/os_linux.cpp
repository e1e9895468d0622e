// Process glue for Linux: signals, standard error, and what a display
// connection runs short of.
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

// Once a process. Not through std::call_once: its failure would be thrown
// through the C library's pthread_once, which the C++ runtime linked into
// the program cannot unwind.
void StartCatcher() {
  static std::mutex starting;
  static bool started = false;
  const std::lock_guard<std::mutex> lock(starting);
  if (started) return;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  // Before the display library starts any thread, so that all inherit the mask.
  started = true;
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  try {
    std::thread([signals] {
      for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) == 0) Caught();
      }
    }).detach();
  } catch (const std::system_error& e) {
    started = false;  // as call_once would: the next window tries again
    // Without it the blocked signals would never end the program.
    throw Error(std::string("cannot start the thread that answers Ctrl-C: ") +
                (e.code() == std::errc::resource_unavailable_try_again ? "out of memory or threads"
                                                                       : e.what()));
  }
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

int RealStderr() { return realStderr; }

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
