// End to end, as a user meets the program: start the real binary on an X
// server, move the pointer through the server (XTEST), look at the screen,
// then close the window the way a window manager does (WM_DELETE_WINDOW), or
// with a signal.
//
// usage: e2e_x11 [options] -- command...
//   --screenshot FILE   write what the window shows as a PNG
//   --moves N           then sweep the pointer N more times, 5 ms apart
//   --no-look           skip the pixel checks (for slow runs under valgrind)
//   --close HOW         wm (default), sigint or sigterm
//   --wait SECONDS      how long start-up and closing may take (default 10 and 2)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "png.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 556, kHeight = 425;
constexpr int kPointerX = 150, kPointerY = 110;  // client pixels
constexpr int kAnchorX = 280, kAnchorY = 300;

pid_t child = -1;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "e2e: FAILED: %s\n", why.c_str());
  if (child > 0) kill(child, SIGKILL);
  std::exit(1);
}

bool IsRed(unsigned long rgb) {
  return ((rgb >> 16) & 0xFF) > 200 && ((rgb >> 8) & 0xFF) < 60 && (rgb & 0xFF) < 60;
}

Window FindForm(Display* d) {
  Window root = DefaultRootWindow(d), parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(d, root, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(d, children[i], &name) && name && std::strcmp(name, "Form1") == 0 &&
        XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable)
      found = children[i];
    if (name) XFree(name);
  }
  if (children) XFree(children);
  return found;
}

struct Shot {
  XImage* image = nullptr;
  ~Shot() {
    if (image) XDestroyImage(image);
  }
  unsigned long At(int x, int y) const { return XGetPixel(image, x, y) & 0xFFFFFF; }
};

}  // namespace

int main(int argc, char** argv) {
  std::string screenshot, closeHow = "wm";
  long moves = 0;
  bool look = true;
  int startWait = 10, closeWait = 2;
  int first = 1;
  for (; first < argc; ++first) {
    const std::string arg = argv[first];
    if (arg == "--") {
      ++first;
      break;
    }
    if (first + 1 >= argc && arg != "--no-look") Fail("missing value for " + arg);
    if (arg == "--screenshot")
      screenshot = argv[++first];
    else if (arg == "--moves")
      moves = std::atol(argv[++first]);
    else if (arg == "--no-look")
      look = false;
    else if (arg == "--close")
      closeHow = argv[++first];
    else if (arg == "--wait")
      startWait = closeWait = std::atoi(argv[++first]);
    else
      Fail("unknown option " + arg);
  }
  if (first >= argc) Fail("usage: e2e_x11 [options] -- command...");
  Display* d = XOpenDisplay(nullptr);
  if (!d) Fail("cannot open the X display (run under xvfb-run)");
  // Windows may vanish between listing and asking (other clients come and go).
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(d, &event, &error, &major, &minor)) Fail("the X server lacks XTEST");

  child = fork();
  if (child == 0) {
    execvp(argv[first], argv + first);
    std::perror("exec");
    _exit(127);
  }

  // The window, mapped.
  Window form = 0;
  const auto started = Clock::now();
  while (!(form = FindForm(d))) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      child = -1;
      Fail("the program ended before showing its window");
    }
    if (Clock::now() - started > std::chrono::seconds(startWait))
      Fail("no window named Form1 appeared");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::printf(
      "e2e: window shown after %lld ms\n",
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()));
  Window root = DefaultRootWindow(d), unused = 0;
  int originX = 0, originY = 0;
  XTranslateCoordinates(d, form, root, 0, 0, &originX, &originY, &unused);

  XTestFakeMotionEvent(d, -1, originX + kPointerX, originY + kPointerY, CurrentTime);
  XFlush(d);

  // Wait for the head to reach the pointer and the chain to hang still.
  if (look) {
    Shot shot;
    std::string last;
    const auto moved = Clock::now();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (shot.image) XDestroyImage(shot.image);
      shot.image = XGetImage(d, root, originX, originY, kWidth, kHeight, AllPlanes, ZPixmap);
      if (!shot.image) Fail("cannot read the screen");
      const bool headCentred =
          IsRed(shot.At(kPointerX, kPointerY)) && IsRed(shot.At(kPointerX - 2, kPointerY)) &&
          IsRed(shot.At(kPointerX + 2, kPointerY)) && IsRed(shot.At(kPointerX, kPointerY - 2)) &&
          IsRed(shot.At(kPointerX, kPointerY + 2)) && !IsRed(shot.At(kPointerX - 6, kPointerY)) &&
          !IsRed(shot.At(kPointerX, kPointerY - 6));
      const bool anchor =
          IsRed(shot.At(kAnchorX, kAnchorY)) && IsRed(shot.At(kAnchorX - 1, kAnchorY + 1));
      char buffer[256];
      std::snprintf(buffer, sizeof buffer,
                    "pointer %06lx (left %06lx, right %06lx, above %06lx, below %06lx; "
                    "6 px left %06lx, 6 px above %06lx), anchor %06lx",
                    shot.At(kPointerX, kPointerY), shot.At(kPointerX - 2, kPointerY),
                    shot.At(kPointerX + 2, kPointerY), shot.At(kPointerX, kPointerY - 2),
                    shot.At(kPointerX, kPointerY + 2), shot.At(kPointerX - 6, kPointerY),
                    shot.At(kPointerX, kPointerY - 6), shot.At(kAnchorX, kAnchorY));
      last = buffer;
      if (headCentred && anchor && Clock::now() - moved > std::chrono::milliseconds(1500)) break;
      if (Clock::now() - moved > std::chrono::seconds(10))
        Fail("no red circle on the pointer and on the anchor: " + last);
    }
    std::printf("e2e: red circles on the pointer and on the anchor (%s)\n", last.c_str());

    if (!screenshot.empty()) {
      std::vector<std::uint8_t> rgba;
      rgba.reserve(static_cast<std::size_t>(kWidth) * kHeight * 4);
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
          const unsigned long p = shot.At(x, y);
          rgba.insert(rgba.end(),
                      {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                       static_cast<std::uint8_t>(p), 0xFF});
        }
      if (!png::Write(screenshot, kWidth, kHeight, rgba)) Fail("cannot write " + screenshot);
      std::printf("e2e: screenshot written to %s\n", screenshot.c_str());
    }
  }

  for (long i = 0; i < moves; ++i) {
    XTestFakeMotionEvent(d, -1, originX + 20 + static_cast<int>((i * 7) % 500),
                         originY + 20 + static_cast<int>((i * 3) % 380), CurrentTime);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (moves > 0) std::printf("e2e: moved the pointer %ld times\n", moves);

  if (closeHow == "sigint" || closeHow == "sigterm") {
    kill(child, closeHow == "sigint" ? SIGINT : SIGTERM);
  } else {
    // As a window manager does when the user clicks the close button.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = form;
    close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, form, False, NoEventMask, &close);
    XFlush(d);
  }
  const auto closing = Clock::now();
  int status = 0;
  while (waitpid(child, &status, WNOHANG) != child) {
    if (Clock::now() - closing > std::chrono::seconds(2))
      Fail("still running 2 s after the close request");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child = -1;
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("the program did not exit with status 0 after the close request (status " +
         std::to_string(status) + ")");
  std::printf("e2e: closed (%s) with status 0 after %lld ms\n", closeHow.c_str(), ms);
  XCloseDisplay(d);
  std::printf("e2e: 1 passed, 0 failed\n");
  return 0;
}
