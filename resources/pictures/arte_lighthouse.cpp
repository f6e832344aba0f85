// TEX_ARTE16: a lighthouse beam: a night sea under a deep blue starry sky; from the lantern
// of a striped lighthouse on a dark headland a broad beam sweeps out over the water,
// which answers with a path of glints. Sky, beam and sea are shaded per pixel, the
// headland and tower drawn over them with Cairo.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

namespace {

// Light of a beam from (ox, oy) along angle, with the half-width spread in radians.
double Beam(double x, double y, double ox, double oy, double angle, double spread) {
  const double dx = x - ox, dy = y - oy;
  const double along = dx * std::cos(angle) + dy * std::sin(angle);
  if (along <= 0) return 0;
  const double across = -dx * std::sin(angle) + dy * std::cos(angle);
  const double off = std::atan2(std::abs(across), along) / spread;
  return std::exp(-off * off * 1.6) * (0.25 + 0.75 * std::exp(-along / 900.0));
}

// Stars in the upper sky, dimmed inside the beam.
void AddStars(TImage& image, TRandom& random, int w, double horizon) {
  for (int i = 0; i < 900; ++i) {
    const int x = random.Below(w), y = random.Below(static_cast<int>(horizon * 0.85));
    const float b = static_cast<float>(0.3 + 0.7 * std::pow(random.Uniform(), 3.0));
    const TRgba c = image.Get(x, y);
    image.Set(x, y, {Clamp01(c.R + b), Clamp01(c.G + b), Clamp01(c.B + b * 0.9f), 1.0f});
  }
}

// The headland: a dark rocky mass falling from the left edge to the shore, and a few
// rocks in the surf, their tops rimmed by the night sky's light.
void DrawHeadland(cairo_t* cr, int w, int h, double horizon) {
  auto headland = [&] {
    cairo_move_to(cr, 0, h * 0.49);
    cairo_curve_to(cr, w * 0.08, h * 0.48, w * 0.15, h * 0.49, w * 0.21, h * 0.505);
    cairo_curve_to(cr, w * 0.25, h * 0.52, w * 0.27, h * 0.58, w * 0.3, horizon + 10);
    cairo_line_to(cr, w * 0.315, h * 0.69);
    cairo_line_to(cr, w * 0.34, h * 0.71);
    cairo_curve_to(cr, w * 0.36, h * 0.76, w * 0.35, h * 0.88, w * 0.42, h);
    cairo_line_to(cr, 0, h);
    cairo_close_path(cr);
    const double rocks[][3] = {{0.39, 0.715, 22}, {0.44, 0.75, 14}, {0.47, 0.83, 30}, {0.53, 0.69, 9}};
    for (const auto& r : rocks) {
      const double x = w * Item(r, 0), y = h * Item(r, 1), s = Item(r, 2);
      cairo_move_to(cr, x - s * 1.6, y + s * 0.3);
      cairo_curve_to(cr, x - s, y - s * 0.8, x + s * 0.6, y - s, x + s * 1.5, y + s * 0.3);
      cairo_close_path(cr);
    }
  };
  headland();
  SetSource(cr, Hex(0x03050b));
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 2.0);
  SetSource(cr, Hex(0x3a4f78), 0.6);
  cairo_stroke(cr);
}

// The tower: tapering, with red and white bands, lit on the beam's side; its gallery,
// lantern room and roof, and the lantern's glow over everything.
void DrawLighthouse(cairo_t* cr, double lx, double ly, int h) {
  const double base = h * 0.505, top = ly + 22, halfBase = 34, halfTop = 22;
  // Red and white bands; night shading puts the left half of the tower in shadow.
  const TTowerStyle tower{6, Hex(0xd8d4cc), Hex(0xb3261e),
                          {{0, 0.0, 0.02, 0.08, 0.8}, {0.7, 0.0, 0.02, 0.08, 0.3}, {1, 0.0, 0.02, 0.08, 0.15}}};
  DrawStripedTower(cr, lx, base, top, halfBase, halfTop, tower);
  // Gallery, lantern room and roof.
  SetSource(cr, Hex(0x0a0c12));
  cairo_rectangle(cr, lx - 32, top - 6, 64, 8);
  cairo_fill(cr);
  SetSource(cr, Hex(0xfff6c8));
  cairo_rectangle(cr, lx - 16, ly - 14, 32, 30);
  cairo_fill(cr);
  SetSource(cr, Hex(0x0a0c12));
  cairo_set_line_width(cr, 3);
  for (int bar = -1; bar <= 1; ++bar) {
    cairo_move_to(cr, lx + bar * 9, ly - 14);
    cairo_line_to(cr, lx + bar * 9, ly + 16);
  }
  cairo_stroke(cr);
  cairo_move_to(cr, lx - 22, ly - 14);
  cairo_line_to(cr, lx, ly - 40);
  cairo_line_to(cr, lx + 22, ly - 14);
  cairo_close_path(cr);
  cairo_fill(cr);
  // The lantern's own glow over everything.
  cairo_pattern_t* glow = cairo_pattern_create_radial(lx, ly, 0, lx, ly, 120);
  cairo_pattern_add_color_stop_rgba(glow, 0, 1.0, 0.97, 0.8, 0.75);
  cairo_pattern_add_color_stop_rgba(glow, 0.25, 1.0, 0.9, 0.6, 0.25);
  cairo_pattern_add_color_stop_rgba(glow, 1, 1.0, 0.9, 0.6, 0.0);
  cairo_set_source(cr, glow);
  cairo_paint(cr);
  cairo_pattern_destroy(glow);
}

}  // namespace

TImage PaintArte16(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0x1163u);
  const double horizon = h * 0.64;
  const double lx = w * 0.2, ly = h * 0.33;  // the lantern
  const double beamAngle = -0.13, beamSpread = 0.1;
  const TRgb skyTop = Hex(0x020718), skyLow = Hex(0x14306a), beamColour = Hex(0xfff1b8);
  const TRgb seaFar = Hex(0x0d2350), seaNear = Hex(0x020816);
  TRandom random(0x571u);
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const double beam = Beam(x, y, lx, ly, beamAngle, beamSpread) + 0.35 * Beam(x, y, lx, ly, M_PI + 0.22, 0.07);
    const double halo = std::exp(-std::hypot(x - lx, y - ly) / 55.0);
    if (y < horizon) {
      TRgb c = Mix(skyTop, skyLow, static_cast<float>(std::pow(y / horizon, 1.8)));
      c = Add(c, Scale(beamColour, static_cast<float>(beam * 1.05 + halo * 0.9)));
      return {Clamp01(c.R), Clamp01(c.G), Clamp01(c.B)};
    }
    // The sea: darker towards the viewer, ripples catch the beam's light and the halo.
    const double d = (y - horizon) / (h - horizon);
    TRgb c = Mix(seaFar, seaNear, static_cast<float>(std::pow(d, 0.6)));
    const double stretch = 4.0 + 30.0 * d;
    const double ripple = noise.Fbm(x / (25.0 + 90.0 * d), (y - horizon) / stretch, 3) * 0.5 + 0.5;
    // The beam's reflection: below the beam's path, widening towards the viewer.
    const double hit = std::exp(-std::pow((x - (lx + 0.55 * w)) / (w * (0.22 + 0.15 * d)), 2.0));
    const double glint = std::pow(SmoothStep(0.55f, 0.85f, static_cast<float>(ripple)), 2.0f);
    c = Add(c, Scale(beamColour, static_cast<float>(glint * (hit * 0.85 + 0.08) * (1.0 - 0.5 * d))));
    c = Add(c, Scale(Hex(0x3a6ab0), static_cast<float>(ripple * 0.12)));
    return {Clamp01(c.R), Clamp01(c.G), Clamp01(c.B)};
  });
  AddStars(image, random, w, horizon);

  TCairoCanvas canvas(w, h);
  canvas.FromImage(image);
  cairo_t* cr = canvas.Context();
  DrawHeadland(cr, w, h, horizon);
  DrawLighthouse(cr, lx, ly, h);
  return canvas.ToImage();
}
