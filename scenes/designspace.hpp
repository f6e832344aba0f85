// Design space: the fixed 1920 x 1080 coordinate system (origin lower left) in which the
// sun and the boat place their quads, the rocking transform they share, and the source of
// the tick count they animate from.
#pragma once

#include <cstdint>

#include "base/renderer.hpp"
#include "platform/clock.hpp"

struct TDesignPoint {
  double X = 0;
  double Y = 0;
};

// A quad's edges in design-space pixels.
struct TDesignQuad {
  double Left = 0;
  double Bottom = 0;
  double Right = 0;
  double Top = 0;
};

// Where a renderer reads the tick count (milliseconds); TickMilliseconds unless a test fixes it.
using TTickSource = std::uint64_t (*)();

// glPushMatrix and glOrtho(0, 1920, 0, 1080, -1, 1) on the current (projection) matrix.
void BeginDesignSpace();

// glPopMatrix: the projection is what it was before BeginDesignSpace.
void EndDesignSpace();

// Rotates by angle degrees (counter-clockwise) and scales by (scaleX, scaleY, 0) about the
// pivot: glTranslatef(pivot), glRotatef(angle, 0, 0, 1), glScalef, glTranslatef(-pivot).
void RockAboutPivot(TDesignPoint pivot, double angle, double scaleX, double scaleY);
