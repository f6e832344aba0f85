// Cairo canvas and supersampled shading (see canvas.hpp).
#include "resources/pictures/canvas.hpp"

#include <cstring>

TCairoCanvas::TCairoCanvas(int width, int height) {
  Surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  Assert(cairo_surface_status(Surface) == CAIRO_STATUS_SUCCESS, "cannot create a Cairo surface", "pictures",
         __LINE__);
  Cr = cairo_create(Surface);
  Assert(cairo_status(Cr) == CAIRO_STATUS_SUCCESS, "cannot create a Cairo context", "pictures", __LINE__);
  cairo_set_antialias(Cr, CAIRO_ANTIALIAS_BEST);
}

TCairoCanvas::~TCairoCanvas() {
  cairo_destroy(Cr);
  cairo_surface_destroy(Surface);
}

TImage TCairoCanvas::ToImage() const {
  cairo_surface_flush(Surface);
  const int width = cairo_image_surface_get_width(Surface);
  const int height = cairo_image_surface_get_height(Surface);
  const int stride = cairo_image_surface_get_stride(Surface);
  const unsigned char* data = cairo_image_surface_get_data(Surface);
  TImage image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t p;
      std::memcpy(&p, data + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * 4, 4);
      const float a = static_cast<float>(p >> 24) / 255.0f;
      if (a <= 0.0f) {
        image.Set(x, y, {});
        continue;
      }
      // Un-premultiply: the BMP carries straight alpha.
      const float k = 1.0f / (255.0f * a);
      image.Set(x, y,
                {Clamp01(static_cast<float>((p >> 16) & 0xffu) * k), Clamp01(static_cast<float>((p >> 8) & 0xffu) * k),
                 Clamp01(static_cast<float>(p & 0xffu) * k), a});
    }
  }
  return image;
}

void TCairoCanvas::FromImage(const TImage& image) {
  cairo_surface_flush(Surface);
  const int width = cairo_image_surface_get_width(Surface);
  const int height = cairo_image_surface_get_height(Surface);
  Assert(width == image.Width() && height == image.Height(), "canvas and picture differ in size", "pictures",
         __LINE__);
  const int stride = cairo_image_surface_get_stride(Surface);
  unsigned char* data = cairo_image_surface_get_data(Surface);
  auto byte = [](float v) { return static_cast<std::uint32_t>(std::lround(Clamp01(v) * 255.0f)); };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const TRgba c = image.Get(x, y);
      const float a = Clamp01(c.A);
      const std::uint32_t p = byte(a) << 24 | byte(c.R * a) << 16 | byte(c.G * a) << 8 | byte(c.B * a);
      std::memcpy(data + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * 4, &p, 4);
    }
  }
  cairo_surface_mark_dirty(Surface);
}

void SetSource(cairo_t* cr, TRgb c, double alpha) { cairo_set_source_rgba(cr, c.R, c.G, c.B, alpha); }

void DrawStripedTower(cairo_t* cr, double centreX, double base, double top, double halfBase, double halfTop,
                      const TTowerStyle& style) {
  auto edge = [&](double y, int side) {
    const double t = (base - y) / (base - top);
    return centreX + side * (halfBase + (halfTop - halfBase) * t);
  };
  auto slab = [&](double y0, double y1) {
    cairo_move_to(cr, edge(y0, -1), y0);
    cairo_line_to(cr, edge(y0, 1), y0);
    cairo_line_to(cr, edge(y1, 1), y1);
    cairo_line_to(cr, edge(y1, -1), y1);
    cairo_close_path(cr);
    cairo_fill(cr);
  };
  for (int band = 0; band < style.Bands; ++band) {
    SetSource(cr, band % 2 == 0 ? style.Light : style.Dark);
    slab(base - (base - top) * band / style.Bands, base - (base - top) * (band + 1) / style.Bands);
  }
  cairo_pattern_t* shade = cairo_pattern_create_linear(centreX - halfBase, 0, centreX + halfBase, 0);
  for (const auto& stop : style.Shade) cairo_pattern_add_color_stop_rgba(shade, stop[0], stop[1], stop[2], stop[3], stop[4]);
  cairo_set_source(cr, shade);
  slab(base, top);
  cairo_pattern_destroy(shade);
}
