// TEX_ARTE6: circle packing: circles placed largest first, each grown until it nearly
// touches its neighbours, in coral-reef colours on a deep navy ground; the larger ones
// carry concentric rings. Drawn with Cairo.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

namespace {

struct TCircle {
  double X, Y, R;
};

}  // namespace

TImage PaintArte6(int w, int h) {
  TCairoCanvas canvas(w, h);
  cairo_t* cr = canvas.Context();
  SetSource(cr, Hex(0x0c1030));
  cairo_paint(cr);

  TRandom random(0xc1c1eu);
  std::vector<TCircle> circles;
  constexpr double kGap = 4.0;
  // Passes with a falling size limit: the big circles first, then the gaps are filled.
  const double limits[] = {190, 120, 80, 50, 30, 18, 10, 6};
  for (double limit : limits) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
      const double x = random.Uniform(-20, w + 20), y = random.Uniform(-20, h + 20);
      double r = limit * random.Uniform(0.7, 1.0);
      for (const TCircle& c : circles) {
        r = std::min(r, std::hypot(x - c.X, y - c.Y) - c.R - kGap);
        if (r < 3.0) break;
      }
      if (r >= 3.0 && r >= limit * 0.35) circles.push_back({x, y, r});
    }
  }

  const std::vector<TRgb> reef = {Hex(0xff6f61), Hex(0xff9a76), Hex(0xffd3b5), Hex(0xf24b6a),
                                  Hex(0xfff3e6), Hex(0x2ec4b6), Hex(0xffb84d)};
  for (const TCircle& c : circles) {
    // Mostly warm corals; one circle in seven is a cool turquoise accent.
    const std::size_t pick = static_cast<std::size_t>(random.Below(static_cast<int>(reef.size())));
    const TRgb colour = reef[CheckIndex(pick, reef.size())];
    SetSource(cr, colour);
    cairo_arc(cr, c.X, c.Y, c.R, 0, 2 * M_PI);
    cairo_fill(cr);
    if (c.R > 14) {
      // Rings: alternating bands of the ground and the colour, thinner towards the centre.
      const int rings = std::min(7, static_cast<int>(c.R / 12));
      for (int k = 1; k <= rings; ++k) {
        const double rr = c.R * (1.0 - static_cast<double>(k) / (rings + 1));
        SetSource(cr, k % 2 == 1 ? Scale(colour, 0.55f) : colour);
        cairo_arc(cr, c.X, c.Y, rr, 0, 2 * M_PI);
        cairo_fill(cr);
      }
    }
    // A soft highlight on the upper left of every circle.
    cairo_pattern_t* shine =
        cairo_pattern_create_radial(c.X - c.R * 0.35, c.Y - c.R * 0.35, 0, c.X, c.Y, c.R);
    cairo_pattern_add_color_stop_rgba(shine, 0, 1, 1, 1, 0.35);
    cairo_pattern_add_color_stop_rgba(shine, 0.6, 1, 1, 1, 0.0);
    cairo_pattern_add_color_stop_rgba(shine, 1, 0, 0, 0.1, 0.25);
    cairo_set_source(cr, shine);
    cairo_arc(cr, c.X, c.Y, c.R, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(shine);
  }
  return canvas.ToImage();
}
