// TEX_ARTE13: a topographic map of an invented island coast: a noise height field tinted
// by height (sea blues, lowland greens, ochre hills, pale peaks), shaded from the
// north-west, with contour lines every level and heavier lines every fifth, their
// width kept even by dividing by the slope.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

TImage PaintArte13(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0x70b0u);
  auto height = [&](double x, double y) {
    const double u = x / h * 2.4, v = y / h * 2.4;
    // Land rises towards the upper left; the sea opens to the lower right.
    const double tilt = 0.35 - 0.55 * (x / w) - 0.35 * (y / h);
    return noise.Fbm(u, v, 5, 0.45) * 0.9 + noise.Ridged(u * 0.7 + 3.0, v * 0.7, 3) * 0.35 + tilt;
  };
  const std::vector<TRgb> sea = {Hex(0x0a2a5e), Hex(0x1760a8), Hex(0x4fb3d9)};
  const std::vector<TRgb> land = {Hex(0x6fae5a), Hex(0xb9c46a), Hex(0xd9a95b), Hex(0xa8683f), Hex(0xf2efe6)};
  constexpr double kStep = 0.04;  // height between contour lines
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const double e = height(x, y);
    const double ex = height(x + 1.0, y) - e, ey = height(x, y + 1.0) - e;
    const double slope = std::max(1e-6, std::hypot(ex, ey));
    TRgb c;
    if (e < 0.0) {
      c = Ramp(sea, static_cast<float>(std::max(0.0, 1.0 + e / 0.45)));
    } else {
      c = Ramp(land, static_cast<float>(std::min(1.0, e / 0.5)));
      // Hill shading, light from the upper left.
      const double shade = (-ex - ey) / slope * std::min(1.0, slope * 90.0);
      c = Scale(c, static_cast<float>(0.85 + 0.25 * shade));
    }
    // Distance to the nearest contour, in pixels, from the height difference and slope.
    const double level = e / kStep;
    const double nearest = std::round(level);
    const double pixels = std::abs(level - nearest) * kStep / slope;
    const bool index = static_cast<long>(nearest) % 5 == 0;
    const double halfWidth = index ? 1.3 : 0.6;
    const float line = SmoothStep(static_cast<float>(halfWidth + 0.7), static_cast<float>(halfWidth - 0.3),
                                  static_cast<float>(pixels));
    const bool coast = std::abs(nearest) < 0.5;
    const TRgb ink = e < 0.0 ? Hex(0x0b2040) : (coast ? Hex(0x1b1b1b) : Hex(0x5a3a22));
    return Mix(c, ink, line * (e < 0.0 ? 0.45f : (coast ? 0.95f : 0.7f)));
  });
  return image;
}
