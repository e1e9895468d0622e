// Our small forms platform: one window with a control array of circle
// shapes, an event pump that calls the window's handlers, and a repaint of
// whatever moved. The operating system's window system stays inside the
// implementation; the drawing is the platform's own, the same everywhere.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "window/link_art.hpp"

namespace window {

/// A failure of the platform (no display, a window that cannot be made, a
/// failing system call). The message names what failed and why, on one line.
class Error : public std::exception {
 public:
  explicit Error(std::string what) : what_(std::move(what)) {}
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string what_;  // an exception of our own, not runtime_error: the page
                      // then carries none of the standard library's error text
};

/// The pointer buttons held during a move (Form_MouseMove's Button), as bits.
enum MouseButtons : std::int16_t { kLeftButton = 1, kRightButton = 2, kMiddleButton = 4 };
/// The modifier keys held during a move (Form_MouseMove's Shift), as bits.
enum ShiftKeys : std::int16_t { kShiftKey = 1, kCtrlKey = 2, kAltKey = 4 };

/// The handlers a form raises. They run nested inside DoEvents/WaitEvents,
/// on the caller's thread.
class FormEvents {
 public:
  /// The pointer moved; X, Y in client-area pixels (logical pixels on a
  /// high-density display), used as reported: they may lie outside the client
  /// area while a button is held. Button: MouseButtons bits; Shift:
  /// ShiftKeys bits.
  virtual void Form_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y) = 0;
  /// The window is being closed; leave Cancel at 0 to let it close.
  virtual void Form_Unload(std::int16_t& Cancel) = 0;

 protected:
  ~FormEvents() = default;
};

/// Element 0 of the control array as designed: a circle. Colours are 0xRRGGBB.
struct ShapeDesign {
  float Left = 0.0f;  ///< pixels
  float Top = 0.0f;   ///< pixels
  int Size = 8;       ///< pixels; the circle's diameter
  std::uint32_t FillColour = 0xFF0000;
  std::uint32_t OutlineColour = 0x000000;
};

/// The window as designed.
struct FormDesign {
  std::string Caption;
  /// The program's name, as a desktop may show it beside the caption.
  std::string Name;
  /// The program's name for desktops (a Wayland app id, the desktop entry's
  /// name); none if empty.
  std::string AppId;
  /// Draws the window's icon, `size` pixels square; none if null.
  RgbaImage (*Icon)(int size) = nullptr;
  int ClientWidth = 0;  ///< pixels (logical pixels on a high-density display)
  int ClientHeight = 0;
  std::uint32_t BackColour = 0xF0F0F0;
  ShapeDesign Shape;
};

/// What a user may choose for one run of the window, beside its design; the
/// program reads it from wherever its users set it.
struct FormSettings {
  /// Frames one display refresh apart. Unpaced, they follow one another as
  /// fast as the machine runs them, each counted as one refresh of a 60 Hz
  /// display, for measuring. (A page's frames are the browser's.)
  bool Paced = true;
  /// The window draws its own title bar even where the compositor offers to
  /// draw one (Wayland).
  bool OwnDecorations = false;
};

/// A picture as the window showed it: device pixels, 0xRRGGBB each, and the
/// number of device pixels per client pixel.
struct Snapshot {
  int Width = 0;
  int Height = 0;
  float Scale = 1.0f;
  std::vector<std::uint32_t> Pixels;
  std::uint32_t At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
};

/// What one frame of a frame loop asks for next: another frame, rest (no
/// frame until a window event arrives), or the end of the loop.
enum class Next { Frame, Rest, Stop };

/// The names of the window systems this build can show a window on, the
/// session's usual choice first ("wayland", "x11", "null"; "win32", "null";
/// in a page, "page").
std::vector<std::string> Backends();

/// The window with its control array of circle shapes.
class Form {
 public:
  /// Starts the platform and creates the window as designed, still hidden,
  /// with element 0 of the control array (visible), on the window system
  /// `backend` names (one of Backends(), in any case), or with none named on
  /// the one the session offers, run as `settings` say. Throws Error on
  /// failure.
  Form(const FormDesign& design, FormEvents& events, const std::string& backend = {},
       const FormSettings& settings = {});
  ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  /// Adds element `index` as a copy of element 0, not visible. The index must
  /// be the next free one.
  void CreateElement(int index);
  /// The shape is drawn from then on.
  void SetVisible(int index);
  /// Puts the shape's top-left corner at (left, top), client-area pixels;
  /// the size is kept. Positions far outside the window are allowed.
  void Move(int index, float left, float top);
  /// Makes the window visible and returns at once.
  void Show();
  /// Handles every pending event, calling the handlers, then repaints if
  /// anything moved or the window asked for it. Either way it returns at the
  /// display's next refresh, so that frames keep the display's beat.
  /// Does nothing once unloaded.
  void DoEvents();
  /// Sleeps until at least one event arrives, then does what DoEvents does.
  void WaitEvents();
  /// Runs `frame` again and again until it returns Next::Stop; after
  /// Next::Rest, waits for the next window event and handles it first, as
  /// WaitEvents does. On the desktop a plain loop that sleeps in the event
  /// wait and returns when stopped. In a browser each frame runs in an
  /// animation frame, none is asked for at rest, and the call does not return:
  /// the page goes on running frames.
  void RunFrames(const std::function<Next()>& frame);

  /// The time of the frame being run, milliseconds: the display's own where
  /// it tells, otherwise the platform's steady clock.
  double FrameTime() const;
  /// True once a close was accepted; the window is gone from the screen.
  bool Unloaded() const;
  /// How many pictures were presented so far.
  std::uint64_t Presents() const;
  /// The last presented picture, read from the window's own pixels.
  Snapshot Presented() const;
  /// The same, into `shot`, whose memory serves again: for a reader of
  /// every frame, which would otherwise get fresh pages each time.
  void Presented(Snapshot& shot) const;

  /// Queue events as the window system delivers them, from any thread (for
  /// tests and tools): a pointer position in device pixels of the client
  /// area, and a close request such as the close button makes.
  void PostMouseMove(int x, int y);
  void PostCloseRequest();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace window
