#include "window/link_art.hpp"

#include <algorithm>
#include <cmath>

#include "window/round.hpp"

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
        core::RoundHalfAway((s * a + d / 255.0 * da * (1.0 - a)) / oa * 255.0));
  };
  dst[0] = mix(r, dst[0]);
  dst[1] = mix(g, dst[1]);
  dst[2] = mix(b, dst[2]);
  dst[3] = static_cast<std::uint8_t>(core::RoundHalfAway(oa * 255.0));
}

double Channel(std::uint32_t rgb, int shift) { return ((rgb >> shift) & 0xFF) / 255.0; }

// The helpers below run for every sub-row of every circle a first frame
// needs, in a page in the browser's first-tier code, where each call costs
// more than the sums it makes: they are always inlined, even in the page's
// build for size, and use no std::min or std::max (calls there).
[[gnu::always_inline]] inline int Clamped(int v, int lo, int hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

// The samples of one sub-row that lie within radius2 of the centre, dy below
// or above it: sample column g of the row sits at g / kSamples + (g %
// kSamples + 0.5) / kSamples, and those within are an interval of columns,
// found from the chord's half-width and settled by the very test each sample
// would get, so the counts are the ones sample by sample. One interval serves
// every pixel of the row. Columns first .. last are the ones looked at.
struct Span {
  int Lo = 0, Hi = -1;  // empty when Hi < Lo

  // How many of pixel x's samples the span holds.
  [[gnu::always_inline]] int In(int x) const {
    const int lo = Lo > x * kSamples ? Lo : x * kSamples;
    const int hi = Hi < x * kSamples + kSamples - 1 ? Hi : x * kSamples + kSamples - 1;
    return hi >= lo ? hi - lo + 1 : 0;
  }
};

[[gnu::always_inline]] inline bool SampleWithin(int g, double dy, double centreX, double radius2) {
  const double dx = g / kSamples + (g % kSamples + 0.5) / kSamples - centreX;
  return dx * dx + dy * dy < radius2;
}

Span SamplesWithin(int first, int last, double dy, double centreX, double radius2) {
  const double h = radius2 - dy * dy;
  if (h <= 0.0) return {};
  const double half = std::sqrt(h);
  // g is in when |(g + 0.5)/kSamples - centreX| < half.
  int lo = Clamped(static_cast<int>(std::ceil((centreX - half) * kSamples - 0.5)), first, last + 1);
  int hi =
      Clamped(static_cast<int>(std::floor((centreX + half) * kSamples - 0.5)), first - 1, last);
  while (lo > first && SampleWithin(lo - 1, dy, centreX, radius2)) --lo;
  while (lo <= last && !SampleWithin(lo, dy, centreX, radius2)) ++lo;
  while (hi < last && SampleWithin(hi + 1, dy, centreX, radius2)) ++hi;
  while (hi >= first && !SampleWithin(hi, dy, centreX, radius2)) --hi;
  return {lo, hi};
}

// What a pixel is to a disc, found from its nearest and farthest points:
// wholly outside, wholly inside the fill or the ring, or crossed by an edge.
enum class Cover { Outside, Fill, Ring, Edge };

[[gnu::always_inline]] inline double Larger(double a, double b) { return a < b ? b : a; }

Cover Classify(int x, int y, const Disc& disc, double outer2, double inner2) {
  const double nearX = Larger(Larger(x - disc.CentreX, 0.0), disc.CentreX - (x + 1));
  const double nearY = Larger(Larger(y - disc.CentreY, 0.0), disc.CentreY - (y + 1));
  const double farX = Larger(std::fabs(x - disc.CentreX), std::fabs(x + 1 - disc.CentreX));
  const double farY = Larger(std::fabs(y - disc.CentreY), std::fabs(y + 1 - disc.CentreY));
  const double near2 = nearX * nearX + nearY * nearY, far2 = farX * farX + farY * farY;
  if (near2 >= outer2) return Cover::Outside;
  if (far2 < inner2) return Cover::Fill;
  if (near2 >= inner2 && far2 < outer2) return Cover::Ring;
  return Cover::Edge;
}

// Pixel (x, y)'s share of fill and of ring, in samples, over it.
void Blend(RgbaImage& image, int x, int y, const Disc& disc, int fill, int ring) {
  const int covered = fill + ring;
  if (covered == 0) return;
  const double f = static_cast<double>(fill) / covered;
  const auto channel = [&](int shift) {
    return f * Channel(disc.Fill, shift) + (1.0 - f) * Channel(disc.Outline, shift);
  };
  BlendStraight(image.At(x, y), channel(16), channel(8), channel(0),
                static_cast<double>(covered) / (kSamples * kSamples));
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
  if (x1 < x0) return;
  const auto n = static_cast<std::size_t>(x1 - x0 + 1);
  const int first = x0 * kSamples, last = x1 * kSamples + kSamples - 1;  // the rows' samples
  std::vector<Cover> cover(n);
  std::vector<int> fill(n), ring(n);
  for (int y = y0; y <= y1; ++y) {
    bool edges = false;
    for (int x = x0; x <= x1; ++x) {
      const auto i = static_cast<std::size_t>(x - x0);
      cover[i] = Classify(x, y, disc, outer2, inner2);
      edges = edges || cover[i] == Cover::Edge;
      fill[i] = cover[i] == Cover::Fill ? kSamples * kSamples : 0;
      ring[i] = cover[i] == Cover::Ring ? kSamples * kSamples : 0;
    }
    // Pixels an edge crosses are sampled, a sub-row at a time for the row.
    for (int sy = 0; edges && sy < kSamples; ++sy) {
      const double dy = y + (sy + 0.5) / kSamples - disc.CentreY;
      const Span outer = SamplesWithin(first, last, dy, disc.CentreX, outer2);
      const Span inner = SamplesWithin(first, last, dy, disc.CentreX, inner2);
      for (int x = x0; x <= x1; ++x) {
        const auto i = static_cast<std::size_t>(x - x0);
        if (cover[i] != Cover::Edge) continue;
        const int within = inner.In(x);
        fill[i] += within;
        ring[i] += outer.In(x) - within;
      }
    }
    for (int x = x0; x <= x1; ++x) {
      const auto i = static_cast<std::size_t>(x - x0);
      if (cover[i] != Cover::Outside) Blend(image, x, y, disc, fill[i], ring[i]);
    }
  }
}

}  // namespace window
