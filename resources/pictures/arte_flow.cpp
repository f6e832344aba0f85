// TEX_ARTE3: flow-field strokes: thousands of tapered lines that follow the angle of a
// noise field, in ember colours over a deep plum ground, drawn with Cairo.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

TImage PaintArte3(int w, int h) {
  TCairoCanvas canvas(w, h);
  cairo_t* cr = canvas.Context();
  // Ground: a radial plum glow, darker at the corners.
  cairo_pattern_t* ground = cairo_pattern_create_radial(w * 0.5, h * 0.55, 0, w * 0.5, h * 0.55, w * 0.75);
  cairo_pattern_add_color_stop_rgb(ground, 0, 0.20, 0.05, 0.16);
  cairo_pattern_add_color_stop_rgb(ground, 1, 0.03, 0.01, 0.04);
  cairo_set_source(cr, ground);
  cairo_paint(cr);
  cairo_pattern_destroy(ground);

  const TNoise noise(0xf10u);
  TRandom random(0x3u);
  const std::vector<TRgb> embers = {Hex(0x5b0f3a), Hex(0xd0245a), Hex(0xff7a3d), Hex(0xffc25a), Hex(0xfff1c9)};
  auto angle = [&](double x, double y) {
    return noise.Fbm(x / h * 1.7, y / h * 1.7, 3) * 7.0 + x / w * 1.2;
  };
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  constexpr int kStrokes = 5200;
  for (int i = 0; i < kStrokes; ++i) {
    double x = random.Uniform(-40, w + 40), y = random.Uniform(-40, h + 40);
    const int steps = 30 + random.Below(70);
    const double width = 0.8 + 3.6 * std::pow(random.Uniform(), 2.0);
    // Later strokes are brighter, so the light ones lie on top.
    const float heat = Clamp01(static_cast<float>(i) / kStrokes * 0.8f + static_cast<float>(random.Uniform()) * 0.35f);
    SetSource(cr, Ramp(embers, heat), 0.55 + 0.45 * heat);
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x, y);
    for (int s = 0; s < steps; ++s) {
      const double a = angle(x, y);
      x += std::cos(a) * 4.0;
      y += std::sin(a) * 4.0;
      cairo_line_to(cr, x, y);
    }
    cairo_stroke(cr);
  }
  return canvas.ToImage();
}
