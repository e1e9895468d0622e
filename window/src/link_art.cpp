#include "window/link_art.hpp"

#include <algorithm>
#include <cmath>

namespace window {
namespace {

constexpr int kSamples = 16;  // per axis, per pixel

// Straight-alpha "over": src over dst, both with components in 0..1.
void Over(std::uint8_t* dst, double r, double g, double b, double a) {
  const double da = dst[3] / 255.0;
  const double oa = a + da * (1.0 - a);
  if (oa <= 0.0) return;
  const auto mix = [&](double s, std::uint8_t d) {
    return static_cast<std::uint8_t>(
        std::lround((s * a + d / 255.0 * da * (1.0 - a)) / oa * 255.0));
  };
  dst[0] = mix(r, dst[0]);
  dst[1] = mix(g, dst[1]);
  dst[2] = mix(b, dst[2]);
  dst[3] = static_cast<std::uint8_t>(std::lround(oa * 255.0));
}

double Channel(std::uint32_t rgb, int shift) { return ((rgb >> shift) & 0xFF) / 255.0; }

}  // namespace

RgbaImage::RgbaImage(int width, int height)
    : Width(width), Height(height), Pixels(static_cast<std::size_t>(width) * height * 4, 0) {}

void PaintDisc(RgbaImage& image, const Disc& disc) {
  const double outer2 = disc.OuterRadius * disc.OuterRadius;
  const double inner2 = disc.InnerRadius * disc.InnerRadius;
  const int x0 = std::max(0, static_cast<int>(std::floor(disc.CentreX - disc.OuterRadius)));
  const int y0 = std::max(0, static_cast<int>(std::floor(disc.CentreY - disc.OuterRadius)));
  const int x1 =
      std::min(image.Width - 1, static_cast<int>(std::ceil(disc.CentreX + disc.OuterRadius)));
  const int y1 =
      std::min(image.Height - 1, static_cast<int>(std::ceil(disc.CentreY + disc.OuterRadius)));
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      int fill = 0;
      int ring = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        const double dy = y + (sy + 0.5) / kSamples - disc.CentreY;
        for (int sx = 0; sx < kSamples; ++sx) {
          const double dx = x + (sx + 0.5) / kSamples - disc.CentreX;
          const double d2 = dx * dx + dy * dy;
          if (d2 < inner2)
            ++fill;
          else if (d2 < outer2)
            ++ring;
        }
      }
      const int covered = fill + ring;
      if (covered == 0) continue;
      const double f = static_cast<double>(fill) / covered;
      const auto channel = [&](int shift) {
        return f * Channel(disc.Fill, shift) + (1.0 - f) * Channel(disc.Outline, shift);
      };
      Over(image.At(x, y), channel(16), channel(8), channel(0),
           static_cast<double>(covered) / (kSamples * kSamples));
    }
  }
}

RgbaImage DrawIcon(int size) {
  RgbaImage icon(size, size);
  // Five links on a sagging curve, from top-left to top-right, as the chain
  // hangs between the pointer and its anchor.
  const double s = size / 32.0;
  const double points[5][2] = {{6, 8}, {10, 17}, {16, 22}, {22, 17}, {26, 8}};
  for (const auto& p : points) {
    Disc link;
    link.CentreX = p[0] * s;
    link.CentreY = p[1] * s;
    link.OuterRadius = 4.5 * s;
    link.InnerRadius = 4.5 * s - std::max(1.0, 0.9 * s);
    PaintDisc(icon, link);
  }
  return icon;
}

}  // namespace window
