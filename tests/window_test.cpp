// The window as a user sees it: every check reads the picture the window
// last presented, in device pixels, and compares it with the chain that a
// plain model of the same mouse path computes.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chain/chain.hpp"
#include "form1.hpp"
#include "headless.hpp"
#include "judge.hpp"
#include "window/core.hpp"
#include "window/link_art.hpp"

namespace {

using app::Form1;

// Under node there is no window system of the platform's own, and no
// threads: what only those show is left to the desktop and the browser.
#ifdef __EMSCRIPTEN__
#define NEEDS_A_REAL_BACKEND() GTEST_SKIP() << "under node"
#else
#define NEEDS_A_REAL_BACKEND() (void)0
#endif

// A circle's centre as drawn, client pixels, and how much it darkens the
// background: about its area (50 px²) for one whole circle.
struct Seen {
  double X = 0.0, Y = 0.0, Mass = 0.0;
};

// The circle drawn near client point (x, y), judged over the pixels whose
// centres lie within 4.75 client pixels: all that a circle there touches,
// and none that a neighbour 9.5 pixels away touches.
Seen CircleNear(const window::Snapshot& shot, double x, double y) {
  const double s = shot.Scale;
  const judge::Seen seen = judge::CircleNear(shot, x * s, y * s, 4.75 * s);
  return {seen.X / s, seen.Y / s, seen.Mass / (s * s)};
}

bool Inside(const window::Snapshot& shot, const chain::LinkPoint& p) {
  const double margin = 6.0;
  return p.X > margin && p.Y > margin && p.X * shot.Scale < shot.Width - margin * shot.Scale &&
         p.Y * shot.Scale < shot.Height - margin * shot.Scale;
}

// Checks that every circle that stands clear of the others is drawn centred
// on its point to within a twelfth of a client pixel (circles land on an
// eighth of a device pixel); returns how many were.
int ExpectShows(const window::Snapshot& shot, const chain::ChainPoints& points) {
  int checked = 0;
  for (int k = 0; k < chain::kPointCount; ++k) {
    const chain::LinkPoint& p = points[k];
    bool clear = Inside(shot, p);
    for (int j = 0; j < chain::kPointCount && clear; ++j)
      clear = j == k || std::hypot(p.X - points[j].X, p.Y - points[j].Y) > 9.5;
    if (!clear) continue;
    const Seen seen = CircleNear(shot, p.X, p.Y);
    EXPECT_NEAR(seen.X, p.X, 0.08) << "link " << k << " at scale " << shot.Scale;
    EXPECT_NEAR(seen.Y, p.Y, 0.08) << "link " << k << " at scale " << shot.Scale;
    EXPECT_NEAR(seen.Mass, 50.3, 5.0) << "link " << k << " at scale " << shot.Scale;
    ++checked;
  }
  return checked;
}

// A form that has run its start-up and pinned its anchor, and a model of
// the chain it should show.
struct Running : Headless {
  chain::ChainPoints model{};
  float mouseX = 0.0f, mouseY = 0.0f;
  explicit Running(const std::string& backend = kNull,
                   const window::FormSettings& settings = kUnpaced)
      : Headless(backend, settings) {
    chain::PinAnchor(model);
  }
  // One frame of both; a move posted before it reaches the model a frame later.
  void Frame() {
    form.RunFrame();
    chain::StepChain(model, mouseX, mouseY);
  }
  // The mouse the model's next step uses.
  void Held(float x, float y) {
    mouseX = x;
    mouseY = y;
  }
  // Checks the last picture against the model; how many circles were.
  int Shown() { return ExpectShows(form.Window().Presented(), model); }
};

class Scaled : public testing::TestWithParam<float> {
 protected:
  void SetUp() override { UseNullDisplay(GetParam()); }
  void TearDown() override { UseNullDisplay(); }
};

TEST_P(Scaled, StartUpShowsTheWindowAndItsLinksAsDesigned) {
  Form1 form(kNull);
  form.LoadLinks();
  form.Window().DoEvents();
  EXPECT_EQ(form.Window().Presents(), 1u);
  const window::Snapshot shot = form.Window().Presented();
  EXPECT_EQ(shot.Width, std::lround(556 * shot.Scale));
  EXPECT_EQ(shot.Height, std::lround(425 * shot.Scale));
  // All 41 circles stand on the designed one until the first frame.
  const Seen seen = CircleNear(shot, 268.0, 180.0);
  EXPECT_NEAR(seen.X, 268.0, 0.1);
  EXPECT_NEAR(seen.Y, 180.0, 0.1);
  EXPECT_NEAR(seen.Mass, 56.0, 6.0);    // 41 circles on one spot darken its rim
  EXPECT_EQ(shot.At(0, 0), 0xF0F0F0u);  // the background
  // A red fill inside a dark outline.
  const int cx = static_cast<int>(268 * shot.Scale), cy = static_cast<int>(180 * shot.Scale);
  EXPECT_EQ(shot.At(cx, cy), 0xFF0000u);
  EXPECT_LT((shot.At(static_cast<int>(264.5 * shot.Scale), cy) >> 16) & 0xFF, 100u);
}

TEST_P(Scaled, EachPictureShowsTheChainOfItsOwnFrame) {
  Running r;
  const float s = r.Scale();
  r.Move(100.25f, 80.0f);
  for (int frame = 1; frame <= 8; ++frame) {
    r.Frame();
    if (frame == 1) r.Held(std::lround(100.25f * s) / s, std::lround(80.0f * s) / s);
    EXPECT_GE(r.Shown(), 20) << "frame " << frame;
  }
  EXPECT_EQ(r.form.Window().Presents(), 8u);
  EXPECT_EQ(r.form.Steps(), 8u);
}

// Fractional scales (1.25, 1.5) as a Wayland compositor offers them.
INSTANTIATE_TEST_SUITE_P(Form1, Scaled, testing::Values(1.0f, 1.25f, 1.5f, 2.0f, 3.0f));

TEST(Form1, AMovementReachesTheHeadInTheNextFrame) {
  Running r;
  r.Move(400.0f, 120.0f);
  r.Frame();  // steps with the old position, then the pump delivers the move
  EXPECT_EQ(CircleNear(r.form.Window().Presented(), 400.0, 120.0).Mass, 0.0);
  r.Held(400.0f, 120.0f);
  r.Frame();  // the head, far from the rest, is among the circles checked
  EXPECT_GE(r.Shown(), 20);
  // Positions outside the client area are used as reported.
  r.form.Window().PostMouseMove(-40, 900);
  r.Held(-40.0f / r.Scale(), 900.0f / r.Scale());
  for (int i = 0; i < 30; ++i) r.Frame();
  EXPECT_GE(r.Shown(), 10);
}

TEST(Form1, AtRestTheLoopSleepsAndAMovementWakesIt) {
  Running r;
  while (!r.form.AtRest()) r.Frame();
  const std::uint64_t presents = r.form.Window().Presents();
  r.Frame();  // a frame at rest shows nothing new
  EXPECT_TRUE(r.form.AtRest());
  EXPECT_EQ(r.form.Window().Presents(), presents);
  r.Move(200.0f, 40.0f);
  r.form.Window().WaitEvents();  // what the frame loop does at rest
  EXPECT_FALSE(r.form.AtRest()) << "right after a move";
  r.Held(200.0f, 40.0f);
  r.Frame();
  EXPECT_GE(r.Shown(), 20);
  EXPECT_FALSE(r.form.AtRest());
}

// Where the chain ends cycling through 3 or 8 pictures (jumped there from
// its rest under (0, 0)), the loop rests too once the cycle has closed; a
// frame run on instead would only show one of the cycle's pictures again.

TEST(Form1, WhereTheChainCyclesTheLoopRestsToo) {
  for (const auto& [x, y] : {std::pair{324.0f, 45.0f}, std::pair{90.0f, 270.0f}}) {
    Running r;
    while (!r.form.AtRest()) r.Frame();
    r.Move(x, y);
    r.form.Window().WaitEvents();
    std::vector<std::uint64_t> shown;
    for (int frames = 0; !r.form.AtRest(); ++frames) {
      ASSERT_LT(frames, 20000) << x << ", " << y << ": never at rest";
      r.form.RunFrame();
      shown.push_back(Fingerprint(r.form));
    }
    r.form.RunFrame();
    const auto last = shown.end() - std::min<std::ptrdiff_t>(8, std::ssize(shown));
    EXPECT_NE(std::find(last, shown.end(), Fingerprint(r.form)), shown.end()) << x << ", " << y;
  }
}

// Where the display runs the frames, as a browser does: each asks for the
// next while the chain moves, none is asked for at rest until an event
// comes, and none after the close.
TEST(Form1, ADisplayThatRunsTheFramesIsAskedForNoneAtRest) {
  auto& display = window::testing::TheNullDisplay();
  display.RunsFrames = true;
  Form1 form(kNull);
  display.RunsFrames = false;
  form.LoadLinks();
  form.RunChain();  // the first frame, at once
  const auto settle = [&] {
    int frames = 0;
    while (window::testing::NullRunAskedFrame()) ASSERT_LT(++frames, 20000) << "never at rest";
  };
  settle();
  EXPECT_TRUE(form.AtRest());
  EXPECT_EQ(window::testing::NullRests(), 1);
  const std::uint64_t steps = form.Steps();
  form.Window().PostMouseMove(200, 40);
  form.Window().PostMouseMove(210, 40);  // one frame asked for, however many events
  ASSERT_TRUE(window::testing::NullRunAskedFrame());
  EXPECT_EQ(form.Steps(), steps + 1);
  EXPECT_FALSE(form.AtRest());
  settle();
  EXPECT_EQ(window::testing::NullRests(), 2);
  form.Window().PostCloseRequest();
  ASSERT_TRUE(window::testing::NullRunAskedFrame());
  EXPECT_TRUE(form.Window().Unloaded());
  form.Window().PostMouseMove(300, 30);
  EXPECT_FALSE(window::testing::NullRunAskedFrame()) << "a frame after the close";
}

TEST(Form1, ACloseRequestEndsTheLoopWithoutAnotherFrame) {
  Form1 form(kNull);
  form.LoadLinks();
  for (int i = 0; i < 2000; ++i) form.Window().PostMouseMove(i % 556, i % 425);
  form.Window().PostCloseRequest();
  form.Window().PostMouseMove(300, 30);  // arrives after the close, never used
  form.RunChain();
  EXPECT_TRUE(form.Window().Unloaded());
  EXPECT_EQ(form.Steps(), 1u);
  // The window closed in the frame's own pump: nothing more is shown.
  EXPECT_EQ(form.Window().Presents(), 0u);
  form.Window().DoEvents();
  EXPECT_EQ(form.Window().Presents(), 0u);
}

TEST(Form1, AtRestTheLoopSleepsUntilTheCloseRequest) {
  NEEDS_A_REAL_BACKEND();
  Running r;
  while (!r.form.AtRest()) r.Frame();
  const std::uint64_t settled = r.form.Steps();
  std::thread closer([&r] {
    // Whenever it comes, the loop has run its one frame at rest and sleeps.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    r.form.Window().PostCloseRequest();
  });
  r.form.RunChain();
  closer.join();
  // One frame at rest, then sleep. A desktop may wake the sleep a few times
  // (focus, painting of the frame); a loop that kept running would run
  // hundreds of frames in the time.
  EXPECT_GE(r.form.Steps(), settled + 1);
  EXPECT_LE(r.form.Steps(), settled + 20) << "the loop kept running at rest";
  EXPECT_TRUE(r.form.Window().Unloaded());
}

TEST(Form1, AnInterruptClosesTheWindowLikeItsCloseButton) {
  NEEDS_A_REAL_BACKEND();
  Form1 form(UseRealBackend(), kUnpaced);  // the signals are the real backends' own
  form.LoadLinks();
  // As a terminal sends it: SIGINT to the process, or Ctrl-C in the
  // console. Another thread turns it into a close request (if it never
  // came, the loop would sleep at rest and the test would time out).
#ifdef _WIN32
  if (!GetConsoleWindow()) AllocConsole();
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
    GTEST_SKIP() << "no console that can send Ctrl-C here (Wine on a Unix terminal)";
#else
  kill(getpid(), SIGINT);
#endif
  form.RunChain();
  EXPECT_TRUE(form.Window().Unloaded());
}

// Runs a script of mouse positions, each posted once the chain is at rest,
// and fingerprints every picture until the chain is at rest. With `wait`,
// the form sleeps at rest as its frame loop does; without, it runs `extra`
// (an even number) more frames, which must show nothing new.
std::vector<std::uint64_t> Pictures(bool wait, int extra = 0) {
  // (400, 60) ends in a two-frame cycle, the others in fixed points.
  const int script[][2] = {{100, 100}, {400, 60}, {400, 61}, {-30, 500}, {0, 0}};
  Running r;
  std::vector<std::uint64_t> pictures;
  for (const auto& move : script) {
    do {
      r.form.RunFrame();
      pictures.push_back(Fingerprint(r.form));
    } while (!r.form.AtRest());
    if (wait) {
      r.form.Window().PostMouseMove(move[0], move[1]);
      r.form.Window().WaitEvents();  // returns at once: the event is queued
      continue;
    }
    for (int i = 0; i < extra; ++i) {
      // The movement arrives during the last extra frame's pump, as it
      // arrives during the sleep that follows the frame at rest.
      if (i == extra - 1) r.form.Window().PostMouseMove(move[0], move[1]);
      r.form.RunFrame();
      const std::uint64_t seen = Fingerprint(r.form);
      EXPECT_TRUE(seen == pictures.back() || seen == pictures[pictures.size() - 2])
          << "a frame at rest drew something new";
    }
  }
  return pictures;
}

TEST(Form1, SleepingAtRestShowsTheSamePicturesAsRunningOn) {
  const auto waiting = Pictures(true);
  EXPECT_GT(waiting.size(), 1000u);
  EXPECT_EQ(Pictures(false, 2), waiting);
}

TEST(Platform, ShapesFarOutsideTheWindowAreClippedAndIndicesChecked) {
  Running r;
  r.form.Window().Move(5, 1e9f, -1e9f);
  r.form.Window().Move(6, -3e38f, 3e38f);
  r.form.Window().Move(7, -3.5f, 420.0f);  // partly outside, bottom-left
  r.form.Window().DoEvents();
  const window::Snapshot shot = r.form.Window().Presented();
  EXPECT_EQ(shot.At(shot.Width - 1, 0), 0xF0F0F0u);
  EXPECT_NE(shot.At(0, shot.Height - 1), 0xF0F0F0u);
  EXPECT_THROW(r.form.Window().Move(41, 0.0f, 0.0f), window::Error);
  EXPECT_THROW(r.form.Window().SetVisible(-1), window::Error);
  EXPECT_THROW(r.form.Window().CreateElement(43), window::Error);
}

// A window stretched past what any picture can hold shows nothing and the
// chain goes on; at a size that fits it is drawn again. A 32-bit size_t (a
// page, armhf) would wrap some of the sizes and write far past the pixels.
// Pixels are asked for once a size, not again each frame of a moving chain.
TEST(Platform, AWindowTooLargeForItsPixelsShowsNothingUntilItFits) {
  Running r;  // the chain falls from where it starts
  const int design = static_cast<int>(std::lround(556 * r.Scale()));
  EXPECT_EQ(WidthsShownWhenGiant(r.form.Window(), [&r] { r.Frame(); }),
            (std::vector<int>{0, 0, 0, 0, design}));
  EXPECT_EQ(window::testing::NullPixelsRefused(), 4 * 2) << "a frame and a snapshot at each size";
  EXPECT_GE(r.Shown(), 20);
}

// A circle's look at each sub-pixel offset is drawn the first time a circle
// lands there: it is the same whichever offsets were drawn before it.
TEST(Platform, ACircleLooksTheSameWhicheverOffsetsWereDrawnBefore) {
  const auto picture = [](bool everyOffsetFirst) {
    Running r;
    for (int i = 0; everyOffsetFirst && i < 64; ++i) {
      r.form.Window().Move(5, 100.0f + static_cast<float>(i % 8) / 8,
                           100.0f + static_cast<float>(i / 8) / 8);
      r.form.Window().DoEvents();
    }
    r.form.Window().Move(5, 200.37f, 150.81f);
    r.form.Window().DoEvents();
    return r.form.Window().Presented().Pixels;
  };
  EXPECT_EQ(picture(true), picture(false));
}

// The circles' bytes, recorded: every sub-pixel offset of the window's
// circle at five scales, as the atlas paints them, hashed. The same on every
// CPU and compiler, and the same after any change to how a disc is painted.
TEST(Platform, CirclesArePaintedToTheRecordedBytes) {
  const std::pair<double, std::uint64_t> recorded[] = {{1.0, 0x60cafb9918e77e1bull},
                                                       {1.25, 0x42554dc1a671717bull},
                                                       {1.5, 0xaf9e97ae9b9aed2bull},
                                                       {2.0, 0x51ea6e160a836e8bull},
                                                       {3.0, 0xaadcb977af6ec9e3ull}};
  for (const auto& [scale, hash] : recorded) {
    const int cell = 2 + static_cast<int>(std::ceil(8 * scale));
    window::RgbaImage image(cell * 8, cell * 8);
    for (int i = 0; i < 64; ++i) {
      const int px = i % 8, py = i / 8;
      window::PaintDisc(image,
                        {px * cell + 1 + px / 8.0 + 4 * scale, py * cell + 1 + py / 8.0 + 4 * scale,
                         4 * scale, 3 * scale, 0xFF0000, 0x000000});
    }
    std::uint64_t seen = 14695981039346656037ull;
    for (const std::uint8_t byte : image.Pixels) seen = (seen ^ byte) * 1099511628211ull;
    EXPECT_EQ(seen, hash) << "at scale " << scale;
  }
}

// Pacing is what a user sees of the display's refresh: the tests run
// unpaced, so this one asks for it as the program runs, on the platform's
// own backend. Thirty-one frames of a moving chain take at least 29 refreshes
// (60 Hz where the display does not say), and steps follow the time they
// took; a busy machine only makes them slower.
TEST(Form1, FramesWhileTheChainMovesArePacedToTheDisplay) {
  NEEDS_A_REAL_BACKEND();
  Running r(UseRealBackend(), window::FormSettings{.Paced = true});
  r.Move(500.0f, 40.0f);
  // The clock starts before the first frame: its steps are not counted, but
  // the wait for its refresh is time the next frame's steps may cover.
  const auto start = std::chrono::steady_clock::now();
  r.form.RunFrame();
  const std::uint64_t steps = r.form.Steps();
  for (int i = 0; i < 30; ++i) r.form.RunFrame();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 29 / 60.0 * 0.98) << "31 frames in " << seconds << " s: not paced";
  // Never ahead of the clock; never behind a paced display.
  EXPECT_LE(r.form.Steps() - steps, seconds * 60 + 2) << "steps in " << seconds << " s";
  EXPECT_GE(r.form.Steps() - steps, 28u) << "steps in " << seconds << " s";
}

TEST(Platform, SettingsReadYesAndNoAlikeAndWarnOfAnythingElse) {
#ifdef __EMSCRIPTEN__
  GTEST_SKIP() << "under node, standard error cannot be captured";
#endif
  using window::core::Switch;
  const struct {
    const char* value;
    std::optional<bool> read;
  } cases[] = {{"0", false}, {"false", false}, {"OFF", false}, {"No", false},
               {"1", true},  {"true", true},   {"on", true},   {"YES", true},
               {"", {}},     {"maybe", {}},    {"2", {}},      {"offf", {}}};
  for (const auto& c : cases) {
    SetVariable("CHAIN_TEST_SWITCH", c.value);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Switch("CHAIN_TEST_SWITCH"), c.read) << "'" << c.value << "'";
    const std::string said = testing::internal::GetCapturedStderr();
    const bool unreadable = *c.value && !c.read;
    EXPECT_EQ(said.empty(), !unreadable) << said;
    if (unreadable) {
      EXPECT_EQ(said, "chain: ignoring CHAIN_TEST_SWITCH=" + std::string(c.value) +
                          " (expected 1, true, on, yes, 0, false, off or no)\n");
    }
  }
}

// "off" turns pacing off for real: no frame waits for a refresh, and each
// counts as one 60 Hz refresh, so the chain runs one step a frame.
TEST(Platform, PacingOffRunsFramesBackToBackOneStepEach) {
  using window::core::Pacer;
  SetVariable("CHAIN_TEST_PACING", "off");
  Pacer off(Pacer::Wanted({"CHAIN_TEST_PACING"}));
  EXPECT_FALSE(off.On());
  for (int i = 0; i < 3; ++i) {
    const Pacer::Clock::time_point until = off.Deadline(60.0);
    EXPECT_LE(until, Pacer::Clock::now()) << "unpaced, frame " << i << " would wait";
  }
  EXPECT_EQ(off.NowMs(), 50.0);
  SetVariable("CHAIN_TEST_PACING", "on");
  Pacer on(Pacer::Wanted({"CHAIN_TEST_PACING"}));
  const Pacer::Clock::time_point first = on.Deadline(60.0), second = on.Deadline(60.0);
  EXPECT_GE(second - first, std::chrono::microseconds(16666)) << "paced: one refresh apart";
}

TEST(Platform, TheWindowScaleKeepsTheWindowOnItsScreen) {
  using window::core::FitScale;
  EXPECT_EQ(FitScale(2.0f, 556, 425, 1280, 1024), 2.0f);   // fits as asked
  EXPECT_EQ(FitScale(10.0f, 556, 425, 1280, 1024), 2.0f);  // 960 dpi: lowered, by quarters
  EXPECT_EQ(FitScale(4.0f, 556, 425, 1920, 1080), 2.25f);
  EXPECT_EQ(FitScale(44739242.0f, 556, 425, 3840, 2160), 4.5f);  // an absurd dpi setting
  EXPECT_EQ(FitScale(1.0f, 556, 425, 640, 480), 1.0f);  // as designed, even on a small screen
  EXPECT_EQ(FitScale(1.5f, 556, 425, 600, 400), 1.0f);
  EXPECT_EQ(FitScale(std::nanf(""), 556, 425, 1280, 1024), 1.0f);
  EXPECT_EQ(FitScale(3.0f, 556, 425, 0, 0), 3.0f);   // no screen known
  EXPECT_EQ(FitScale(10.0f, 556, 425, 0, 0), 4.0f);  // no screen known: capped
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
  // The override's range ends at 10, taken as asked where no screen says otherwise.
  // A decimal number, blanks around it alike; nothing else.
  for (const auto& [asked, scale] :
       {std::pair{"10", 10.0f}, std::pair{"10.5", 1.0f}, std::pair{" 2", 2.0f},
        std::pair{"2 ", 2.0f}, std::pair{"1.5", 1.5f}, std::pair{"0x2", 1.0f},
        std::pair{"1e1", 1.0f}, std::pair{"2.", 2.0f}, std::pair{"1.2.", 1.0f}}) {
    const std::string real = UseRealBackend();
    SetVariable("SDL_VIDEO_X11_SCALING_FACTOR", asked);
    testing::internal::CaptureStderr();
    const float shown = Running(real).Scale();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, scale) << "SDL_VIDEO_X11_SCALING_FACTOR=" << asked;
  }
#endif
}

TEST(Platform, RoundingTakesHalvesAwayFromZeroAndNothingElse) {
  // Written out, not compared with std::round: MinGW's rounds the largest
  // double below one half up, as adding 0.5 first does.
  const std::pair<double, double> cases[] = {{0.5, 1},
                                             {2.5, 3},
                                             {-2.5, -3},
                                             {0.49999999999999994, 0},
                                             {-0.49999999999999994, 0},
                                             {4503599627370495.5, 4503599627370496},
                                             {0x1p52 + 1, 0x1p52 + 1},
                                             {1e300, 1e300},
                                             {425 * 1.75, 744},
                                             {556 * 1.25, 695}};
  for (const auto& [x, whole] : cases)
    EXPECT_EQ(window::core::RoundHalfAway(x), whole) << std::hexfloat << x;
  EXPECT_TRUE(std::isnan(window::core::RoundHalfAway(std::nan(""))));
}

}  // namespace
