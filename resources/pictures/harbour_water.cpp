// TEX_WATER: the near water of the harbour, stretched over the window from the bottom
// edge up to a water line that swings near the top of the window: fully transparent
// above a wavy surface at about 38 % of the picture's height from the bottom, and
// below it translucent water that shows the boat's hull dimly through it, with a light
// edge along the surface, ripples catching the sunset, and growing darker and more
// opaque towards the bottom so the greeting text reads over it.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

namespace {

constexpr double kSunX = 1602.0;  // where the sun stands over the scene, in pixels
// The surface's mean height over the bottom, as a share of the picture's height: with
// the water line's swing it stays within the boat's hull at the boat's drawn size.
constexpr double kSurface = 0.38;

}  // namespace

TImage PaintWater(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0x3a7e2u);
  // The surface, as a row counted from the top: 38 % of the height from the bottom,
  // with swells of a few wavelengths (at most 18 pixels either way).
  const double level = h * (1.0 - kSurface);
  auto surface = [&](double x) {
    return level + 10.0 * std::sin(x * 2 * M_PI / 310.0 + 0.7) + 5.0 * std::sin(x * 2 * M_PI / 127.0 + 2.1) +
           3.0 * std::sin(x * 2 * M_PI / 53.0 + 4.0);
  };
  const TRgb top = Hex(0x2d6a8a), deep = Hex(0x0b1a38), bottom = Hex(0x050a1a);
  const TRgb edge = Hex(0xcfe9f2), warm = Hex(0xffb37a), cool = Hex(0x8fd0e6);
  // One sample a pixel: the water is smooth inside, and the surface line is anti-aliased
  // by the share of the pixel's height that lies below it (the surface is nearly flat).
  std::vector<double> surfaceRows(static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) Item(surfaceRows, x) = surface(x + 0.5);
  ShadeAlpha(image, 1, [&](double x, double y) -> TRgba {
    const double s = Item(surfaceRows, static_cast<int>(x));
    const double below = y - s;
    if (below <= -0.5) return {};
    const float inside = Clamp01(static_cast<float>(below + 0.5));
    const double depth = std::max(0.0, below) / (h - level);  // 0 at the surface, about 1 at the bottom
    TRgb c = Mix(top, deep, static_cast<float>(std::min(1.0, depth * 2.2)));
    c = Mix(c, bottom, SmoothStep(0.5f, 1.0f, static_cast<float>(depth)));
    float a = static_cast<float>(0.74 + 0.22 * SmoothStep(0.0f, 0.8f, static_cast<float>(depth)));
    // Ripples: stretched noise bands, bright near the surface and dying out below.
    const double ripple = noise.Fbm(x / (60.0 + 140.0 * depth), below / (5.0 + 26.0 * depth), 3) * 0.5 + 0.5;
    const float fadeDown = static_cast<float>(std::exp(-depth * 3.2));
    const float glint = std::pow(SmoothStep(0.56f, 0.82f, static_cast<float>(ripple)), 2.0f) * fadeDown;
    const double path = std::exp(-std::pow((x - kSunX) / (260.0 + 300.0 * depth), 2.0));
    c = Mix(c, cool, glint * 0.45f);
    c = Mix(c, warm, glint * static_cast<float>(path) * 0.8f);
    a = std::min(1.0f, a + glint * 0.2f);
    // A bright, nearly opaque edge along the surface, where the water meets the hull.
    const float rim = static_cast<float>(std::exp(-std::max(0.0, below) / 3.0));
    c = Mix(c, edge, rim * 0.75f);
    a = Mix(a, 0.97f, rim);
    return {c.R, c.G, c.B, a * inside};
  });
  return image;
}
