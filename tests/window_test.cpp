// The window without a display: SDL's dummy video driver and its software
// renderer, driven one frame at a time.
#include <gtest/gtest.h>

#include <csignal>

#include "chain/chain.hpp"
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

TEST(Form1, AnInterruptClosesTheWindowLikeItsCloseButton) {
  Form1 form;
  form.LoadLinks();
  std::raise(SIGINT);  // SDL turns it into a quit request
  form.RunChain();
  EXPECT_TRUE(form.Quit);
  EXPECT_LE(form.Frames(), 2u);
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
