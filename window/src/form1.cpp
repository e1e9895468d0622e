#include "window/form1.hpp"

#include <cstring>
#include <string>

namespace window {
namespace {

// Half the circle's size: a circle's top-left corner sits this far up and
// left of the point it shows.
constexpr float kLinkRadius = 4.0f;

}  // namespace

platform::FormDesign Form1Design() {
  platform::FormDesign design;
  design.Caption = "Form1";
  design.ClientWidth = 556;
  design.ClientHeight = 425;
  design.BackColour = 0xF0F0F0;  // the classic dialog grey
  design.Shape.Left = 264.0f;
  design.Shape.Top = 176.0f;
  design.Shape.Width = 8;
  design.Shape.Height = 8;
  design.Shape.FillColour = 0xFF0000;
  design.Shape.OutlineColour = 0x000000;
  return design;
}

Form1::Form1() : link_(Form1Design(), *this) {}

void Form1::Form_Load() {
  LoadLinks();
  RunChain();
}

void Form1::LoadLinks() {
  Points = {};
  for (int i = 1; i < chain::kPointCount; ++i) {
    link_.CreateElement(i);
    link_.SetVisible(i, true);
  }
  link_.Show();
}

void Form1::RunChain() {
  chain::PinAnchor(Points);
  while (!Quit) {
    RunFrame();
    // At rest every frame would repeat the last one exactly, so sleep until
    // something happens; the frame after the event is the one that would
    // have run anyway.
    if (!Quit && atRest_) link_.WaitEvents();
  }
}

void Form1::RunFrame() {
  const chain::ChainPoints before = Points;
  const unsigned faults = chain::StepChainChecked(Points, MouseX, MouseY);
  if (faults != chain::kNoFault)
    throw platform::Error(std::string("floating-point ") + chain::DescribeFloatFaults(faults) +
                          " in frame " + std::to_string(frames_ + 1) + " of the chain");
  ++frames_;
  ++stepsSinceMove_;
  DrawChain();
  link_.DoEvents();
  // A fixed point, or a two-frame cycle (a few chains end alternating
  // between two states 0.0002 px apart), both under an unchanged mouse.
  const auto same = [](const chain::ChainPoints& a, const chain::ChainPoints& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  };
  atRest_ = (stepsSinceMove_ >= 1 && same(before, Points)) ||
            (stepsSinceMove_ >= 2 && same(twoBefore_, Points));
  twoBefore_ = before;
}

void Form1::DrawChain() {
  for (int a = 0; a < chain::kPointCount; ++a)
    link_.Move(a, Points[a].X - kLinkRadius, Points[a].Y - kLinkRadius);
}

void Form1::Form_MouseMove(std::int16_t, std::int16_t, float X, float Y) {
  MouseX = X;
  MouseY = Y;
  stepsSinceMove_ = 0;
}

void Form1::Form_Unload(std::int16_t&) { Quit = true; }

}  // namespace window
