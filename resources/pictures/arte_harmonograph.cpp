// TEX_ARTE10: a harmonograph: the trace of a pen moved by two damped pendulums on each
// axis at nearly harmonic frequencies, drawn as several slowly drifting copies in gold
// and pale jade over a deep green-black ground. Drawn with Cairo.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintArte10(int w, int h) {
  TCairoCanvas canvas(w, h);
  cairo_t* cr = canvas.Context();
  cairo_pattern_t* ground = cairo_pattern_create_radial(w * 0.5, h * 0.5, 0, w * 0.5, h * 0.5, w * 0.7);
  cairo_pattern_add_color_stop_rgb(ground, 0, 0.03, 0.16, 0.13);
  cairo_pattern_add_color_stop_rgb(ground, 1, 0.0, 0.02, 0.02);
  cairo_set_source(cr, ground);
  cairo_paint(cr);
  cairo_pattern_destroy(ground);

  const std::vector<TRgb> colours = {Hex(0x9ff0d0), Hex(0xfff6d6), Hex(0xffcf5c), Hex(0xe8893a), Hex(0x9ff0d0)};
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  constexpr int kCopies = 6;
  for (int copy = 0; copy < kCopies; ++copy) {
    const double drift = copy * 0.045;
    const double f1 = 3.001, f2 = 2.0, f3 = 3.0 + copy * 0.0006, f4 = 2.0;
    const double p1 = 0.0, p2 = 0.0 + drift, p3 = 1.5708, p4 = 4.712 + drift;
    const double d1 = 0.004, d2 = 0.0065, d3 = 0.008, d4 = 0.012;
    const double ax = w * 0.24, ay = h * 0.25;
    constexpr int kSteps = 26000;
    constexpr double kSpan = 330.0;  // in pendulum time
    constexpr int kChunk = 40;
    double px = 0, py = 0;
    for (int s = 0; s <= kSteps; ++s) {
      const double t = kSpan * s / kSteps;
      const double x = w * 0.5 + ax * (std::sin(f1 * t + p1) * std::exp(-d1 * t) + std::sin(f2 * t + p2) * std::exp(-d2 * t));
      const double y = h * 0.5 + ay * (std::sin(f3 * t + p3) * std::exp(-d3 * t) + std::sin(f4 * t + p4) * std::exp(-d4 * t));
      if (s % kChunk == 0) {
        if (s > 0) {
          cairo_line_to(cr, x, y);
          cairo_stroke(cr);
        }
        // The colour runs along the trace; the lines fade as the pendulums come to rest.
        const float along = static_cast<float>(s) / kSteps;
        const float hue = std::fmod(along * 2.0f + copy * 0.11f, 1.0f);
        SetSource(cr, Ramp(colours, hue), 0.9 - 0.5 * along);
        cairo_set_line_width(cr, 2.2 - 1.2 * along);
        cairo_move_to(cr, s > 0 ? px : x, s > 0 ? py : y);
      }
      cairo_line_to(cr, x, y);
      px = x;
      py = y;
    }
    cairo_stroke(cr);
  }
  return canvas.ToImage();
}
