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
//   --icon              then the window must carry its 64 x 64 icon
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
#include "proc.hpp"

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

// What the command line asks for.
struct Options {
  std::string screenshot, closeHow = "wm";
  long moves = 0;
  bool look = true, idle = false, icon = false, expose = false, resizeHuge = false,
       closedStreams = false;
  double scale = 1.0;
  int wait = 60;
  char** command = nullptr;
};

Options Parse(int argc, char** argv) {
  Options o;
  int first = 1;
  for (; first < argc; ++first) {
    const std::string arg = argv[first];
    if (arg == "--") {
      ++first;
      break;
    }
    if (arg == "--no-look" || arg == "--idle" || arg == "--expose" || arg == "--resize-huge" ||
        arg == "--closed-streams" || arg == "--icon") {
      o.icon = o.icon || arg == "--icon";
      o.look = o.look && arg != "--no-look";
      o.idle = o.idle || arg == "--idle";
      o.expose = o.expose || arg == "--expose";
      o.resizeHuge = o.resizeHuge || arg == "--resize-huge";
      o.closedStreams = o.closedStreams || arg == "--closed-streams";
      continue;
    }
    if (first + 1 >= argc) Fail("missing value for " + arg);
    const char* value = argv[++first];
    if (arg == "--screenshot")
      o.screenshot = value;
    else if (arg == "--scale")
      o.scale = std::atof(value);
    else if (arg == "--moves")
      o.moves = std::atol(value);
    else if (arg == "--close")
      o.closeHow = value;
    else if (arg == "--wait")
      o.wait = std::atoi(value);
    else
      Fail("unknown option " + arg);
  }
  if (first >= argc) Fail("usage: e2e_x11 [options] -- command...");
  o.command = argv + first;
  return o;
}

// One run of the program under test, step by step, as main takes them.
class Session {
 public:
  explicit Session(const Options& o)
      : o_(o),
        ceiling_(o.wait),
        width_(Device(kWidth)),
        height_(Device(kHeight)),
        pointerX_(Device(kPointerX)),
        pointerY_(Device(kPointerY)) {
    d_ = XOpenDisplay(nullptr);
    if (!d_) Fail("cannot open the X display (run under xvfb-run)");
    // Windows may vanish between listing and asking (other clients come and go).
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d_, &event, &error, &major, &minor)) Fail("the X server lacks XTEST");
    root_ = DefaultRootWindow(d_);
  }
  ~Session() { XCloseDisplay(d_); }

  // Starts the program, its standard error kept to count its lines at the end.
  void Start() {
    errors_ = std::tmpfile();
    if (!errors_) Fail("cannot make a temporary file");
    child = fork();
    if (child == 0) {
      if (o_.closedStreams) {
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
      } else {
        dup2(fileno(errors_), STDERR_FILENO);
      }
      execvp(o_.command[0], o_.command);
      std::perror("exec");
      _exit(127);
    }
  }

  // The window, mapped, of the designed size; the pointer put on it.
  void FindWindow() {
    const auto started = Clock::now();
    while (!(form_ = FindForm(d_, root_))) {
      int status = 0;
      if (waitpid(child, &status, WNOHANG) == child) {
        child = -1;
        std::string said = Said();
        while (!said.empty() && said.back() == '\n') said.pop_back();
        Fail("the program ended before showing its window, status " +
             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
             (said.empty() ? ", saying nothing" : ", saying: " + said));
      }
      if (Clock::now() - started > ceiling_) Fail("no window named Form1 appeared");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("e2e: window shown after %lld ms\n", MsSince(started));
    Window unused = 0;
    XTranslateCoordinates(d_, form_, root_, 0, 0, &originX_, &originY_, &unused);
    XWindowAttributes attributes;
    XGetWindowAttributes(d_, form_, &attributes);
    if (attributes.width != width_ || attributes.height != height_)
      Fail("the window's client area is " + std::to_string(attributes.width) + " x " +
           std::to_string(attributes.height) + ", expected " + std::to_string(width_) + " x " +
           std::to_string(height_));
    std::printf("e2e: client area %d x %d\n", width_, height_);
    // Onto the window's screen first (XTest moves within the pointer's own),
    // then as a user's mouse moves it.
    XWarpPointer(d_, None, root_, 0, 0, 0, 0, originX_, originY_);
    XTestFakeMotionEvent(d_, -1, originX_ + pointerX_, originY_ + pointerY_, CurrentTime);
    XFlush(d_);
  }

  // Waits until the screen shows the head on the pointer (red there and 2
  // client pixels around it, not 6 away) and the anchor, and has for 1.5 s.
  void WaitForPicture(const char* when) {
    std::string last;
    const auto since = Clock::now();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      Grab(d_, shot_, originX_, originY_, width_, height_);
      const bool seen = Probe(last);
      if (seen && Clock::now() - since > std::chrono::milliseconds(1500)) break;
      if (Clock::now() - since > ceiling_)
        Fail(std::string("no red circle on the pointer and on the anchor ") + when + ": " + last);
    }
    std::printf("e2e: red circles on the pointer and on the anchor %s (%s)\n", when, last.c_str());
  }

  void Screenshot() {
    std::vector<std::uint8_t> rgba;
    rgba.reserve(static_cast<std::size_t>(width_) * height_ * 4);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        const unsigned long p = shot_.At(x, y);
        rgba.insert(rgba.end(),
                    {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                     static_cast<std::uint8_t>(p), 0xFF});
      }
    if (!png::Write(o_.screenshot, width_, height_, rgba)) Fail("cannot write " + o_.screenshot);
    std::printf("e2e: screenshot written to %s\n", o_.screenshot.c_str());
  }

  // At rest the program sleeps; a window laid over it and taken away
  // leaves its area to be drawn again, which it must do from its sleep.
  void CoverAndUncover() {
    XSetWindowAttributes cover{};
    cover.override_redirect = True;
    cover.background_pixel = BlackPixel(d_, DefaultScreen(d_));
    const Window over =
        XCreateWindow(d_, root_, originX_, originY_, width_, height_, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &cover);
    XMapRaised(d_, over);
    XSync(d_, False);
    Grab(d_, shot_, originX_, originY_, width_, height_);
    if (shot_.At(Device(kAnchorX), Device(kAnchorY)) != 0)
      Fail("the cover did not cover the window");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    XDestroyWindow(d_, over);
    XSync(d_, False);
    WaitForPicture("after the window was covered and uncovered at rest");
  }

  // A size the user or a window manager chose: far too many pixels to have.
  void ResizeHuge() {
    XResizeWindow(d_, form_, 32767, 32767);
    XSync(d_, False);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      child = -1;
      Fail("the program ended when its window was stretched to 32767 x 32767");
    }
    XResizeWindow(d_, form_, width_, height_);
    XSync(d_, False);
    WaitForPicture("after the window was stretched to 32767 x 32767 and back");
  }

  void Move() {
    for (long i = 0; i < o_.moves; ++i) {
      XTestFakeMotionEvent(d_, -1, originX_ + 20 + static_cast<int>((i * 7) % 500),
                           originY_ + 20 + static_cast<int>((i * 3) % 380), CurrentTime);
      XFlush(d_);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("e2e: moved the pointer %ld times\n", o_.moves);
  }

  // At rest the program sleeps: wait for a second in which it used no more
  // than one clock tick.
  void Idle() {
    const auto since = Clock::now();
    long used = 0;
    for (;;) {
      const long before = proc::CpuTicks(child);
      std::this_thread::sleep_for(std::chrono::seconds(1));
      used = proc::CpuTicks(child) - before;
      if (before >= 0 && used <= 1) break;
      if (Clock::now() - since > ceiling_)
        Fail("still busy at rest: " + std::to_string(used) + " ticks in the last second");
    }
    std::printf("e2e: at rest, %ld clock ticks in one second\n", used);
  }

  // The icon a taskbar shows: _NET_WM_ICON's first image, width and height first.
  void Icon() const {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    const Atom icon = XInternAtom(d_, "_NET_WM_ICON", False);
    if (XGetWindowProperty(d_, form_, icon, 0, 2, False, AnyPropertyType, &type, &format, &count,
                           &left, &data) != Success ||
        format != 32 || count != 2)
      Fail("the window has no icon");
    const auto* size = reinterpret_cast<const long*>(data);
    const bool square = size[0] == 64 && size[1] == 64;
    XFree(data);
    if (!square) Fail("the window's icon is not 64 x 64");
    std::printf("e2e: the window carries its 64 x 64 icon\n");
  }

  // The most memory it held so far; with closed streams, where they lead.
  void Inspect() const {
    const std::string peak = proc::PeakResident(child);
    if (!peak.empty()) std::printf("e2e: peak resident memory %s\n", peak.c_str());
    if (!o_.closedStreams) return;
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

  void Close();

 private:
  int Device(int client) const { return static_cast<int>(std::lround(client * o_.scale)); }
  static long long MsSince(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
  }
  bool Probe(std::string& said) const;
  std::string Said() const;

  const Options& o_;
  const std::chrono::seconds ceiling_;
  const int width_, height_, pointerX_, pointerY_;
  Display* d_ = nullptr;
  Window root_ = 0, form_ = 0;
  int originX_ = 0, originY_ = 0;
  std::FILE* errors_ = nullptr;
  Shot shot_;
};

// Whether the last grab shows red on the pointer and the anchor and the
// background just beside the head; `said` gets what each probe saw.
bool Session::Probe(std::string& said) const {
  const int px = pointerX_, py = pointerY_, ax = Device(kAnchorX), ay = Device(kAnchorY);
  const struct {
    int x, y;
    bool red;
  } probes[] = {{px, py, true},
                {px - Device(2), py, true},
                {px + Device(2), py, true},
                {px, py - Device(2), true},
                {px, py + Device(2), true},
                {px - Device(6), py, false},
                {px, py - Device(6), false},
                {ax, ay, true},
                {ax - 1, ay + 1, true}};
  bool seen = true;
  said.clear();
  for (const auto& probe : probes) {
    const unsigned long pixel = shot_.At(probe.x, probe.y);
    seen = seen && IsRed(pixel) == probe.red;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s(%d, %d) %06lx", said.empty() ? "" : ", ", probe.x,
                  probe.y, pixel);
    said += buffer;
  }
  return seen;
}

// What the program wrote on standard error, less the address sanitiser's
// note of an allocation it refused (a huge window's pixels, which the
// program does without): that is not the program's.
std::string Session::Said() const {
  std::string said;
  std::rewind(errors_);
  for (int c = 0; (c = std::fgetc(errors_)) != EOF;) said += static_cast<char>(c);
  for (std::size_t at;
       (at = said.find("WARNING: AddressSanitizer failed to allocate")) != std::string::npos;) {
    const std::size_t start =
        said.rfind('\n', at) == std::string::npos ? 0 : said.rfind('\n', at) + 1;
    said.erase(start, said.find('\n', at) + 1 - start);
  }
  return said;
}

// Closes the window as asked, then checks the status and what was said:
// closed by the user, the program ends quietly; its window destroyed under
// it, it says so on one line.
void Session::Close() {
  const std::string& how = o_.closeHow;
  if (how == "sigint" || how == "sigterm" || how == "sighup") {
    kill(child, how == "sigint" ? SIGINT : how == "sigterm" ? SIGTERM : SIGHUP);
  } else if (how == "destroy") {
    XDestroyWindow(d_, form_);  // what `xdotool windowclose` does
    XFlush(d_);
  } else {  // as a window manager does when the user clicks the close button
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = form_;
    close.xclient.message_type = XInternAtom(d_, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(d_, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(d_, form_, False, NoEventMask, &close);
    XFlush(d_);
  }
  const auto closing = Clock::now();
  int status = 0;
  while (waitpid(child, &status, WNOHANG) != child) {
    if (Clock::now() - closing > ceiling_) Fail("still running long after the close request");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child = -1;
  const int expected = how == "destroy" ? 1 : 0;
  const std::string said = Said();
  const long lines = std::count(said.begin(), said.end(), '\n');
  std::printf("e2e: stderr: %s", said.empty() ? "(nothing)\n" : said.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expected)
    Fail("the program did not exit with status " + std::to_string(expected) +
         " after the close request (status " + std::to_string(status) + ")");
  if (lines > (expected ? 1 : 0) || (expected && said.rfind("chain: ", 0) != 0))
    Fail("expected " + std::string(expected ? "one line" : "nothing") + " on stderr");
  std::printf("e2e: closed (%s) with status %d after %lld ms\n", how.c_str(), expected,
              MsSince(closing));
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  Session run(o);
  run.Start();
  run.FindWindow();
  if (o.look) {
    run.WaitForPicture("");
    if (!o.screenshot.empty()) run.Screenshot();
  }
  if (o.expose) run.CoverAndUncover();
  if (o.resizeHuge) run.ResizeHuge();
  if (o.moves > 0) run.Move();
  if (o.idle) run.Idle();
  if (o.icon) run.Icon();
  run.Inspect();
  run.Close();
  std::printf("e2e: 1 passed, 0 failed\n");
  return 0;
}
