// The drawing of one link, shared by the window's circles and the program's icon:
// a filled disc with a thin outline, anti-aliased at any sub-pixel position.
#pragma once

#include <cstdint>
#include <vector>

namespace window {

/// Straight-alpha RGBA pixels, row by row, 4 bytes a pixel (R, G, B, A).
struct RgbaImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Pixels;

  RgbaImage(int width, int height);
  std::uint8_t* At(int x, int y) { return &Pixels[(static_cast<std::size_t>(y) * Width + x) * 4]; }
};

/// A disc to paint: centre and radii in pixels of the image, colours as
/// 0xRRGGBB. The ring between InnerRadius and OuterRadius takes the outline
/// colour, the inside the fill colour.
struct Disc {
  double CentreX = 0.0;
  double CentreY = 0.0;
  double OuterRadius = 4.0;
  double InnerRadius = 3.0;
  std::uint32_t Fill = 0xFF0000;
  std::uint32_t Outline = 0x000000;
};

/// Paints `disc` over `image` ("over" compositing), measuring each pixel's
/// coverage on a 16 x 16 grid of samples so edges are smooth at fractional
/// positions.
void PaintDisc(RgbaImage& image, const Disc& disc);

}  // namespace window
