// The null display's controls, for tests and measurements: the "null"
// window system keeps its window's pixels in memory, refreshes at the rate
// a test sets on a clock the test moves on, and takes the events a test
// posts (Form::PostMouseMove, Form::PostCloseRequest). Open it by name:
// Form(design, events, "null").
#pragma once

#include <cstdint>
#include <functional>

namespace window::testing {

/// The null backend's display: a window of pixels in memory whose refreshes
/// and clock a test gives. Set before the window opens; read at each refresh.
struct NullDisplay {
  double RefreshHz = 60.0;
  /// With the test's clock, each refresh moves the clock on to the next
  /// refresh's time at once; with the real one, the backend sleeps until it.
  bool RealClock = false;
  /// Milliseconds added to refresh n's time (a display's jitter); none if empty.
  std::function<double(std::uint64_t n)> Jitter;
  /// Device pixels per client pixel.
  float Scale = 1.0f;
  /// A test drives it. Otherwise a user chose it: Ctrl-C, SIGTERM and
  /// SIGHUP close its window, as they close a real one.
  bool Driven = false;
  /// The display runs the frames, as a browser runs animation frames: the
  /// frame loop returns after the first frame, and the test runs each frame
  /// asked for (NullRunAskedFrame).
  bool RunsFrames = false;
};
NullDisplay& TheNullDisplay();
/// The open null window's client area becomes width x height client pixels,
/// as a compositor that tiles or stretches it would make it; 0 x 0 puts
/// back the design's. Thread-safe; the next pump draws for it.
void NullResize(int width, int height);
/// The test's clock, milliseconds: the time of the frame being run.
double NullClock();
/// Moves the test's clock on (a stall, or time passing at rest): the next
/// refresh comes at the first refresh time after it.
void NullAdvance(double ms);
/// Where the display runs the frames: runs the one the window asked for,
/// if it asked for one since the last; says whether it did.
bool NullRunAskedFrame();
/// Where the display runs the frames: how often the window said it came to rest.
int NullRests();
/// How often the window asked for pixels at a size that has none.
int NullPixelsRefused();

}  // namespace window::testing
