// TEX_ARTE8: a strange attractor (Clifford's map) as a density plot: millions of orbit
// points binned at twice the resolution, tone-mapped logarithmically and coloured by
// the average direction of travel through each pixel.
#include <algorithm>
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte8(int w, int h) {
  constexpr double a = -1.4, b = 1.6, c = 1.0, d = 0.7;
  constexpr int kOversample = 2;
  constexpr long kPoints = 11'000'000;
  const int bw = w * kOversample, bh = h * kOversample;
  // Per bin: the number of visits and the sum of their headings, side by side so one
  // visit touches one cache line.
  struct TBin {
    float Count = 0, Heading = 0;
  };
  std::vector<TBin> bins(static_cast<std::size_t>(bw) * static_cast<std::size_t>(bh));
  // A first short run measures the attractor's extent, which is then stretched to fill
  // the frame with a small margin.
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  double x = 0.1, y = 0.1;
  for (long i = 0; i < 200000; ++i) {
    const double nx = std::sin(a * y) + c * std::cos(a * x);
    const double ny = std::sin(b * x) + d * std::cos(b * y);
    x = nx;
    y = ny;
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  const double scaleX = bw * 0.92 / (maxX - minX), scaleY = bh * 0.9 / (maxY - minY);
  const double midX = (minX + maxX) * 0.5, midY = (minY + maxY) * 0.5;
  for (long i = 0; i < kPoints; ++i) {
    const double nx = std::sin(a * y) + c * std::cos(a * x);
    const double ny = std::sin(b * x) + d * std::cos(b * y);
    const double px = bw * 0.5 + (nx - midX) * scaleX, py = bh * 0.5 - (ny - midY) * scaleY;
    const float turn = static_cast<float>(std::atan2(ny - y, nx - x));
    x = nx;
    y = ny;
    if (i < 100) continue;  // let the orbit settle onto the attractor
    const int ix = static_cast<int>(px), iy = static_cast<int>(py);
    if (ix < 0 || iy < 0 || ix >= bw || iy >= bh) continue;
    const std::size_t at = static_cast<std::size_t>(iy) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(ix);
    TBin& bin = Item(bins, at);
    bin.Count += 1.0f;
    bin.Heading += 0.5f + 0.5f * std::sin(turn);
  }
  // Tone mapping against a high percentile of the occupied bins, not the single
  // brightest one, so the body of the attractor is well lit.
  std::vector<float> occupied;
  for (const TBin& bin : bins)
    if (bin.Count > 0) occupied.push_back(bin.Count);
  Assert(!occupied.empty(), "the attractor left the frame", "pictures", __LINE__);
  const std::size_t rank = occupied.size() * 995 / 1000;
  std::nth_element(occupied.begin(), occupied.begin() + static_cast<std::ptrdiff_t>(rank), occupied.end());
  const float logPeak = std::log1p(Item(occupied, rank) * 4.0f / (kOversample * kOversample));

  TImage image(w, h);
  const TRgb night = Hex(0x04020c);
  const std::vector<TRgb> cool = {Hex(0x2b0a6e), Hex(0x6c2bd9), Hex(0xc77dff)};
  const std::vector<TRgb> warm = {Hex(0x003f6b), Hex(0x00b4d8), Hex(0xa8f4ff)};
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      float n = 0, hsum = 0;
      for (int j = 0; j < kOversample; ++j)
        for (int i = 0; i < kOversample; ++i) {
          const std::size_t at = static_cast<std::size_t>(py * kOversample + j) * static_cast<std::size_t>(bw) +
                                 static_cast<std::size_t>(px * kOversample + i);
          const TBin& bin = bins[CheckIndex(at, bins.size())];
          n += bin.Count;
          hsum += bin.Heading;
        }
      const float level = Clamp01(std::log1p(n / (kOversample * kOversample)) / logPeak);
      const float tone = std::pow(level, 0.8f);
      const float hue = n > 0 ? hsum / n : 0.5f;
      TRgb colour = Mix(Ramp(cool, tone), Ramp(warm, tone), hue);
      colour = Mix(colour, Hex(0xffffff), SmoothStep(0.75f, 1.0f, tone));
      // A faint violet haze so the ground is not dead black.
      const double r = std::hypot(px - w * 0.5, py - h * 0.5) / (w * 0.6);
      const TRgb ground = Mix(Hex(0x160a2e), night, static_cast<float>(std::min(1.0, r)));
      image.SetOpaque(px, py, Mix(ground, colour, SmoothStep(0.0f, 0.25f, tone)));
    }
  }
  return image;
}
