// Painting tools shared by the pictures: a Cairo surface that becomes a straight-alpha
// picture, and per-pixel shading with supersampling for anti-aliased procedural art.
#pragma once

#include <cairo.h>

#include "resources/pictures/image.hpp"

// An ARGB32 Cairo surface with its context, sized like the picture it will become.
class TCairoCanvas {
 public:
  TCairoCanvas(int width, int height);
  ~TCairoCanvas();
  TCairoCanvas(const TCairoCanvas&) = delete;
  TCairoCanvas& operator=(const TCairoCanvas&) = delete;

  cairo_t* Context() const { return Cr; }
  // Cairo's premultiplied pixels, turned into a straight-alpha picture.
  TImage ToImage() const;
  // Loads a picture into the surface (premultiplying), to draw vector work over it.
  void FromImage(const TImage& image);

 private:
  cairo_surface_t* Surface;
  cairo_t* Cr;
};

// Cairo colour helpers taking our colours.
void SetSource(cairo_t* cr, TRgb c, double alpha = 1.0);

// A lighthouse tower: a trapezoid around centreX from base (halfBase to each side) up to top
// (halfTop), in bands alternating Light and Dark from the bottom, then shaded across by a
// horizontal gradient whose stops are (offset, r, g, b, alpha).
struct TTowerStyle {
  int Bands = 6;
  TRgb Light;
  TRgb Dark;
  double Shade[3][5] = {};
};
void DrawStripedTower(cairo_t* cr, double centreX, double base, double top, double halfBase, double halfTop,
                      const TTowerStyle& style);

// Fills the picture with the opaque colour of shade(x, y) averaged over samples x samples
// points inside each pixel; (x, y) are pixel coordinates with y counted from the top.
// A template, so the shader is inlined into the pixel loop.
template <class Shader>
void ShadeOpaque(TImage& image, int samples, const Shader& shade) {
  Assert(samples >= 1, "at least one sample a pixel", "pictures", __LINE__);
  const float inv = 1.0f / static_cast<float>(samples * samples);
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      TRgb sum;
      for (int j = 0; j < samples; ++j) {
        for (int i = 0; i < samples; ++i) sum = Add(sum, shade(x + (i + 0.5) / samples, y + (j + 0.5) / samples));
      }
      image.SetOpaque(x, y, {Clamp01(sum.R * inv), Clamp01(sum.G * inv), Clamp01(sum.B * inv)});
    }
  }
}

// The same with alpha: colours are averaged weighted by their alpha.
template <class Shader>
void ShadeAlpha(TImage& image, int samples, const Shader& shade) {
  Assert(samples >= 1, "at least one sample a pixel", "pictures", __LINE__);
  const float inv = 1.0f / static_cast<float>(samples * samples);
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      float r = 0, g = 0, b = 0, a = 0;
      for (int j = 0; j < samples; ++j) {
        for (int i = 0; i < samples; ++i) {
          const TRgba c = shade(x + (i + 0.5) / samples, y + (j + 0.5) / samples);
          r += c.R * c.A;
          g += c.G * c.A;
          b += c.B * c.A;
          a += c.A;
        }
      }
      if (a <= 0.0f) {
        image.Set(x, y, {});
      } else {
        image.Set(x, y, {Clamp01(r / a), Clamp01(g / a), Clamp01(b / a), Clamp01(a * inv)});
      }
    }
  }
}
