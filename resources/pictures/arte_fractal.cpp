// TEX_ARTE1: a deep view into the Mandelbrot set's seahorse valley, smoothly coloured by
// the fractional escape count through a gold, ember and midnight-blue ramp.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte1(int w, int h) {
  TImage image(w, h);
  const double cx = -0.7433, cy = 0.13135;
  const double span = 0.0034;  // width of the view in the complex plane
  const double scale = span / w;
  constexpr int kMaxIterations = 1400;
  const std::vector<TRgb> ramp = {Hex(0x020412), Hex(0x0b1f5c), Hex(0x1d6fb8), Hex(0xe8f4ff),
                                  Hex(0xffc640), Hex(0xc8401a), Hex(0x3a0a14), Hex(0x020412)};
  ShadeOpaque(image, 2, [&](double x, double y) -> TRgb {
    const double c_re = cx + (x - w * 0.5) * scale;
    const double c_im = cy - (y - h * 0.5) * scale;
    double zr = 0, zi = 0, zr2 = 0, zi2 = 0;
    int n = 0;
    while (n < kMaxIterations && zr2 + zi2 < 65536.0) {
      zi = 2 * zr * zi + c_im;
      zr = zr2 - zi2 + c_re;
      zr2 = zr * zr;
      zi2 = zi * zi;
      ++n;
    }
    if (n >= kMaxIterations) return Hex(0x010208);
    // Fractional escape count: continuous across the bands.
    const double mu = n + 1.0 - std::log2(std::log(zr2 + zi2) * 0.5);
    const double t = std::fmod(std::log(mu + 1.0) * 1.35 + 0.15, 1.0);
    return Ramp(ramp, static_cast<float>(t));
  });
  return image;
}
