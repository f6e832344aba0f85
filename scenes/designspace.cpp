// Design space and the shared rocking transform (see designspace.hpp).
#include "scenes/designspace.hpp"

#include <GL/gl.h>

void BeginDesignSpace() {
  glPushMatrix();
  glOrtho(0, kDesignWidth, 0, kDesignHeight, -1, 1);
}

void EndDesignSpace() { glPopMatrix(); }

void RockAboutPivot(TDesignPoint pivot, double angle, double scaleX, double scaleY) {
  const auto px = static_cast<float>(pivot.X);
  const auto py = static_cast<float>(pivot.Y);
  glTranslatef(px, py, 0);
  glRotatef(static_cast<float>(angle), 0, 0, 1);
  glScalef(static_cast<float>(scaleX), static_cast<float>(scaleY), 0);
  glTranslatef(-px, -py, 0);
}
