// Form1: the program's window. It owns the chain, runs it one frame at a
// time and shows each link as a circle of its control array.
#pragma once

#include <cstdint>
#include <string>

#include "chain/chain.hpp"
#include "chain/step_clock.hpp"
#include "window/platform.hpp"

namespace app {

/// The window as designed: "Form1", 556 x 425 client pixels, and element 0 of
/// the link array, an 8 x 8 red circle at (264, 176).
window::FormDesign Form1Design();

/// What the user set for this run: CHAIN_VSYNC (or else SDL_RENDER_VSYNC)
/// for pacing, CHAIN_CLIENT_DECORATIONS for a title bar of the window's own.
/// An unreadable value is ignored with a one-line warning.
window::FormSettings SettingsFromEnvironment();

class Form1 final : public window::FormEvents {
 public:
  /// Opens the window (hidden) with element 0 of Link, on the window system
  /// `backend` names (window::Backends()), or the session's, run as
  /// `settings` say; throws window::Error.
  explicit Form1(const std::string& backend = {}, const window::FormSettings& settings = {});

  /// Start-up: the chain, links 1 to 40, the window shown, then the frame
  /// loop. Returns once the window has been closed.
  void Form_Load();
  /// The first part of Form_Load, without the frame loop.
  void LoadLinks();
  /// Pins the anchor and runs frames until the window is closed. While the
  /// chain is at rest it sleeps until the next window event instead.
  void RunChain();
  /// The first part of RunChain: pins the anchor.
  void PinChain();
  /// One frame: the chain steps its time calls for (chain::StepClock, 60
  /// a second; none, one or a few), the drawing pass if any ran, and the
  /// event pump, which returns at the display's next refresh.
  void RunFrame();
  /// One step of the chain; throws window::Error on a floating-point fault.
  void Step();
  /// True when the next frame would only repeat a picture already shown
  /// (see chain::RestWatch): the frame loop then sleeps until an event.
  bool AtRest() const { return rest_.AtRest(MouseX, MouseY); }
  /// Centres circle k on point k, for every link in index order.
  void DrawChain();

  void Form_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y) override;
  void Form_Unload(std::int16_t& Cancel) override;

  /// The window, whose control array of circles is the chain's Link array.
  window::Form& Window() { return form_; }
  /// Chain steps run so far.
  std::uint64_t Steps() const { return steps_; }

 private:
  // The state the frame loop and the handlers share.
  bool Quit = false;            // the window has been closed
  chain::ChainPoints Points{};  // head, free links, anchor
  float MouseX = 0.0f;          // last reported pointer position, pixels
  float MouseY = 0.0f;

  window::Form form_;  // the window and its circles (Link, the control array)
  std::uint64_t steps_ = 0;
  chain::RestWatch rest_;
  chain::StepClock clock_;
  bool rested_ = false;  // the last frame ended at rest
};

}  // namespace app
