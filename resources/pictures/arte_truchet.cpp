// TEX_ARTE5: Truchet tiles: every square tile carries two quarter-circle tubes in one of
// two orientations picked at random, so the tubes join into endless winding loops. The
// tubes are shaded as glossy cylinders over a two-tone ground.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte5(int w, int h) {
  TImage image(w, h);
  constexpr double kTile = 75.0;
  constexpr double kHalfTube = 0.17;  // half the tube's width, in tiles
  const int columns = static_cast<int>(std::ceil(w / kTile)) + 1;
  const int rows = static_cast<int>(std::ceil(h / kTile)) + 1;
  TRandom random(0x7c4e7u);
  std::vector<int> orientation(static_cast<std::size_t>(columns * rows));
  for (int& o : orientation) o = random.Below(2);
  const double offsetX = (columns * kTile - w) * 0.5, offsetY = (rows * kTile - h) * 0.5;
  const std::vector<TRgb> tubes = {Hex(0x46f0b4), Hex(0xc8f560), Hex(0xfff07a)};
  ShadeOpaque(image, 3, [&](double x, double y) -> TRgb {
    const double u = (x + offsetX) / kTile, v = (y + offsetY) / kTile;
    const int tx = static_cast<int>(std::floor(u)), ty = static_cast<int>(std::floor(v));
    const double fx = u - tx, fy = v - ty;
    const int o = orientation[CheckIndex(static_cast<std::size_t>(ty * columns + tx), orientation.size())];
    // The two corners the arcs curve around.
    const double ax = o == 0 ? 0.0 : 1.0, ay = 0.0;
    const double bx = 1.0 - ax, by = 1.0;
    const double da = std::hypot(fx - ax, fy - ay), db = std::hypot(fx - bx, fy - by);
    const bool nearA = da < db;
    const double d = nearA ? da : db;
    // The ground: the region around a lattice vertex takes that vertex's parity.
    const int vx = tx + static_cast<int>(nearA ? ax : bx), vy = ty + static_cast<int>(nearA ? ay : by);
    const bool inCorner = d < 0.5;
    const bool light = (((vx + vy) & 1) == 0) == inCorner;
    const TRgb ground = light ? Hex(0x10314a) : Hex(0x07141f);
    const double t = (d - 0.5) / kHalfTube;
    if (std::abs(t) >= 1.0) {
      // A soft shadow beside the tube.
      const float shadow = static_cast<float>(std::exp(-(std::abs(t) - 1.0) * 3.0) * 0.5);
      return Scale(ground, 1.0f - shadow);
    }
    // The tube: a cylinder lit from the upper left, its colour drifting across the frame.
    const float across = Clamp01(static_cast<float>((x / w) * 0.7 + (1.0 - y / h) * 0.3));
    const TRgb base = Ramp(tubes, across);
    // The surface normal: across the tube along the radius, out of the picture in the
    // middle. It is continuous where arcs of neighbouring tiles meet.
    const double cornerX = nearA ? ax : bx, cornerY = nearA ? ay : by;
    const double nx = (fx - cornerX) / d * t, ny = (fy - cornerY) / d * t, nz = std::sqrt(1.0 - t * t);
    constexpr double lx = -0.48, ly = -0.56, lz = 0.675;  // light from the upper left
    const double diffuse = std::max(0.0, nx * lx + ny * ly + nz * lz);
    const double hx = lx, hy = ly, hz = lz + 1.0, hn = std::sqrt(hx * hx + hy * hy + hz * hz);
    const double specular = std::pow(std::max(0.0, (nx * hx + ny * hy + nz * hz) / hn), 40.0);
    TRgb c = Scale(base, static_cast<float>(0.2 + 0.85 * diffuse));
    c = Mix(c, Hex(0xffffff), static_cast<float>(specular * 0.8));
    // A dark rim keeps the tubes crisp against the ground.
    const float rim = SmoothStep(0.82f, 1.0f, static_cast<float>(std::abs(t)));
    return Mix(c, Hex(0x020a10), rim * 0.8f);
  });
  return image;
}
