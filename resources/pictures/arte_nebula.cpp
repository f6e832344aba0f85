// TEX_ARTE14: a nebula with stars: glowing gas from warped fractal noise in magenta, rose
// and teal, cut by dark dust lanes, over deep space; then thousands of stars as small
// Gaussian points, the brightest with four diffraction spikes.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

namespace {

// Adds light to a pixel (clamped), for the stars.
void AddLight(TImage& image, int x, int y, TRgb light) {
  if (x < 0 || y < 0 || x >= image.Width() || y >= image.Height()) return;
  const TRgba c = image.Get(x, y);
  image.Set(x, y, {Clamp01(c.R + light.R), Clamp01(c.G + light.G), Clamp01(c.B + light.B), 1.0f});
}

}  // namespace

TImage PaintArte14(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0x4eb0u);
  const TRgb space = Hex(0x05030f);
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const double u = x / h * 1.8, v = y / h * 1.8;
    const double wx = noise.Fbm(u + 1.3, v + 7.1, 4), wy = noise.Fbm(u + 4.2, v + 2.6, 4);
    const double gas = noise.Fbm(u + 1.6 * wx, v + 1.6 * wy, 6) * 0.9 + 0.5;
    const double hot = Clamp01(static_cast<float>(noise.Fbm(u * 1.7 + 2.0 * wy, v * 1.7 - 2.0 * wx, 5) * 1.1 + 0.5));
    // A diagonal band where the cloud is densest, brightest round a core right of centre.
    const double band = std::exp(-std::pow((y / h - 0.5 - (x / w - 0.5) * 0.55) / 0.32, 2.0)) *
                        (0.75 + 0.6 * std::exp(-std::pow(std::hypot(x / w - 0.58, (y / h - 0.52) * 0.7) / 0.22, 2.0)));
    const float density = static_cast<float>(std::pow(std::max(0.0, gas * 1.6 - 0.45) * band, 1.3) * 1.7);
    TRgb c = space;
    c = Add(c, Scale(Hex(0x8a1a8f), density));
    c = Add(c, Scale(Hex(0xff5e8a), static_cast<float>(std::pow(density * hot, 2.0)) * 1.4f));
    c = Add(c, Scale(Hex(0x2fc4c4), static_cast<float>(std::pow(std::max(0.0, 1.0 - hot) * density, 1.6)) * 1.8f));
    c = Add(c, Scale(Hex(0xfff0d8), static_cast<float>(std::pow(std::max(0.0f, density - 0.9f), 2.0)) * 0.8f));
    // Dust lanes: sharp ridges of the noise darken the gas.
    const double dust = noise.Ridged(u * 1.3 + 1.5 * wx + 7.0, v * 1.3 + 1.5 * wy, 5);
    c = Scale(c, static_cast<float>(1.0 - 0.8 * SmoothStep(0.55f, 0.85f, static_cast<float>(dust)) * band));
    return {Clamp01(c.R), Clamp01(c.G), Clamp01(c.B)};
  });
  // Stars: mostly faint points, a few bright ones with spikes.
  TRandom random(0x57a25u);
  const std::vector<TRgb> tints = {Hex(0xaecbff), Hex(0xffffff), Hex(0xfff1c8), Hex(0xffc58a)};
  constexpr int kStars = 4200, kBright = 28;
  for (int i = 0; i < kStars + kBright; ++i) {
    const double sx = random.Uniform(0, w), sy = random.Uniform(0, h);
    const bool bright = i >= kStars;
    const double brightness = bright ? random.Uniform(1.6, 3.2) : 0.08 + 0.9 * std::pow(random.Uniform(), 4.0);
    const TRgb tint = Ramp(tints, static_cast<float>(random.Uniform()));
    const double sigma = 0.55 + 0.6 * std::min(1.0, brightness);
    const int reach = static_cast<int>(std::ceil(sigma * 3.5 + (bright ? 40 : 0)));
    for (int dy = -reach; dy <= reach; ++dy) {
      for (int dx = -reach; dx <= reach; ++dx) {
        const int px = static_cast<int>(sx) + dx, py = static_cast<int>(sy) + dy;
        const double ox = px + 0.5 - sx, oy = py + 0.5 - sy;
        double light = brightness * std::exp(-(ox * ox + oy * oy) / (2 * sigma * sigma));
        if (bright) {
          // Diffraction spikes along the axes and a soft halo.
          light += brightness * 0.25 * std::exp(-std::abs(oy) * 1.6) * std::exp(-std::abs(ox) / 14.0);
          light += brightness * 0.25 * std::exp(-std::abs(ox) * 1.6) * std::exp(-std::abs(oy) / 14.0);
          light += brightness * 0.08 * std::exp(-std::hypot(ox, oy) / 6.0);
        }
        if (light > 0.002) AddLight(image, px, py, Scale(tint, static_cast<float>(light)));
      }
    }
  }
  return image;
}
