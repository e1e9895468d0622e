// End to end, as a user meets the program: start the real binary on an X
// server, move the pointer through the server (XTEST), look at the screen,
// then close the window the way a window manager does (WM_DELETE_WINDOW),
// with a signal, or by destroying it from outside.
//
// usage: e2e_x11 [options] -- command...
//   --screenshot FILE   write what the window shows as a PNG
//   --scale S           the desktop's scale the window must follow (default 1)
//   --moves N           then sweep the pointer N more times, 5 ms apart
//   --idle              then wait until the program uses no CPU at rest
//   --expose            then, at rest, cover the window and uncover it: the
//                       picture must come back
//   --resize-huge       then stretch the window to 32767 x 32767 and back:
//                       the program must live on and draw again
//   --closed-streams    start the program with standard output and error
//                       closed; they must lead to the null device, not to
//                       anything the program opened
//   --no-look           skip the pixel checks (for slow runs under valgrind)
//   --close HOW         wm (default), sigint, sigterm, sighup or destroy
//   --wait SECONDS      the ceiling for each wait (default 60): a slow
//                       machine only makes the test slower, never fail
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "png.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Client pixels; on the screen they are multiplied by the scale.
constexpr int kWidth = 556, kHeight = 425;
constexpr int kPointerX = 150, kPointerY = 110;
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

// The mapped window named Form1: a child of the root, or of a window
// manager's frame.
Window FindForm(Display* d, Window under, int depth = 0) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(d, under, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(d, children[i], &name) && name && std::strcmp(name, "Form1") == 0 &&
        XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable)
      found = children[i];
    if (name) XFree(name);
    if (!found && depth < 2) found = FindForm(d, children[i], depth + 1);
  }
  if (children) XFree(children);
  return found;
}

// CPU time the process has used, in clock ticks.
long Ticks(pid_t pid) {
  std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!stat) return -1;
  char buffer[1024] = {};
  const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, stat);
  std::fclose(stat);
  const char* after = std::strrchr(buffer, ')');  // the name may hold spaces
  long utime = 0, stime = 0;
  if (got == 0 || !after ||
      std::sscanf(after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime,
                  &stime) != 2)
    return -1;
  return utime + stime;
}

struct Shot {
  XImage* image = nullptr;
  ~Shot() {
    if (image) XDestroyImage(image);
  }
  // 0xRRGGBB, whatever the screen's depth (a 30-bit one has 10 bits a channel).
  unsigned long At(int x, int y) const {
    const unsigned long pixel = XGetPixel(image, x, y);
    unsigned long rgb = 0;
    for (const unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask}) {
      unsigned long shift = 0, bits = 0;
      while (mask && !((mask >> shift) & 1)) ++shift;
      while ((mask >> (shift + bits)) & 1) ++bits;
      const unsigned long value = bits ? ((pixel & mask) >> shift) * 255 / ((1ul << bits) - 1) : 0;
      rgb = rgb << 8 | value;
    }
    return rgb;
  }
};

// Reads the window's part of the screen.
void Grab(Display* d, Shot& shot, int x, int y, int width, int height) {
  if (shot.image) XDestroyImage(shot.image);
  shot.image = XGetImage(d, DefaultRootWindow(d), x, y, width, height, AllPlanes, ZPixmap);
  if (!shot.image) Fail("cannot read the screen");
}

}  // namespace

int main(int argc, char** argv) {
  std::string screenshot, closeHow = "wm";
  long moves = 0;
  bool look = true, idle = false, expose = false, resizeHuge = false, closedStreams = false;
  double scale = 1.0;
  int wait = 60;
  int first = 1;
  for (; first < argc; ++first) {
    const std::string arg = argv[first];
    if (arg == "--") {
      ++first;
      break;
    }
    if (arg == "--no-look" || arg == "--idle" || arg == "--expose" || arg == "--resize-huge" ||
        arg == "--closed-streams") {
      look = look && arg != "--no-look";
      idle = idle || arg == "--idle";
      expose = expose || arg == "--expose";
      resizeHuge = resizeHuge || arg == "--resize-huge";
      closedStreams = closedStreams || arg == "--closed-streams";
      continue;
    }
    if (first + 1 >= argc) Fail("missing value for " + arg);
    if (arg == "--screenshot")
      screenshot = argv[++first];
    else if (arg == "--scale")
      scale = std::atof(argv[++first]);
    else if (arg == "--moves")
      moves = std::atol(argv[++first]);
    else if (arg == "--close")
      closeHow = argv[++first];
    else if (arg == "--wait")
      wait = std::atoi(argv[++first]);
    else
      Fail("unknown option " + arg);
  }
  const auto device = [scale](int client) { return static_cast<int>(std::lround(client * scale)); };
  const int width = device(kWidth), height = device(kHeight);
  const int pointerX = device(kPointerX), pointerY = device(kPointerY);
  const int anchorX = device(kAnchorX), anchorY = device(kAnchorY);
  const std::chrono::seconds ceiling(wait);
  if (first >= argc) Fail("usage: e2e_x11 [options] -- command...");
  Display* d = XOpenDisplay(nullptr);
  if (!d) Fail("cannot open the X display (run under xvfb-run)");
  // Windows may vanish between listing and asking (other clients come and go).
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(d, &event, &error, &major, &minor)) Fail("the X server lacks XTEST");

  // The program's standard error, to count its lines at the end.
  std::FILE* errors = std::tmpfile();
  if (!errors) Fail("cannot make a temporary file");
  child = fork();
  if (child == 0) {
    if (closedStreams) {
      close(STDOUT_FILENO);
      close(STDERR_FILENO);
    } else {
      dup2(fileno(errors), STDERR_FILENO);
    }
    execvp(argv[first], argv + first);
    std::perror("exec");
    _exit(127);
  }

  // The window, mapped.
  Window form = 0;
  const auto started = Clock::now();
  while (!(form = FindForm(d, DefaultRootWindow(d)))) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      child = -1;
      Fail("the program ended before showing its window");
    }
    if (Clock::now() - started > ceiling) Fail("no window named Form1 appeared");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::printf(
      "e2e: window shown after %lld ms\n",
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()));
  Window root = DefaultRootWindow(d), unused = 0;
  int originX = 0, originY = 0;
  XTranslateCoordinates(d, form, root, 0, 0, &originX, &originY, &unused);
  XWindowAttributes attributes;
  XGetWindowAttributes(d, form, &attributes);
  if (attributes.width != width || attributes.height != height)
    Fail("the window's client area is " + std::to_string(attributes.width) + " x " +
         std::to_string(attributes.height) + ", expected " + std::to_string(width) + " x " +
         std::to_string(height));
  std::printf("e2e: client area %d x %d\n", width, height);

  // Onto the window's screen first (XTest moves within the pointer's own),
  // then as a user's mouse moves it.
  XWarpPointer(d, None, root, 0, 0, 0, 0, originX, originY);
  XTestFakeMotionEvent(d, -1, originX + pointerX, originY + pointerY, CurrentTime);
  XFlush(d);

  // Waits until the screen shows the head on the pointer (red there and 2
  // client pixels around it, not 6 away) and the anchor, and has for 1.5 s.
  Shot shot;
  const auto waitForPicture = [&](const char* when) {
    std::string last;
    const auto since = Clock::now();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      Grab(d, shot, originX, originY, width, height);
      const struct {
        int x, y;
        bool red;
      } probes[] = {{pointerX, pointerY, true},
                    {pointerX - device(2), pointerY, true},
                    {pointerX + device(2), pointerY, true},
                    {pointerX, pointerY - device(2), true},
                    {pointerX, pointerY + device(2), true},
                    {pointerX - device(6), pointerY, false},
                    {pointerX, pointerY - device(6), false},
                    {anchorX, anchorY, true},
                    {anchorX - 1, anchorY + 1, true}};
      bool seen = true;
      last.clear();
      for (const auto& probe : probes) {
        const unsigned long pixel = shot.At(probe.x, probe.y);
        seen = seen && IsRed(pixel) == probe.red;
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%s(%d, %d) %06lx", last.empty() ? "" : ", ", probe.x,
                      probe.y, pixel);
        last += buffer;
      }
      if (seen && Clock::now() - since > std::chrono::milliseconds(1500)) break;
      if (Clock::now() - since > ceiling)
        Fail(std::string("no red circle on the pointer and on the anchor ") + when + ": " + last);
    }
    std::printf("e2e: red circles on the pointer and on the anchor %s (%s)\n", when, last.c_str());
  };

  if (look) {
    waitForPicture("");
    if (!screenshot.empty()) {
      std::vector<std::uint8_t> rgba;
      rgba.reserve(static_cast<std::size_t>(width) * height * 4);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const unsigned long p = shot.At(x, y);
          rgba.insert(rgba.end(),
                      {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                       static_cast<std::uint8_t>(p), 0xFF});
        }
      if (!png::Write(screenshot, width, height, rgba)) Fail("cannot write " + screenshot);
      std::printf("e2e: screenshot written to %s\n", screenshot.c_str());
    }
  }

  if (expose) {
    // At rest the program sleeps; a window laid over it and taken away
    // leaves its area to be drawn again, which it must do from its sleep.
    XSetWindowAttributes cover{};
    cover.override_redirect = True;
    cover.background_pixel = BlackPixel(d, DefaultScreen(d));
    const Window over =
        XCreateWindow(d, root, originX, originY, width, height, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel, &cover);
    XMapRaised(d, over);
    XSync(d, False);
    Grab(d, shot, originX, originY, width, height);
    if (shot.At(anchorX, anchorY) != 0) Fail("the cover did not cover the window");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    XDestroyWindow(d, over);
    XSync(d, False);
    waitForPicture("after the window was covered and uncovered at rest");
  }

  if (resizeHuge) {
    // A size the user or a window manager chose: far too many pixels to have.
    XResizeWindow(d, form, 32767, 32767);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      child = -1;
      Fail("the program ended when its window was stretched to 32767 x 32767");
    }
    XResizeWindow(d, form, width, height);
    XSync(d, False);
    waitForPicture("after the window was stretched to 32767 x 32767 and back");
  }

  for (long i = 0; i < moves; ++i) {
    XTestFakeMotionEvent(d, -1, originX + 20 + static_cast<int>((i * 7) % 500),
                         originY + 20 + static_cast<int>((i * 3) % 380), CurrentTime);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (moves > 0) std::printf("e2e: moved the pointer %ld times\n", moves);

  if (idle) {
    // At rest the program sleeps: wait for a second in which it used no
    // more than one clock tick.
    const auto since = Clock::now();
    long used = 0;
    for (;;) {
      const long before = Ticks(child);
      std::this_thread::sleep_for(std::chrono::seconds(1));
      used = Ticks(child) - before;
      if (before >= 0 && used <= 1) break;
      if (Clock::now() - since > ceiling)
        Fail("still busy at rest: " + std::to_string(used) + " ticks in the last second");
    }
    std::printf("e2e: at rest, %ld clock ticks in one second\n", used);
  }

  // The most memory it held so far.
  if (std::FILE* status = std::fopen(("/proc/" + std::to_string(child) + "/status").c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status))
      if (std::strncmp(line, "VmHWM:", 6) == 0)
        std::printf("e2e: peak resident memory%s", line + 6);
    std::fclose(status);
  }

  if (closedStreams) {
    // Opened on the null device at start, not taken by the display's connection.
    for (const int fd : {1, 2}) {
      char target[256] = {};
      const std::string link = "/proc/" + std::to_string(child) + "/fd/" + std::to_string(fd);
      if (readlink(link.c_str(), target, sizeof target - 1) < 0 ||
          std::strcmp(target, "/dev/null") != 0)
        Fail("descriptor " + std::to_string(fd) + " leads to " + (*target ? target : "nothing"));
    }
    std::printf("e2e: standard output and error lead to /dev/null\n");
  }

  if (closeHow == "sigint" || closeHow == "sigterm" || closeHow == "sighup") {
    kill(child, closeHow == "sigint" ? SIGINT : closeHow == "sigterm" ? SIGTERM : SIGHUP);
  } else if (closeHow == "destroy") {
    // What `xdotool windowclose` does: another client destroys the window.
    XDestroyWindow(d, form);
    XFlush(d);
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
    if (Clock::now() - closing > ceiling) Fail("still running long after the close request");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child = -1;
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing).count();
  // Closed by the user, the program ends quietly; its window destroyed under
  // it, it says so on one line.
  const int expected = closeHow == "destroy" ? 1 : 0;
  std::string said;
  std::rewind(errors);
  for (int c = 0; (c = std::fgetc(errors)) != EOF;) said += static_cast<char>(c);
  // The address sanitiser's own note of an allocation it refused (a huge
  // window's pixels, which the program does without) is not the program's.
  for (std::size_t at;
       (at = said.find("WARNING: AddressSanitizer failed to allocate")) != std::string::npos;) {
    const std::size_t start =
        said.rfind('\n', at) == std::string::npos ? 0 : said.rfind('\n', at) + 1;
    said.erase(start, said.find('\n', at) + 1 - start);
  }
  const long lines = std::count(said.begin(), said.end(), '\n');
  std::printf("e2e: stderr: %s", said.empty() ? "(nothing)\n" : said.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expected)
    Fail("the program did not exit with status " + std::to_string(expected) +
         " after the close request (status " + std::to_string(status) + ")");
  if (lines > (expected ? 1 : 0) || (expected && said.rfind("chain: ", 0) != 0))
    Fail("expected " + std::string(expected ? "one line" : "nothing") + " on stderr");
  std::printf("e2e: closed (%s) with status %d after %lld ms\n", closeHow.c_str(), expected, ms);
  XCloseDisplay(d);
  std::printf("e2e: 1 passed, 0 failed\n");
  return 0;
}
