#include "icon.hpp"

#include <algorithm>

namespace app {

window::RgbaImage DrawIcon(int size) {
  window::RgbaImage icon(size, size);
  // Five links on a sagging curve, from top-left to top-right, as the chain
  // hangs between the pointer and its anchor.
  const double s = size / 32.0;
  const double points[5][2] = {{6, 8}, {10, 17}, {16, 22}, {22, 17}, {26, 8}};
  for (const auto& p : points) {
    window::Disc link;
    link.CentreX = p[0] * s;
    link.CentreY = p[1] * s;
    link.OuterRadius = 4.5 * s;
    link.InnerRadius = 4.5 * s - std::max(1.0, 0.9 * s);
    window::PaintDisc(icon, link);
  }
  return icon;
}

}  // namespace app
