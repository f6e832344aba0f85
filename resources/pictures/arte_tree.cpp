// TEX_ARTE9: a recursive tree: a trunk that splits again and again into shorter, thinner
// branches at jittered angles, crowned with cherry blossom, before a large red sun on a
// pale evening sky, like a woodblock print. Drawn with Cairo.
#include <array>
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

namespace {

struct TTreePainter {
  cairo_t* Cr;
  TRandom Random;
  std::vector<std::array<double, 3>> Blossoms;  // x, y, size

  void Branch(double x, double y, double angle, double length, double width, int depth) {
    const double ex = x + std::cos(angle) * length, ey = y - std::sin(angle) * length;
    // A slight bend: the control point leans away from the straight line.
    const double bend = Random.Uniform(-0.18, 0.18) * length;
    const double mx = (x + ex) * 0.5 + std::sin(angle) * bend, my = (y + ey) * 0.5 + std::cos(angle) * bend;
    cairo_set_line_width(Cr, width);
    cairo_move_to(Cr, x, y);
    cairo_curve_to(Cr, mx, my, mx, my, ex, ey);
    cairo_stroke(Cr);
    if (depth <= 3) {
      const int count = 3 + Random.Below(4);
      for (int i = 0; i < count; ++i)
        Blossoms.push_back({ex + Random.Gaussish() * 14.0, ey + Random.Gaussish() * 10.0, Random.Uniform(3.0, 8.5)});
    }
    if (depth == 0) return;
    const int children = (depth > 7 || Random.Uniform() < 0.7) ? 2 : 3;
    for (int i = 0; i < children; ++i) {
      const double spread = children == 2 ? (i == 0 ? -0.42 : 0.38) : (i - 1) * 0.5;
      // Branches droop a little towards the horizontal as they thin out.
      const double droop = (angle - 1.5708) * 0.08;
      Branch(ex, ey, angle + spread + Random.Uniform(-0.22, 0.22) - droop, length * Random.Uniform(0.68, 0.8),
             width * 0.68, depth - 1);
    }
  }
};

}  // namespace

TImage PaintArte9(int w, int h) {
  TCairoCanvas canvas(w, h);
  cairo_t* cr = canvas.Context();
  // Sky: pale mint at the top to warm cream at the horizon.
  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, h);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0.80, 0.90, 0.86);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0.99, 0.93, 0.80);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);
  // The sun.
  SetSource(cr, Hex(0xd7263d));
  cairo_arc(cr, w * 0.68, h * 0.42, h * 0.3, 0, 2 * M_PI);
  cairo_fill(cr);
  // Far hills in two soft layers.
  for (int layer = 0; layer < 2; ++layer) {
    SetSource(cr, layer == 0 ? Hex(0x9fb7b0) : Hex(0x5f7d78));
    cairo_move_to(cr, 0, h);
    for (int x = 0; x <= w; x += 8) {
      const double y = h * (0.78 + 0.07 * layer) - std::sin(x * 0.004 + layer * 2.0) * 28 - std::sin(x * 0.011 + layer) * 12;
      cairo_line_to(cr, x, y);
    }
    cairo_line_to(cr, w, h);
    cairo_close_path(cr);
    cairo_fill(cr);
  }

  TTreePainter tree{cr, TRandom(0x7733u), {}};
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  SetSource(cr, Hex(0x1a0f12));
  tree.Branch(w * 0.3, h + 10, 1.5, h * 0.25, 34, 11);
  // The ground the tree stands on.
  SetSource(cr, Hex(0x1a0f12));
  cairo_move_to(cr, 0, h);
  for (int x = 0; x <= w; x += 8) cairo_line_to(cr, x, h * 0.95 - std::exp(-std::pow((x - w * 0.3) / 300.0, 2)) * 40);
  cairo_line_to(cr, w, h);
  cairo_close_path(cr);
  cairo_fill(cr);
  // Blossom: pale to deep pink discs, and a few petals drifting on the wind.
  const std::vector<TRgb> pinks = {Hex(0xffffff), Hex(0xffd6e4), Hex(0xff9ebb), Hex(0xf2668b)};
  TRandom random(0xb10u);
  for (const auto& b : tree.Blossoms) {
    SetSource(cr, Ramp(pinks, static_cast<float>(random.Uniform())), 0.85);
    cairo_arc(cr, Item(b, 0), Item(b, 1), Item(b, 2), 0, 2 * M_PI);
    cairo_fill(cr);
  }
  for (int i = 0; i < 160; ++i) {
    const double x = random.Uniform(w * 0.25, w), y = random.Uniform(h * 0.2, h * 0.95);
    SetSource(cr, Ramp(pinks, static_cast<float>(random.Uniform(0.2, 0.9))), 0.9);
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, random.Uniform(0, M_PI));
    cairo_scale(cr, 1.0, 0.5);
    cairo_arc(cr, 0, 0, random.Uniform(3, 6), 0, 2 * M_PI);
    cairo_restore(cr);
    cairo_fill(cr);
  }
  return canvas.ToImage();
}
