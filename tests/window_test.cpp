// The window without a display: SDL's dummy video driver and its software
// renderer, driven one frame at a time.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "chain/chain.hpp"
#include "headless.hpp"
#include "window/form1.hpp"

namespace {

using window::Form1;

bool IsRed(std::uint32_t rgb) {
  return ((rgb >> 16) & 0xFF) > 200 && ((rgb >> 8) & 0xFF) < 60 && (rgb & 0xFF) < 60;
}

// A form that has run its start-up but not its frame loop.
struct LoadedForm {
  Form1 form;
  LoadedForm() {
    form.LoadLinks();
    chain::PinAnchor(form.Points);
  }
};

TEST(Form1, StartUpCreatesFortyOneVisibleLinksAtTheDesignedPlace) {
  LoadedForm f;
  ASSERT_EQ(f.form.Link().ElementCount(), chain::kPointCount);
  for (int i = 0; i < chain::kPointCount; ++i) {
    const platform::ShapeState s = f.form.Link().Shape(i);
    EXPECT_TRUE(s.Visible) << i;
    EXPECT_EQ(s.Left, 264.0f) << i;
    EXPECT_EQ(s.Top, 176.0f) << i;
  }
  EXPECT_EQ(f.form.Link().RendererName(), "software");
}

TEST(Form1, EachFrameCentresEveryCircleOnItsPoint) {
  LoadedForm f;
  f.form.RunFrame();
  const platform::ShapeState head = f.form.Link().Shape(0);
  EXPECT_EQ(head.Left, -4.0f);
  EXPECT_EQ(head.Top, -4.0f);
  const platform::ShapeState anchor = f.form.Link().Shape(chain::kAnchor);
  EXPECT_EQ(anchor.Left, 276.0f);
  EXPECT_EQ(anchor.Top, 296.0f);
  for (int i = 0; i < chain::kPointCount; ++i) {
    EXPECT_EQ(f.form.Link().Shape(i).Left, f.form.Points[i].X - 4.0f) << i;
    EXPECT_EQ(f.form.Link().Shape(i).Top, f.form.Points[i].Y - 4.0f) << i;
  }
  EXPECT_EQ(f.form.Link().Presents(), 1u);
}

TEST(Form1, AMouseMovementReachesTheHeadInTheNextFrame) {
  LoadedForm f;
  f.form.Link().PostMouseMove(100, 120);
  f.form.RunFrame();  // steps with the old position, then the pump delivers the move
  EXPECT_EQ(f.form.MouseX, 100.0f);
  EXPECT_EQ(f.form.MouseY, 120.0f);
  EXPECT_EQ(f.form.Link().Shape(0).Left, -4.0f);
  f.form.RunFrame();
  EXPECT_EQ(f.form.Link().Shape(0).Left, 96.0f);
  EXPECT_EQ(f.form.Link().Shape(0).Top, 116.0f);

  // Positions outside the client area are used as reported.
  f.form.Link().PostMouseMove(-40, 900);
  f.form.RunFrame();
  f.form.RunFrame();
  EXPECT_EQ(f.form.Points[0], (chain::LinkPoint{-40.0f, 900.0f}));
}

TEST(Form1, AMovementThatEndsTheSleepIsDrawnInTheNextFrame) {
  LoadedForm f;
  while (!f.form.AtRest()) f.form.RunFrame();
  f.form.Link().PostMouseMove(200, 40);
  f.form.Link().WaitEvents();  // what the frame loop does at rest
  f.form.RunFrame();
  EXPECT_EQ(f.form.Link().Shape(0).Left, 196.0f);
  EXPECT_EQ(f.form.Link().Shape(0).Top, 36.0f);
  EXPECT_FALSE(f.form.AtRest());
}

TEST(Form1, ACloseRequestEndsTheLoopWithoutAnotherFrame) {
  Form1 form;
  form.LoadLinks();
  form.Link().PostCloseRequest();
  form.Link().PostMouseMove(300, 30);  // arrives in the same pump, never used
  form.RunChain();
  EXPECT_TRUE(form.Quit);
  EXPECT_TRUE(form.Link().Unloaded());
  EXPECT_EQ(form.Frames(), 1u);

  chain::ChainPoints expected{};
  chain::PinAnchor(expected);
  chain::StepChain(expected, 0.0f, 0.0f);
  EXPECT_EQ(form.Points, expected);
  EXPECT_EQ(form.Link().Shape(0).Left, -4.0f);
}

TEST(Form1, ACloseInABurstOfMovementsEndsTheLoopInOneFrame) {
  Form1 form;
  form.LoadLinks();
  for (int i = 0; i < 2000; ++i) form.Link().PostMouseMove(i % 556, i % 425);
  form.Link().PostCloseRequest();
  for (int i = 0; i < 2000; ++i) form.Link().PostMouseMove(i % 300, i % 200);
  form.RunChain();
  EXPECT_TRUE(form.Quit);
  EXPECT_EQ(form.Frames(), 1u);
}

TEST(Form1, AnInterruptClosesTheWindowLikeItsCloseButton) {
  Form1 form;
  form.LoadLinks();
  // To the process, as a terminal sends it; another thread turns it into a
  // quit request, a few frames later at most (if it never came, the loop
  // would sleep at rest and the test would time out).
  kill(getpid(), SIGINT);
  form.RunChain();
  EXPECT_TRUE(form.Quit);
  EXPECT_TRUE(form.Link().Unloaded());
}

TEST(Form1, TheCirclesAreDrawnWhereTheirPointsAre) {
  LoadedForm f;
  f.form.Link().PostMouseMove(60, 50);
  for (int i = 0; i < 3; ++i) f.form.RunFrame();
  const platform::Snapshot shot = f.form.Link().Capture();
  ASSERT_EQ(shot.Width, 556);
  ASSERT_EQ(shot.Height, 425);
  EXPECT_TRUE(IsRed(shot.At(280, 300))) << std::hex << shot.At(280, 300);  // the anchor
  EXPECT_TRUE(IsRed(shot.At(60, 50))) << std::hex << shot.At(60, 50);      // the head
  for (int i = 1; i < chain::kAnchor; ++i) {
    const int x = static_cast<int>(f.form.Points[i].X), y = static_cast<int>(f.form.Points[i].Y);
    if (x >= 0 && y >= 0 && x < shot.Width && y < shot.Height) {
      EXPECT_TRUE(IsRed(shot.At(x, y))) << i;
    }
  }
  EXPECT_EQ(shot.At(500, 20), 0xF0F0F0u);  // background, well away from the chain
  // The circle's outline is dark: just inside its edge, left of the anchor.
  EXPECT_LT((shot.At(276, 300) >> 16) & 0xFF, 128u);
}

TEST(Form1, AFloatingPointFaultStopsTheProgramWithAReason) {
  LoadedForm f;
  f.form.MouseX = 3e38f;  // no window reports this; the step's squares overflow
  f.form.MouseY = 3e38f;
  f.form.RunFrame();
  try {
    f.form.RunFrame();
    FAIL() << "expected an error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("overflow"), std::string::npos) << e.what();
  }
}

// The positions of all 41 circles, as the last drawing pass left them.
std::vector<platform::ShapeState> Drawn(Form1& form) {
  std::vector<platform::ShapeState> shapes;
  for (int i = 0; i < chain::kPointCount; ++i) shapes.push_back(form.Link().Shape(i));
  return shapes;
}

bool SameDrawing(const std::vector<platform::ShapeState>& a,
                 const std::vector<platform::ShapeState>& b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].Left != b[i].Left || a[i].Top != b[i].Top) return false;
  return true;
}

// Runs a script of mouse positions, each posted once the chain is at rest,
// and records every picture drawn until the chain is at rest. With `wait`,
// the form sleeps at rest as its frame loop does; without, it runs `extra`
// (an even number) more frames, which must show nothing new.
std::vector<std::vector<platform::ShapeState>> Pictures(bool wait, int extra = 0) {
  // (400, 60) ends in a two-frame cycle, the others in fixed points.
  const int script[][2] = {{100, 100}, {400, 60}, {400, 61}, {-30, 500}, {0, 0}};
  LoadedForm f;
  std::vector<std::vector<platform::ShapeState>> pictures;
  for (const auto& move : script) {
    do {
      f.form.RunFrame();
      pictures.push_back(Drawn(f.form));
    } while (!f.form.AtRest());
    if (wait) {
      f.form.Link().PostMouseMove(move[0], move[1]);
      f.form.Link().WaitEvents();  // returns at once: the event is queued
      continue;
    }
    for (int i = 0; i < extra; ++i) {
      // The movement arrives during the last extra frame's pump, as it
      // arrives during the sleep that follows the frame at rest.
      if (i == extra - 1) f.form.Link().PostMouseMove(move[0], move[1]);
      f.form.RunFrame();
      const auto seen = Drawn(f.form);
      EXPECT_TRUE(SameDrawing(seen, pictures.back()) ||
                  SameDrawing(seen, pictures[pictures.size() - 2]))
          << "a frame at rest drew something new";
    }
  }
  return pictures;
}

TEST(Form1, SleepingAtRestDrawsTheSamePicturesAsRunningOn) {
  const auto waiting = Pictures(true);
  EXPECT_GT(waiting.size(), 1000u);
  for (int extra : {2, 10}) {
    const auto running = Pictures(false, extra);
    ASSERT_EQ(waiting.size(), running.size());
    for (std::size_t i = 0; i < waiting.size(); ++i)
      ASSERT_TRUE(SameDrawing(waiting[i], running[i])) << "picture " << i << ", extra " << extra;
  }
}

TEST(Form1, AtRestTheLoopSleepsUntilTheCloseRequest) {
  // How many frames the chain needs to come to rest with the mouse never moved.
  chain::ChainPoints points{};
  chain::PinAnchor(points);
  std::uint64_t settle = 0;
  for (chain::ChainPoints before{};; ++settle) {
    before = points;
    chain::StepChain(points, 0.0f, 0.0f);
    if (points == before) break;  // the mouse at (0, 0) leads to a fixed point
  }

  Form1 form;
  form.LoadLinks();
  std::thread closer([&form] {
    // Long enough for the chain to settle even on a loaded machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    form.Link().PostCloseRequest();  // SDL's queue takes events from any thread
  });
  const auto start = std::chrono::steady_clock::now();
  form.RunChain();
  const auto took = std::chrono::steady_clock::now() - start;
  closer.join();
  // One frame per step until the fixed point, one that finds it, then sleep.
  EXPECT_EQ(form.Frames(), settle + 1);
  EXPECT_TRUE(form.AtRest());
  EXPECT_TRUE(form.Quit);
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(Platform, ShapesFarOutsideTheWindowAreClippedNotConverted) {
  LoadedForm f;
  f.form.Link().Move(5, 1e9f, -1e9f);
  f.form.Link().Move(6, -3e38f, 3e38f);
  f.form.Link().DoEvents();
  const platform::Snapshot shot = f.form.Link().Capture();
  EXPECT_EQ(shot.At(500, 20), 0xF0F0F0u);
  EXPECT_THROW(f.form.Link().Move(41, 0.0f, 0.0f), platform::Error);
  EXPECT_THROW(f.form.Link().CreateElement(43), platform::Error);
}

}  // namespace

int main(int argc, char** argv) {
  UseHeadlessVideo();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
