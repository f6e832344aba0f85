// TEX_ARTE11: moiré interference: two families of fine concentric rings, one orange and
// one cyan, added together on black; where their rings beat against each other, large
// ghostly bands appear. Supersampled so only the intended interference shows.
// Depends on canvas.hpp.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte11(int w, int h) {
  TImage image(w, h);
  const double ax = w * 0.45, ay = h * 0.53, bx = w * 0.55, by = h * 0.47;
  constexpr double kPitch = 15.0;  // ring spacing in pixels
  const TRgb orange = Hex(0xff5a14), cyan = Hex(0x14c8ff);
  ShadeOpaque(image, 3, [&](double x, double y) -> TRgb {
    const double ra = std::hypot(x - ax, y - ay), rb = std::hypot(x - bx, y - by);
    // Each ring is half the pitch wide; the rings thin out far from their centre.
    const double fa = ra / kPitch - std::floor(ra / kPitch);
    const double fb = rb / kPitch - std::floor(rb / kPitch);
    const double widthA = 0.5 - 0.25 * std::min(1.0, ra / (w * 0.9));
    const double widthB = 0.5 - 0.25 * std::min(1.0, rb / (w * 0.9));
    const float ringA = fa < widthA ? 1.0f : 0.0f;
    const float ringB = fb < widthB ? 1.0f : 0.0f;
    return {Clamp01(orange.R * ringA + cyan.R * ringB), Clamp01(orange.G * ringA + cyan.G * ringB),
            Clamp01(orange.B * ringA + cyan.B * ringB)};
  });
  return image;
}
