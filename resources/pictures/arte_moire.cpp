// TEX_ARTE11: moiré interference: two families of fine concentric rings printed in
// crimson and blue ink on cream paper from two nearby centres. Where the rings of the
// two families fall on each other the paper shows through; where they alternate the
// inks cover it; so broad light and dark fringes sweep across the fine rings. Supersampled
// so only the intended interference shows.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte11(int w, int h) {
  TImage image(w, h);
  const double ax = w * 0.45, ay = h * 0.53, bx = w * 0.55, by = h * 0.47;
  constexpr double kPitch = 15.0;  // ring spacing in pixels
  const TRgb paper = Hex(0xf4ead5), crimson = Hex(0xc2182b), blue = Hex(0x1b2f8f), both = Hex(0x140c1c);
  ShadeOpaque(image, 3, [&](double x, double y) -> TRgb {
    const double ra = std::hypot(x - ax, y - ay) / kPitch, rb = std::hypot(x - bx, y - by) / kPitch;
    const bool inkA = ra - std::floor(ra) < 0.5;
    const bool inkB = rb - std::floor(rb) < 0.5;
    if (inkA && inkB) return both;
    if (inkA) return crimson;
    if (inkB) return blue;
    return paper;
  });
  return image;
}
