// viewable_x11: how long a program takes from its launch until its window is
// mapped on the X server (what a user sees as the window appearing), for two
// programs launched in turn, RUNS times each, alternating which goes first.
//   viewable_x11 RUNS PROGRAM [ARG...] -- FLOOR [ARG...]
// Prints the medians and their ratio. Each program is ended (SIGTERM) once
// its window is up.
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Launch to the first MapNotify of a top-level window, ms; -1 if none came
// within a minute.
double Viewable(Display* display, char** argv) {
  XSync(display, True);  // nothing of an earlier run left
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv);
    _exit(127);
  }
  double ms = -1.0;
  while (ms < 0.0) {
    while (ms < 0.0 && XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify)
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
    }
    pollfd ready{ConnectionNumber(display), POLLIN, 0};
    if (ms < 0.0 && poll(&ready, 1, 60000) <= 0) break;
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return ms;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  char** floor = nullptr;
  for (int i = 2; i < argc; ++i)
    if (std::strcmp(argv[i], "--") == 0) {
      argv[i] = nullptr;
      floor = argv + i + 1;
    }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  Display* display = XOpenDisplay(nullptr);
  if (runs < 1 || argc < 5 || !floor || !*floor || !display) {
    std::fprintf(stderr,
                 "usage: viewable_x11 RUNS PROGRAM [ARG...] -- FLOOR [ARG...] (on an X display)\n");
    return 2;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  std::vector<double> program, bare;
  for (int i = 0; i < runs; ++i) {
    // The one launched second tends to gain from the first's warm caches.
    if (i % 2 == 0) {
      program.push_back(Viewable(display, argv + 2));
      bare.push_back(Viewable(display, floor));
    } else {
      bare.push_back(Viewable(display, floor));
      program.push_back(Viewable(display, argv + 2));
    }
  }
  const double p = Median(program), b = Median(bare);
  std::printf("  launch to the window shown: %s %.1f ms, %s %.1f ms: %.3f x\n", argv[2], p,
              floor[0], b, p / b);
  return p > 0.0 && b > 0.0 ? 0 : 1;
}
