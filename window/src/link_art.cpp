#include "window/link_art.hpp"

#include <algorithm>
#include <cmath>

namespace window {
namespace {

constexpr int kSamples = 16;  // per axis, per pixel

// Straight-alpha "over": src over dst, both with components in 0..1.
void BlendStraight(std::uint8_t* dst, double r, double g, double b, double a) {
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

// How many of a pixel row's samples, at x + (sx + 0.5)/kSamples for sx = 0
// .. kSamples - 1, lie within radius2 of the centre, dy below or above it:
// an interval of them, found from the chord's half-width and settled by the
// very test each sample would get, so the count is the one sample by sample.
int SamplesWithin(int x, double dy, double centreX, double radius2) {
  const auto in = [&](int sx) {
    const double dx = x + (sx + 0.5) / kSamples - centreX;
    return dx * dx + dy * dy < radius2;
  };
  const double h = radius2 - dy * dy;
  if (h <= 0.0) return 0;
  const double half = std::sqrt(h);
  // sx is in when |x + (sx + 0.5)/kSamples - centreX| < half.
  int lo =
      std::clamp(static_cast<int>(std::ceil((centreX - half - x) * kSamples - 0.5)), 0, kSamples);
  int hi = std::clamp(static_cast<int>(std::floor((centreX + half - x) * kSamples - 0.5)), -1,
                      kSamples - 1);
  while (lo > 0 && in(lo - 1)) --lo;
  while (lo < kSamples && !in(lo)) ++lo;
  while (hi < kSamples - 1 && in(hi + 1)) ++hi;
  while (hi >= 0 && !in(hi)) --hi;
  return hi >= lo ? hi - lo + 1 : 0;
}

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
      // A pixel wholly inside one part of the disc has every sample there:
      // only pixels an edge crosses are sampled, with the same result.
      const double nearX = std::max({x - disc.CentreX, 0.0, disc.CentreX - (x + 1)});
      const double nearY = std::max({y - disc.CentreY, 0.0, disc.CentreY - (y + 1)});
      const double farX = std::max(std::fabs(x - disc.CentreX), std::fabs(x + 1 - disc.CentreX));
      const double farY = std::max(std::fabs(y - disc.CentreY), std::fabs(y + 1 - disc.CentreY));
      const double near2 = nearX * nearX + nearY * nearY, far2 = farX * farX + farY * farY;
      if (near2 >= outer2) continue;
      const bool inside = far2 < inner2, inRing = near2 >= inner2 && far2 < outer2;
      if (inside) fill = kSamples * kSamples;
      if (inRing) ring = kSamples * kSamples;
      for (int sy = 0; sy < kSamples && !inside && !inRing; ++sy) {
        const double dy = y + (sy + 0.5) / kSamples - disc.CentreY;
        const int within = SamplesWithin(x, dy, disc.CentreX, outer2);
        const int core = SamplesWithin(x, dy, disc.CentreX, inner2);
        fill += core;
        ring += within - core;
      }
      const int covered = fill + ring;
      if (covered == 0) continue;
      const double f = static_cast<double>(fill) / covered;
      const auto channel = [&](int shift) {
        return f * Channel(disc.Fill, shift) + (1.0 - f) * Channel(disc.Outline, shift);
      };
      BlendStraight(image.At(x, y), channel(16), channel(8), channel(0),
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
