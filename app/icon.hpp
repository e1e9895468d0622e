// The program's icon, drawn by the same code as the window's links: for the
// window (Form1's design) and for the files an installer carries.
#pragma once

#include "window/link_art.hpp"

namespace app {

/// A few links hanging in a curve, `size` pixels square.
window::RgbaImage DrawIcon(int size);

}  // namespace app
