// A temporary painter: the picture's own name, large, on a gradient. Depends on canvas.hpp.
#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

namespace {

TImage Placeholder(int w, int h, const char* name, TRgb a, TRgb b, bool opaque) {
  TCairoCanvas canvas(w, h);
  cairo_t* cr = canvas.Context();
  cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, w, h);
  cairo_pattern_add_color_stop_rgb(gradient, 0, a.R, a.G, a.B);
  cairo_pattern_add_color_stop_rgb(gradient, 1, b.R, b.G, b.B);
  cairo_set_source(cr, gradient);
  if (opaque) {
    cairo_paint(cr);
  } else {
    cairo_arc(cr, w / 2.0, h / 2.0, std::min(w, h) * 0.4, 0, 6.2831853);
    cairo_fill(cr);
  }
  cairo_pattern_destroy(gradient);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, w / 12.0);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, name, &ext);
  cairo_move_to(cr, (w - ext.width) / 2 - ext.x_bearing, (h - ext.height) / 2 - ext.y_bearing);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_show_text(cr, name);
  return canvas.ToImage();
}

}  // namespace

#define KELVO_PLACEHOLDER(fn, name, a, b, opaque) \
  TImage fn(int w, int h) { return Placeholder(w, h, name, Hex(a), Hex(b), opaque); }
KELVO_PLACEHOLDER(PaintArte15, "TEX_ARTE15", 0x202060, 0x5030e0, true)
KELVO_PLACEHOLDER(PaintArte16, "TEX_ARTE16", 0x600000, 0xe0e030, true)
KELVO_PLACEHOLDER(PaintBackground, "TEX_BACKGROUND", 0x201040, 0x103050, true)
KELVO_PLACEHOLDER(PaintBoat, "TEX_BOAT", 0x804020, 0xf0f0f0, false)

// Water: transparent above 35 % of the height from the bottom, translucent blue below.
TImage PaintWater(int w, int h) {
  TImage image(w, h);
  const int surface = h - static_cast<int>(h * 0.35);
  for (int y = surface; y < h; ++y)
    for (int x = 0; x < w; ++x) image.Set(x, y, {0.1f, 0.3f, 0.5f, 0.8f});
  return image;
}
