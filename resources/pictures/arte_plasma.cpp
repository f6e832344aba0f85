// TEX_ARTE12: a plasma: a sum of sine waves running in different directions, one of them
// circular, pushed through a cyclic neon ramp, with contour bands that give it the look
// of glowing liquid.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte12(int w, int h) {
  TImage image(w, h);
  const std::vector<TRgb> neon = {Hex(0x12002e), Hex(0x7a00ff), Hex(0xff2bd6), Hex(0xffb03a),
                                  Hex(0xfff45c), Hex(0x2bffc8), Hex(0x0061ff), Hex(0x12002e)};
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const double u = x / h * 5.0, v = y / h * 5.0;
    double p = std::sin(u * 1.3 + 0.4) + std::sin(v * 1.7 - 1.1) + std::sin((u + v) * 0.9 + 2.0) +
               std::sin(std::hypot(u - 6.5, v - 2.2) * 2.1) + std::sin(std::hypot(u - 1.5, v - 4.0) * 1.4 + 1.0);
    p = p / 5.0;  // in [-1, 1]
    const double t = p * 1.5 + 1.5;
    const float band = static_cast<float>(t - std::floor(t));
    TRgb c = Ramp(neon, band);
    // Soft dark seams where the ramp wraps, for depth.
    const float seam = SmoothStep(0.0f, 0.06f, band) * SmoothStep(1.0f, 0.94f, band);
    return Scale(c, 0.35f + 0.65f * seam);
  });
  return image;
}
