// TEX_ARTE15: waves, in the manner of a woodblock print: rows of peaked, forward-leaning
// swells from the horizon to the foreground, each row a band of Prussian blue with
// engraved lines that follow its surface and a crest of cream foam, under a pale sky
// with a low sun. Supersampled per pixel.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

namespace {

struct TSwell {
  double Base;       // height of the troughs, in pixels from the top
  double Amplitude;  // crest height above the troughs
  double Length;     // wavelength in pixels
  double Phase;
};

// Height of a swell's surface above its troughs at x: peaked, leaning crests.
double Surface(const TSwell& s, double x) {
  const double t = x / s.Length * 2 * M_PI + s.Phase;
  const double lean = t + 0.55 * std::sin(t);
  return s.Amplitude * std::pow((std::sin(lean) + 1.0) * 0.5, 2.6);
}

}  // namespace

TImage PaintArte15(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0x3a7eu);
  std::vector<TSwell> swells;
  TRandom random(0x5e11u);
  constexpr int kRows = 8;
  for (int i = 0; i < kRows; ++i) {
    const double depth = static_cast<double>(i) / (kRows - 1);  // 0 far, 1 near
    swells.push_back({h * (0.42 + 0.58 * std::pow(depth, 1.25)) + 30 * depth, 18 + 190 * depth * depth,
                      180 + 700 * depth, random.Uniform(0, 2 * M_PI)});
  }
  const TRgb skyTop = Hex(0xe9d8b8), skyLow = Hex(0xf6e9cf), sun = Hex(0xe0482e);
  const TRgb deep = Hex(0x0b1f4d), mid = Hex(0x1f4f8f), light = Hex(0x6aa6d6), foam = Hex(0xfbf5e6);
  // The surfaces depend on x only: tabulate them once per sample column.
  constexpr int kSamples = 2;
  const std::size_t columns = static_cast<std::size_t>(w * kSamples);
  std::vector<double> heights(columns * kRows);
  for (std::size_t col = 0; col < columns; ++col)
    for (std::size_t i = 0; i < kRows; ++i)
      Item(heights, i * columns + col) = Surface(Item(swells, i), (static_cast<double>(col) + 0.5) / kSamples);
  ShadeOpaque(image, kSamples, [&](double x, double y) -> TRgb {
    const std::size_t col = static_cast<std::size_t>(x * kSamples);
    // The nearest swell whose surface lies above this point paints it.
    for (int i = kRows - 1; i >= 0; --i) {
      const TSwell& s = Item(swells, i);
      const double height = heights[CheckIndex(static_cast<std::size_t>(i) * columns + col, heights.size())];
      const double top = s.Base - height;
      if (y < top) continue;
      const double below = y - top;  // pixels under this swell's surface
      const double depth = static_cast<double>(i) / (kRows - 1);
      const double crest = height / s.Amplitude;  // 1 at the crest, 0 in the trough
      // Body: lighter under the surface, darker lower down and nearer the viewer.
      const float fade = static_cast<float>(std::exp(-below / (25.0 + 90.0 * depth)));
      TRgb c = Mix(Mix(deep, mid, 0.6f - 0.4f * static_cast<float>(depth)), light, fade * 0.8f);
      // Engraved lines parallel to the surface.
      const double spacing = 5.0 + 9.0 * depth;
      const double line = std::abs(below / spacing - std::round(below / spacing));
      c = Mix(c, Hex(0xdde9f2), static_cast<float>(SmoothStep(0.16f, 0.04f, static_cast<float>(line)) * fade * 0.55));
      // Foam along the crests, with ragged fingers drawn from noise.
      const double maxFoam = (4.0 + 22.0 * depth) * 1.4 + 1.0;
      if (below < maxFoam) {
        const double foamDepth = (4.0 + 22.0 * depth) * std::pow(crest, 1.5) *
                                 (0.6 + 0.8 * (noise.Fbm(x / (12.0 + 30.0 * depth), i * 3.7, 3) * 0.5 + 0.5));
        c = Mix(c, foam, SmoothStep(static_cast<float>(foamDepth + 1.0), static_cast<float>(foamDepth - 1.0),
                                    static_cast<float>(below)));
      }
      return c;
    }
    // Sky with a low red sun.
    TRgb c = Mix(skyTop, skyLow, static_cast<float>(y / (h * 0.45)));
    const double r = std::hypot(x - w * 0.74, y - h * 0.24);
    c = Mix(c, sun, SmoothStep(static_cast<float>(h * 0.12 + 1.0), static_cast<float>(h * 0.12 - 1.0),
                               static_cast<float>(r)));
    return c;
  });
  return image;
}
