// web-reference: the picture the desktop window shows at the end of the
// browser tests' pointer script, for the page to be compared with, pixel for
// pixel. The chain settles at rest before each move, so the frames between
// the moves are the same wherever it runs.
//   web-reference SCALE OUT    writes "RGBA WIDTH HEIGHT\n" and the pixels
//   web-reference script       prints the pointer script, "X Y" a line, for
//                              the browser and Wayland tests to play
//   web-reference giant        a window stretched to sizes whose bytes wrap
//                              a 32-bit size_t shows nothing, then, back at
//                              its size, the chain (for 32-bit CPUs)
//   web-reference circle FILE X Y R   prints "X Y MASS", the circle near
//                              device point (X, Y) of FILE's picture (as
//                              written above), judged within R pixels
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "form1.hpp"
#include "headless.hpp"
#include "judge.hpp"

namespace {

// Client pixels; each ends at rest on a fixed point, not a two-frame cycle.
constexpr int kScript[][2] = {{100, 100}, {300, 200}, {150, 300}, {420, 120}};

// Exit status 0 when every giant size showed nothing and the design's size
// the chain; 1, with a line, otherwise.
int Giant() {
  UseNullDisplay();
  Headless run;
  app::Form1& form = run.form;
  const bool shown = WidthsShownWhenGiant(form.Window(), [&form] { form.RunFrame(); }) ==
                         std::vector<int>{0, 0, 0, 0, 556} &&
                     form.Window().Presented().At(280, 300) != 0xF0F0F0u;
  std::fputs(
      shown ? "web-reference: giant windows showed nothing, and the chain came back\n"
            : "web-reference: a giant window showed a picture, or the chain did not come back\n",
      shown ? stdout : stderr);
  return shown ? 0 : 1;
}

// The circle near a point of a picture written as above, for the browser
// and compositor tests: one judge for every language.
int Circle(char** argv) {
  std::FILE* in = std::fopen(argv[2], "rb");
  window::Snapshot shot;
  if (!in || std::fscanf(in, "RGBA %d %d", &shot.Width, &shot.Height) != 2 ||
      std::fgetc(in) != '\n' || shot.Width <= 0 || shot.Height <= 0 || shot.Width > 1 << 15 ||
      shot.Height > 1 << 15) {
    std::fprintf(stderr, "web-reference: %s is no RGBA picture\n", argv[2]);
    return 2;
  }
  shot.Pixels.resize(static_cast<std::size_t>(shot.Width) * shot.Height);
  for (std::uint32_t& p : shot.Pixels) {
    unsigned char rgba[4];
    if (std::fread(rgba, 1, 4, in) != 4) {
      std::fprintf(stderr, "web-reference: %s ends early\n", argv[2]);
      return 2;
    }
    p = static_cast<std::uint32_t>(rgba[0]) << 16 | rgba[1] << 8 | rgba[2];
  }
  std::fclose(in);
  const judge::Seen seen =
      judge::CircleNear(shot, std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
  std::printf("%.4f %.4f %.4f\n", seen.X, seen.Y, seen.Mass);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "circle") return Circle(argv);
  if (argc == 2 && std::string(argv[1]) == "script") {
    for (const auto& move : kScript) std::printf("%d %d\n", move[0], move[1]);
    return 0;
  }
  if (argc != 3 && !(argc == 2 && std::string(argv[1]) == "giant")) {
    std::fprintf(stderr,
                 "usage: web-reference SCALE OUT | web-reference script | web-reference giant | "
                 "web-reference circle FILE X Y R\n");
    return 2;
  }
  try {
    if (argc == 2) return Giant();
    UseNullDisplay(std::stof(argv[1]));
    Headless run;
    app::Form1& form = run.form;
    run.Settle();
    for (const auto& move : kScript) {
      run.Move(static_cast<float>(move[0]), static_cast<float>(move[1]));
      form.Window().WaitEvents();
      run.Settle();
    }
    // A fixed point shows nothing new in the frames after rest.
    const std::uint64_t presents = form.Window().Presents();
    form.RunFrame();
    form.RunFrame();
    if (form.Window().Presents() != presents) {
      std::fprintf(stderr, "web-reference: the script ends in a cycle, not a fixed point\n");
      return 1;
    }
    const window::Snapshot shot = form.Window().Presented();
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
      std::perror(argv[2]);
      return 1;
    }
    std::fprintf(out, "RGBA %d %d\n", shot.Width, shot.Height);
    for (std::uint32_t p : shot.Pixels) {
      const unsigned char rgba[4] = {static_cast<unsigned char>(p >> 16),
                                     static_cast<unsigned char>(p >> 8),
                                     static_cast<unsigned char>(p), 255};
      std::fwrite(rgba, 1, 4, out);
    }
    if (std::fclose(out) != 0) {
      std::perror(argv[2]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "web-reference: %s\n", e.what());
    return 1;
  }
  return 0;
}
