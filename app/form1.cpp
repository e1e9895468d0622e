#include "form1.hpp"

#include <string>

#include "icon.hpp"
#include "version.hpp"
#include "window/core.hpp"

namespace app {
namespace {

// Half the circle's size: a circle's top-left corner sits this far up and
// left of the point it shows.
constexpr float kLinkRadius = 4.0f;

}  // namespace

window::FormDesign Form1Design() {
  window::FormDesign design;
  design.Caption = "Form1";
  design.Name = "chain";
  design.AppId = kAppId;
#ifndef __EMSCRIPTEN__
  design.Icon = DrawIcon;
#endif
  design.ClientWidth = 556;
  design.ClientHeight = 425;
  design.BackColour = 0xF0F0F0;  // the classic dialog grey
  design.Shape.Left = 264.0f;
  design.Shape.Top = 176.0f;
  design.Shape.Size = 8;
  design.Shape.FillColour = 0xFF0000;
  design.Shape.OutlineColour = 0x000000;
  return design;
}

#ifndef __EMSCRIPTEN__
window::FormSettings SettingsFromEnvironment() {
  window::FormSettings settings;
  // SDL's own switch too, which users of SDL programs know.
  settings.Paced = window::core::Pacer::Wanted({"CHAIN_VSYNC", "SDL_RENDER_VSYNC"});
  settings.OwnDecorations = window::core::Switch("CHAIN_CLIENT_DECORATIONS").value_or(false);
  return settings;
}
#endif

Form1::Form1(const std::string& backend, const window::FormSettings& settings)
    : form_(Form1Design(), *this, backend, settings) {}

void Form1::Form_Load() {
  LoadLinks();
  RunChain();
}

void Form1::LoadLinks() {
  Points = {};
  for (int i = 1; i < chain::kPointCount; ++i) {
    form_.CreateElement(i);
    form_.SetVisible(i);
  }
  form_.Show();
}

void Form1::PinChain() { chain::PinAnchor(Points); }

void Form1::RunChain() {
  PinChain();
  form_.RunFrames([this] {
    if (Quit) return window::Next::Stop;  // tested before every frame, the first too
    RunFrame();
    if (Quit) return window::Next::Stop;
    // At rest every frame would repeat a picture already shown, so sleep
    // until something happens; the frame after the event is the one that
    // would have run anyway.
    return AtRest() ? window::Next::Rest : window::Next::Frame;
  });
}

void Form1::RunFrame() {
  // Coming out of a rest, the clock starts again: the first move steps now.
  if (rested_) clock_.Restart();
  const int steps = clock_.Due(form_.FrameTime());
  for (int i = 0; i < steps; ++i) Step();
  if (steps > 0) DrawChain();
  form_.DoEvents();
  rested_ = AtRest();
}

void Form1::Step() {
  const chain::ChainPoints before = Points;
  const unsigned faults = chain::StepChainChecked(Points, MouseX, MouseY);
  if (faults != chain::kNoFault)
    throw window::Error(std::string("floating-point ") + chain::DescribeFloatFaults(faults) +
                        " in step " + std::to_string(steps_ + 1) + " of the chain");
  ++steps_;
  rest_.Record(before, Points, MouseX, MouseY);
}

void Form1::DrawChain() {
  for (int a = 0; a < chain::kPointCount; ++a)
    form_.Move(a, Points[a].X - kLinkRadius, Points[a].Y - kLinkRadius);
}

void Form1::Form_MouseMove(std::int16_t, std::int16_t, float X, float Y) {
  MouseX = X;
  MouseY = Y;
}

void Form1::Form_Unload(std::int16_t&) { Quit = true; }

}  // namespace app
