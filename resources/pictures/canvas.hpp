// Painting tools shared by the pictures: a Cairo surface that becomes a straight-alpha
// picture, and per-pixel shading with supersampling for anti-aliased procedural art.
// Depends on Cairo and image.hpp.
#pragma once

#include <cairo.h>

#include <functional>

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

// Fills the picture with the opaque colour of shade(x, y) averaged over samples x samples
// points inside each pixel; (x, y) are pixel coordinates with y counted from the top.
void ShadeOpaque(TImage& image, int samples, const std::function<TRgb(double x, double y)>& shade);
// The same with alpha: colours are averaged weighted by their alpha.
void ShadeAlpha(TImage& image, int samples, const std::function<TRgba(double x, double y)>& shade);
