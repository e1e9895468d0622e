// Frame loop and start-up of the chain's window against a bare SDL2 program
// that opens the same window with the same renderer and draws 41 copies of
// the same circle. Run it on a display (Xvfb in bench/run.sh).
//
//   frame_bench loop chain|bare SECONDS   frames per second, the pointer moving
//   frame_bench first-frame chain|bare    start, present one frame, print when
//   frame_bench startup RUNS              both of the above RUNS times, alternating
//   frame_bench display HZ SECONDS        the program's frame loop on a null display
//                                         of HZ on the real clock: CPU while the
//                                         pointer moves, then at rest
#include <SDL.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
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

#include "form1.hpp"
#include "window/link_art.hpp"
#include "window/process.hpp"
#include "window/testing.hpp"

namespace {

long long NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "frame_bench: %s: %s\n", what.c_str(), SDL_GetError());
  std::exit(1);
}

// Where the pointer is in frame `frame`: a slow figure of eight.
void Pointer(long frame, int& x, int& y) {
  const double t = frame * 0.02;
  x = static_cast<int>(278 + 200 * std::sin(t));
  y = static_cast<int>(200 + 120 * std::sin(2 * t));
}

// The bare program: the same window, 41 copies of the same circle a frame,
// events pumped, nothing else. By default it draws into SDL's plain window
// surface (no GPU driver), as chain does; with SDL_RENDER_DRIVER naming a
// GPU renderer it draws through that renderer instead.
struct Bare {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* circle = nullptr;
  SDL_Surface* disc = nullptr;

  Bare() {
    const char* driver = SDL_getenv("SDL_RENDER_DRIVER");
    const bool gpu = driver && *driver && std::strcmp(driver, "software") != 0;
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) Die("SDL_Init");
    window = SDL_CreateWindow("Form1", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 556, 425,
                              SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!window) Die("SDL_CreateWindow");
    window::RgbaImage image(10, 10);
    window::PaintDisc(image, {5.0, 5.0, 4.0, 3.0, 0xFF0000, 0x000000});
    if (!gpu) {
      disc = SDL_CreateRGBSurfaceWithFormat(0, 10, 10, 32, SDL_PIXELFORMAT_RGBA32);
      if (!disc) Die("circle surface");
      std::memcpy(disc->pixels, image.Pixels.data(), image.Pixels.size());
      SDL_SetSurfaceBlendMode(disc, SDL_BLENDMODE_BLEND);
      return;
    }
    const bool vsync = SDL_GetHintBoolean(SDL_HINT_RENDER_VSYNC, SDL_TRUE);
    renderer = SDL_CreateRenderer(window, -1, vsync ? SDL_RENDERER_PRESENTVSYNC : 0);
    if (!renderer) Die("SDL_CreateRenderer");
    circle = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC, 10, 10);
    if (!circle || SDL_UpdateTexture(circle, nullptr, image.Pixels.data(), 40) != 0)
      Die("circle texture");
    SDL_SetTextureBlendMode(circle, SDL_BLENDMODE_BLEND);
  }
  ~Bare() {
    if (disc) SDL_FreeSurface(disc);
    if (circle) SDL_DestroyTexture(circle);
    if (renderer) SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
  }
  std::string Name() const {
    SDL_RendererInfo info;
    return renderer && SDL_GetRendererInfo(renderer, &info) == 0 ? info.name : "surface";
  }
  void Frame(long frame) {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    const auto place = [frame](int i) {
      return SDL_Rect{static_cast<int>(20 + i * 12 + frame % 7),
                      150 + (i * 7 + static_cast<int>(frame)) % 200, 10, 10};
    };
    if (!renderer) {
      SDL_Surface* surface = SDL_GetWindowSurface(window);
      if (!surface) Die("SDL_GetWindowSurface");
      SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0xF0, 0xF0, 0xF0));
      for (int i = 0; i < 41; ++i) {
        SDL_Rect dst = place(i);
        SDL_BlitSurface(disc, nullptr, surface, &dst);
      }
      SDL_UpdateWindowSurface(window);
      return;
    }
    SDL_SetRenderDrawColor(renderer, 0xF0, 0xF0, 0xF0, 0xFF);
    SDL_RenderClear(renderer);
    for (int i = 0; i < 41; ++i) {
      const SDL_Rect dst = place(i);
      SDL_RenderCopy(renderer, circle, nullptr, &dst);
    }
    SDL_RenderPresent(renderer);
  }
  void PostMove(int x, int y) {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(window);
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
  }
};

int Loop(const std::string& which, double seconds) {
  long frames = 0;
  const long long start = NowNs(), end = start + static_cast<long long>(seconds * 1e9);
  std::string renderer;
  int x = 0, y = 0;
  if (which == "chain") {
    app::Form1 form({}, app::SettingsFromEnvironment());  // as the program runs, CHAIN_VSYNC too
    form.LoadLinks();
    form.PinChain();
    renderer = "chain";
    while (NowNs() < end) {
      Pointer(frames, x, y);
      form.Window().PostMouseMove(x, y);
      form.RunFrame();
      ++frames;
    }
  } else {
    Bare bare;
    renderer = bare.Name();
    while (NowNs() < end) {
      Pointer(frames, x, y);
      bare.PostMove(x, y);
      bare.Frame(frames);
      ++frames;
    }
  }
  std::printf("%s %s %.1f\n", which.c_str(), renderer.c_str(), frames / ((NowNs() - start) / 1e9));
  return 0;
}

int FirstFrame(const std::string& which) {
  if (which == "chain") {
    app::Form1 form({}, app::SettingsFromEnvironment());  // as the program runs, CHAIN_VSYNC too
    form.LoadLinks();
    form.PinChain();
    form.RunFrame();
    std::printf("%lld\n", NowNs());
  } else {
    Bare bare;
    SDL_ShowWindow(bare.window);
    bare.Frame(0);
    std::printf("%lld\n", NowNs());
  }
  std::fflush(stdout);
  return 0;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The frame loop runs as the program runs it, on the null backend with the
// real clock (nothing drawn on a screen: what the frames themselves cost);
// another thread moves the pointer 60 times a second, then stops, then
// closes the window. CPU counts both threads; the mover's share is tiny.
int Display(double hz, double seconds) {
  window::testing::TheNullDisplay() = {};
  window::testing::TheNullDisplay().RefreshHz = hz;
  window::testing::TheNullDisplay().RealClock = true;
  window::testing::TheNullDisplay().Driven = true;
  app::Form1 form("null");
  double moving = 0.0, resting = 0.0;
  std::thread mover([&] {
    const long long start = NowNs();
    const double cpu = CpuSeconds();
    int x = 0, y = 0;
    for (long i = 0; NowNs() - start < seconds * 1e9; ++i) {
      Pointer(i, x, y);
      form.Window().PostMouseMove(x, y);
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
          std::chrono::nanoseconds(start + (i + 1) * 1000000000LL / 60)));
    }
    moving = (CpuSeconds() - cpu) / ((NowNs() - start) / 1e9);
    form.Window().PostMouseMove(100, 100);                  // a place where the chain comes to rest
    std::this_thread::sleep_for(std::chrono::seconds(10));  // about 7 s to come to rest
    const long long rest = NowNs();
    const double restCpu = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    resting = (CpuSeconds() - restCpu) / ((NowNs() - rest) / 1e9);
    form.Window().PostCloseRequest();
  });
  form.Form_Load();
  mover.join();
  std::printf("%.0f Hz: %.2f %% of one core while the pointer moves, %.2f %% at rest\n", hz,
              100 * moving, 100 * resting);
  return 0;
}

struct StartRun {
  double ms;
  long rssKb;
};

StartRun Spawn(const char* self, const char* which) {
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  const long long start = NowNs();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(self, self, "first-frame", which, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char buffer[64] = {};
  const ssize_t got = read(out[0], buffer, sizeof buffer - 1);
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "frame_bench: first-frame %s failed\n", which);
    std::exit(1);
  }
  return {(std::atoll(buffer) - start) / 1e6, usage.ru_maxrss};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Startup(const char* self, int runs) {
  std::vector<double> chainMs, bareMs, chainKb, bareKb;
  for (int i = 0; i < runs; ++i) {
    // Alternating, and in turn first, so that drift and order hit both alike.
    StartRun c{}, b{};
    if (i % 2 == 0) {
      c = Spawn(self, "chain");
      b = Spawn(self, "bare");
    } else {
      b = Spawn(self, "bare");
      c = Spawn(self, "chain");
    }
    chainMs.push_back(c.ms);
    bareMs.push_back(b.ms);
    chainKb.push_back(static_cast<double>(c.rssKb));
    bareKb.push_back(static_cast<double>(b.rssKb));
  }
  const double cm = Median(chainMs), bm = Median(bareMs), ck = Median(chainKb), bk = Median(bareKb);
  std::printf("  start-up to first frame: chain %.1f ms, bare %.1f ms: %.3f x\n", cm, bm, cm / bm);
  std::printf("  peak resident memory:    chain %.0f KiB, bare %.0f KiB: %.3f x\n", ck, bk,
              ck / bk);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  window::SetProgramName("frame_bench");  // begins the platform's warnings
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "loop" && argc == 4) return Loop(argv[2], std::atof(argv[3]));
  if (mode == "first-frame" && argc == 3) return FirstFrame(argv[2]);
  if (mode == "startup" && argc == 3) return Startup("/proc/self/exe", std::atoi(argv[2]));
  if (mode == "display" && argc == 4) return Display(std::atof(argv[2]), std::atof(argv[3]));
  std::fprintf(
      stderr,
      "usage: frame_bench loop chain|bare SECONDS | first-frame chain|bare | startup RUNS | "
      "display HZ SECONDS\n");
  return 2;
}
