// uBoat: the boat of the harbour scene. At each Render it moves a quarter pixel right,
// bobs with its position and rocks with the tick count, drawn shrunk to 0.45 of its
// picture in the design space; in the Render in which Count equals EndCount it ends its
// scene instead of drawing.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "base/renderer.hpp"
#include "scenes/designspace.hpp"

// The boat's shrink factor about its pivot.
inline constexpr double kBoatScale = 0.45;

// The top edge of the quad for the boat's left edge x: 480 +- 3 pixels, bobbing once every
// 10 pi pixels of travel. Depends on x only.
double BoatTop(double x);

// How far X moves in one Render: 0.25 pixel times the speed.
double BoatStep(double speed);

// The rocking angle in degrees at tick count t (ms): 0 to 10, never negative.
double BoatAngle(double t);

// The quad of a picture of width x height pixels whose left edge is x.
TDesignQuad BoatQuad(double x, double width, double height);

// The point the boat rocks and shrinks about, for a quad of a width x height picture: the
// quad's horizontal centre, half the quad's height above its top edge (not its centre).
TDesignPoint BoatPivot(const TDesignQuad& quad, double width, double height);

class TBoatRenderer : public TSceneRenderer {
 public:
  TBoatRenderer(std::int32_t scene, std::int64_t endCount, TTexture texture);
  void Render() override;

  TTexture Texture;
  double X = -400;
  double Speed = 1;
  // Compared with EndCount at every Render and never changed here, so the scene ends only
  // when the end count is 0 (in the first Render).
  std::int64_t Count = 0;
  std::int64_t EndCount = 0;
  TTickSource Ticks = TickMilliseconds;
};
