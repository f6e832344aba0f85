// TEX_ARTE7: Gray-Scott reaction-diffusion: two chemicals simulated on a coarse grid
// until they settle into coral-like labyrinths that break into dividing spots towards
// the left, then smoothly enlarged and embossed like brain coral.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

namespace {

constexpr int kGridW = 320;
constexpr int kGridH = 180;
constexpr int kSteps = 6500;

// The grid with a one-cell border that wraps around (a torus).
struct TField {
  std::vector<float> U, V;
  TField() : U(static_cast<std::size_t>((kGridW + 2) * (kGridH + 2)), 1.0f), V(U.size(), 0.0f) {}
  static std::size_t At(int x, int y) {
    return CheckIndex(static_cast<std::size_t>((y + 1) * (kGridW + 2) + (x + 1)),
                      static_cast<std::size_t>((kGridW + 2) * (kGridH + 2)));
  }
};

void WrapBorder(std::vector<float>& a) {
  const int stride = kGridW + 2;
  for (int y = 1; y <= kGridH; ++y) {
    Item(a, y * stride) = Item(a, y * stride + kGridW);
    Item(a, y * stride + kGridW + 1) = Item(a, y * stride + 1);
  }
  for (int x = 0; x < stride; ++x) {
    Item(a, x) = Item(a, kGridH * stride + x);
    Item(a, (kGridH + 1) * stride + x) = Item(a, stride + x);
  }
}

// Runs the simulation; the feed and kill rates drift from left to right.
std::vector<float> Simulate() {
  TField a, b;
  TRandom random(0x65u);
  for (int s = 0; s < 90; ++s) {
    const int sx = random.Below(kGridW - 6), sy = random.Below(kGridH - 6);
    for (int y = sy; y < sy + 5; ++y)
      for (int x = sx; x < sx + 5; ++x) {
        a.V[TField::At(x, y)] = 1.0f;
        a.U[TField::At(x, y)] = 0.5f;
      }
  }
  std::vector<float> feed(kGridW), kill(kGridW);
  for (int x = 0; x < kGridW; ++x) {
    const float t = SmoothStep(0.15f, 0.75f, static_cast<float>(x) / kGridW);
    Item(feed, x) = Mix(0.0367f, 0.0545f, t);
    Item(kill, x) = Mix(0.0649f, 0.0620f, t);
  }
  const int stride = kGridW + 2;
  for (int step = 0; step < kSteps; ++step) {
    WrapBorder(a.U);
    WrapBorder(a.V);
    for (int y = 1; y <= kGridH; ++y) {
      // The stencil reads this row and its neighbours, x from 0 to kGridW + 1: check that
      // the whole span lies in the arrays once per row.
      CheckIndex(Narrow<std::size_t>((y - 1) * stride), a.U.size());
      CheckIndex(Narrow<std::size_t>((y + 1) * stride + kGridW + 1), a.U.size());
      const float* u = a.U.data() + y * stride;
      const float* v = a.V.data() + y * stride;
      float* nu = b.U.data() + y * stride;
      float* nv = b.V.data() + y * stride;
      for (int x = 1; x <= kGridW; ++x) {
        const float lu = 0.2f * (u[x - 1] + u[x + 1] + u[x - stride] + u[x + stride]) +
                         0.05f * (u[x - stride - 1] + u[x - stride + 1] + u[x + stride - 1] + u[x + stride + 1]) - u[x];
        const float lv = 0.2f * (v[x - 1] + v[x + 1] + v[x - stride] + v[x + stride]) +
                         0.05f * (v[x - stride - 1] + v[x - stride + 1] + v[x + stride - 1] + v[x + stride + 1]) - v[x];
        const float uvv = u[x] * v[x] * v[x];
        const float f = Item(feed, x - 1), k = Item(kill, x - 1);
        nu[x] = u[x] + (1.0f * lu - uvv + f * (1.0f - u[x]));
        nv[x] = v[x] + (0.5f * lv + uvv - (f + k) * v[x]);
      }
    }
    std::swap(a, b);
  }
  std::vector<float> result(static_cast<std::size_t>(kGridW * kGridH));
  for (int y = 0; y < kGridH; ++y)
    for (int x = 0; x < kGridW; ++x) Item(result, y * kGridW + x) = a.V[TField::At(x, y)];
  return result;
}

// Catmull-Rom interpolation of the wrapped grid at a fractional cell position.
float Sample(const std::vector<float>& grid, double gx, double gy) {
  const int x0 = static_cast<int>(std::floor(gx)), y0 = static_cast<int>(std::floor(gy));
  const float fx = static_cast<float>(gx - x0), fy = static_cast<float>(gy - y0);
  auto weights = [](float t, float* wt) {
    const float t2 = t * t, t3 = t2 * t;
    wt[0] = 0.5f * (-t3 + 2 * t2 - t);  // fixed indices into a four-element array
    wt[1] = 0.5f * (3 * t3 - 5 * t2 + 2);
    wt[2] = 0.5f * (-3 * t3 + 4 * t2 + t);
    wt[3] = 0.5f * (t3 - t2);
  };
  float wx[4], wy[4];
  weights(fx, wx);
  weights(fy, wy);
  float sum = 0;
  for (int j = 0; j < 4; ++j) {
    const int y = ((y0 - 1 + j) % kGridH + kGridH) % kGridH;
    for (int i = 0; i < 4; ++i) {
      const int x = ((x0 - 1 + i) % kGridW + kGridW) % kGridW;
      sum += Item(wx, i) * Item(wy, j) * Item(grid, y * kGridW + x);
    }
  }
  return sum;
}

}  // namespace

TImage PaintArte7(int w, int h) {
  const std::vector<float> grid = Simulate();
  TImage image(w, h);
  const double sx = static_cast<double>(kGridW) / w, sy = static_cast<double>(kGridH) / h;
  const TRgb ground = Hex(0x061626), edge = Hex(0x1f8fa0), bone = Hex(0xf4ecd8);
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const double gx = x * sx - 0.5, gy = y * sy - 0.5;
    const float v = Sample(grid, gx, gy);
    // Relief from the slope of the field, lit from the upper left.
    const float dx = Sample(grid, gx + 0.25, gy) - Sample(grid, gx - 0.25, gy);
    const float dy = Sample(grid, gx, gy + 0.25) - Sample(grid, gx, gy - 0.25);
    const float light = Clamp01(0.5f - (dx * 0.7f + dy * 0.7f) * 2.5f);
    const float level = SmoothStep(0.12f, 0.32f, v);
    TRgb c = Mix(ground, edge, SmoothStep(0.05f, 0.2f, v));
    c = Mix(c, bone, level);
    return Scale(c, 0.65f + 0.7f * light);
  });
  return image;
}
