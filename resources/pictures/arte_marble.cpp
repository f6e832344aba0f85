// TEX_ARTE2: marbled paper from domain-warped noise: fractal noise whose input is pushed
// around twice by more noise, cut into bands of ink (ink black, cream, crimson, teal).
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

TImage PaintArte2(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0xa2u);
  // The inks, as a cyclic ramp: the last stop repeats the first.
  const std::vector<TRgb> inks = {Hex(0x14101e), Hex(0xf3e6c8), Hex(0xc01530), Hex(0x2a0614),
                                  Hex(0x0f8a8c), Hex(0xf6efe0), Hex(0x14101e)};
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const double px = x / h * 1.5 + 3.1, py = y / h * 1.5 + 0.7;
    const double qx = noise.Fbm(px, py, 3), qy = noise.Fbm(px + 5.2, py + 1.3, 3);
    const double rx = noise.Fbm(px + 2.6 * qx + 1.7, py + 2.6 * qy + 9.2, 3);
    const double ry = noise.Fbm(px + 2.6 * qx + 8.3, py + 2.6 * qy + 2.8, 3);
    const double f = noise.Fbm(px + 2.4 * rx, py + 2.4 * ry, 4);
    // Bands of ink along the warped field, with thin dark veins where the field folds.
    const double band = f * 1.3 + rx * 0.45 + 4.0;
    TRgb c = Ramp(inks, static_cast<float>(band - std::floor(band)));
    const double vein = std::abs(std::sin((f + qx * 0.2) * 16.0));
    c = Scale(c, 0.55f + 0.45f * SmoothStep(0.0f, 0.35f, static_cast<float>(vein)));
    // A soft sheen where the warp is strongest.
    const float sheen = static_cast<float>(std::max(0.0, std::sqrt(qx * qx + qy * qy) - 0.35) * 0.6);
    return Mix(c, Hex(0xfff8ec), Clamp01(sheen));
  });
  return image;
}
