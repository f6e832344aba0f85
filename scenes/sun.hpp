// uSun: the rocking sun of the harbour scene. Each frame it draws the sun picture twice under
// one rocking transform in the design space: a black silhouette that rises and sinks with the
// tick count, then the lit copy at the middle of that motion over it. It leaves the colour
// white (alpha 1) and the texture environment GL_MODULATE, as the other renderers expect.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "base/renderer.hpp"
#include "scenes/designspace.hpp"

// Scale factors of the sun's quad and of its scaling transform (horizontal, vertical).
inline constexpr double kSunScaleX = 1.3;
inline constexpr double kSunScaleY = 1.3;
// The quad's lower-left corner before the shift: (1920 / 1.3, 1080 / 1.3 - sink).
inline constexpr double kSunLeft = kDesignWidth / kSunScaleX;
inline constexpr double kSunBase = kDesignHeight / kSunScaleY;
// The lit copy's sink: the middle of the silhouette's motion.
inline constexpr double kSunRestSink = 150;
// The pivot's height above the silhouette's lower edge: half the quad's height, so both
// copies rock and grow about the middle of the silhouette rather than about its lower
// edge, which looks like a sun swaying in place.
inline constexpr double kSunPivotLift = 0.5 * (kDesignHeight - kSunBase);

// The silhouette's downward displacement s at tick count t (ms): 100 to 200 pixels.
double SunSink(double t);

// The rocking angle in degrees at tick count t (ms): -10 to 10.
double SunAngle(double t);

// The quad drawn for a sink s: 443.08 x 249.23, its right edge 100 pixels from the right.
TDesignQuad SunQuad(double sink);

// The point about which both copies are rocked and scaled, for the silhouette's sink s:
// a quarter of the way across from x0 = 1920 / 1.3, kSunPivotLift above y0 = 1080 / 1.3 - s.
TDesignPoint SunPivot(double sink);

class TSunRenderer : public TSceneRenderer {
 public:
  TSunRenderer(std::int32_t scene, TTexture texture);
  void Render() override;

  TTexture Texture;
  TTickSource Ticks = TickMilliseconds;
};
