// TEX_BOAT: a small sailing boat heading right, on a transparent ground: a deep hull
// (navy topsides, white boot stripe, red bottom) sitting at the bottom of the picture so
// that the water drawn over it hides its lower part, a cabin with portholes, a mast with
// boom, a cream mainsail and jib warmed by the sunset on their right edges, and a red
// pennant at the masthead. Drawn with Cairo.
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

namespace {

// The hull's outline, from the stern along the deck to the bow and back under the keel.
void HullPath(cairo_t* cr) {
  cairo_move_to(cr, 90, 452);                         // stern, deck level
  cairo_curve_to(cr, 300, 474, 600, 468, 880, 424);  // sheer line to the bow
  cairo_curve_to(cr, 860, 540, 820, 680, 710, 738);  // raked stem down to the forefoot
  cairo_curve_to(cr, 560, 760, 330, 760, 200, 740);  // the bottom
  cairo_curve_to(cr, 140, 700, 100, 580, 90, 452);   // the transom
  cairo_close_path(cr);
}

const TRgb kOutline = Hex(0x0d0f1c);

// Mast and boom, behind the sails' edges.
void DrawMast(cairo_t* cr) {
  SetSource(cr, Hex(0x5a3c2a));
  cairo_rectangle(cr, 462, 40, 13, 420);
  cairo_fill(cr);
}

// Mainsail: from the masthead down to the boom, with a gently curved leech.
void DrawMainsail(cairo_t* cr) {
  cairo_pattern_t* canvasLight = cairo_pattern_create_linear(150, 0, 470, 0);
  cairo_pattern_add_color_stop_rgb(canvasLight, 0, 0.86, 0.80, 0.78);
  cairo_pattern_add_color_stop_rgb(canvasLight, 0.7, 0.98, 0.93, 0.86);
  cairo_pattern_add_color_stop_rgb(canvasLight, 1, 1.0, 0.86, 0.70);
  cairo_move_to(cr, 458, 58);
  cairo_line_to(cr, 458, 386);
  cairo_line_to(cr, 150, 386);
  cairo_curve_to(cr, 250, 290, 380, 170, 458, 58);
  cairo_close_path(cr);
  cairo_set_source(cr, canvasLight);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(canvasLight);
  SetSource(cr, kOutline, 0.85);
  cairo_set_line_width(cr, 4);
  cairo_stroke(cr);
  // Seams across the mainsail.
  SetSource(cr, Hex(0xb8a99c), 0.8);
  cairo_set_line_width(cr, 2);
  for (int k = 1; k < 5; ++k) {
    const double y = 58 + k * 66.0;
    const double t = (y - 58) / (386 - 58);
    cairo_move_to(cr, 458, y);
    cairo_line_to(cr, 458 - 308 * t + 10, y + 18);
  }
  cairo_stroke(cr);
}

// Jib: ahead of the mast, sheeted to a clew right of the mast.
void DrawJib(cairo_t* cr) {
  cairo_pattern_t* jibLight = cairo_pattern_create_linear(480, 0, 860, 0);
  cairo_pattern_add_color_stop_rgb(jibLight, 0, 0.93, 0.88, 0.84);
  cairo_pattern_add_color_stop_rgb(jibLight, 1, 1.0, 0.80, 0.62);
  // Its luff runs along the forestay, from the masthead to the bow.
  cairo_move_to(cr, 484, 66);
  cairo_line_to(cr, 856, 408);
  cairo_curve_to(cr, 750, 404, 650, 400, 546, 392);
  cairo_curve_to(cr, 566, 280, 536, 160, 484, 66);
  cairo_close_path(cr);
  cairo_set_source(cr, jibLight);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(jibLight);
  SetSource(cr, kOutline, 0.85);
  cairo_set_line_width(cr, 4);
  cairo_stroke(cr);
}

// Boom and forestay.
void DrawBoomAndForestay(cairo_t* cr) {
  SetSource(cr, Hex(0x4a3022));
  cairo_set_line_width(cr, 11);
  cairo_move_to(cr, 470, 394);
  cairo_line_to(cr, 138, 394);
  cairo_stroke(cr);
  SetSource(cr, kOutline, 0.7);
  cairo_set_line_width(cr, 2);
  cairo_move_to(cr, 470, 48);
  cairo_line_to(cr, 874, 428);
  cairo_stroke(cr);
}

// Pennant at the masthead, streaming aft.
void DrawPennant(cairo_t* cr) {
  cairo_move_to(cr, 466, 30);
  cairo_curve_to(cr, 420, 20, 380, 46, 330, 38);
  cairo_curve_to(cr, 380, 60, 420, 56, 466, 68);
  cairo_close_path(cr);
  SetSource(cr, Hex(0xd62839));
  cairo_fill_preserve(cr);
  SetSource(cr, kOutline, 0.8);
  cairo_set_line_width(cr, 3);
  cairo_stroke(cr);
  SetSource(cr, Hex(0x5a3c2a));
  cairo_arc(cr, 468, 28, 9, 0, 2 * M_PI);
  cairo_fill(cr);
}

// Cabin with portholes.
void DrawCabin(cairo_t* cr) {
  cairo_move_to(cr, 330, 466);
  cairo_line_to(cr, 350, 414);
  cairo_line_to(cr, 590, 412);
  cairo_line_to(cr, 625, 462);
  cairo_close_path(cr);
  SetSource(cr, Hex(0xe9e1d4));
  cairo_fill_preserve(cr);
  SetSource(cr, kOutline, 0.85);
  cairo_set_line_width(cr, 4);
  cairo_stroke(cr);
  for (int k = 0; k < 4; ++k) {
    cairo_arc(cr, 385 + k * 58, 438, 9, 0, 2 * M_PI);
    SetSource(cr, Hex(0x2c3e64));
    cairo_fill(cr);
  }
}

// Hull: red bottom, white boot stripe, navy topsides, with a light rub rail.
void DrawHull(cairo_t* cr, int w, int h) {
  HullPath(cr);
  SetSource(cr, Hex(0x1c2f5e));
  cairo_fill_preserve(cr);
  cairo_save(cr);
  cairo_clip(cr);
  SetSource(cr, Hex(0xf2eee6));
  // The boot stripe marks the water line the boat floats at, about 640 pixels down.
  cairo_move_to(cr, 0, 626);
  cairo_curve_to(cr, 300, 640, 600, 638, w, 618);
  cairo_line_to(cr, w, 642);
  cairo_curve_to(cr, 600, 662, 300, 664, 0, 650);
  cairo_close_path(cr);
  cairo_fill(cr);
  SetSource(cr, Hex(0x9c2a22));
  cairo_move_to(cr, 0, 650);
  cairo_curve_to(cr, 300, 664, 600, 662, w, 642);
  cairo_line_to(cr, w, h);
  cairo_line_to(cr, 0, h);
  cairo_close_path(cr);
  cairo_fill(cr);
  // Warm light along the hull's right side, shadow to the left.
  cairo_pattern_t* light = cairo_pattern_create_linear(96, 0, 872, 0);
  cairo_pattern_add_color_stop_rgba(light, 0, 0, 0, 0.05, 0.35);
  cairo_pattern_add_color_stop_rgba(light, 0.6, 0, 0, 0, 0.0);
  cairo_pattern_add_color_stop_rgba(light, 1, 1.0, 0.75, 0.5, 0.25);
  cairo_set_source(cr, light);
  cairo_paint(cr);
  cairo_pattern_destroy(light);
  cairo_restore(cr);
  SetSource(cr, Hex(0xd9b38c));
  cairo_set_line_width(cr, 7);
  cairo_move_to(cr, 94, 462);
  cairo_curve_to(cr, 300, 482, 600, 476, 876, 432);
  cairo_stroke(cr);
  HullPath(cr);
  SetSource(cr, kOutline);
  cairo_set_line_width(cr, 5);
  cairo_stroke(cr);
}

}  // namespace

TImage PaintBoat(int w, int h) {
  TCairoCanvas canvas(w, h);
  cairo_t* cr = canvas.Context();
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  DrawMast(cr);
  DrawMainsail(cr);
  DrawJib(cr);
  DrawBoomAndForestay(cr);
  DrawPennant(cr);
  DrawCabin(cr);
  DrawHull(cr, w, h);
  return canvas.ToImage();
}
