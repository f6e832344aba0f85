// uBoat: the travelling, bobbing, rocking boat (see boat.hpp).
#include "scenes/boat.hpp"

#include <GL/gl.h>

#include <cmath>

double BoatTop(double x) { return kDesignHeight - 600 + 3 * std::sin(x / 5); }

double BoatStep(double speed) { return 0.25 * speed; }

double BoatAngle(double t) { return (std::sin(t / 200) + 1) * 5; }

TDesignQuad BoatQuad(double x, double width, double height) {
  const double top = BoatTop(x);
  return {x, top - height, x + width, top};
}

TDesignPoint BoatPivot(const TDesignQuad& quad, double width, double height) {
  return {quad.Left + 0.5 * width, quad.Top + 0.5 * height};
}

TBoatRenderer::TBoatRenderer(std::int32_t scene, std::int64_t endCount, TTexture texture)
    : TSceneRenderer(scene), Texture(std::move(texture)), EndCount(endCount) {}

namespace {

// The textured quad with two-component vertices.
void DrawBoatQuad(const TDesignQuad& quad) {
  const auto left = static_cast<float>(quad.Left);
  const auto bottom = static_cast<float>(quad.Bottom);
  const auto right = static_cast<float>(quad.Right);
  const auto top = static_cast<float>(quad.Top);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(left, bottom);
  glTexCoord2f(1, 0);
  glVertex2f(right, bottom);
  glTexCoord2f(1, 1);
  glVertex2f(right, top);
  glTexCoord2f(0, 1);
  glVertex2f(left, top);
  glEnd();
}

}  // namespace

void TBoatRenderer::Render() {
  // The quad uses X as it was before this call's step.
  const double width = Texture.Width;
  const double height = Texture.Height;
  const TDesignQuad quad = BoatQuad(X, width, height);
  X += BoatStep(Speed);
  if (Count == EndCount) {
    AdvanceSceneIndex();
    return;
  }
  const double angle = BoatAngle(static_cast<double>(Ticks()));
  BeginDesignSpace();
  glBindTexture(GL_TEXTURE_2D, Texture.TextureID);
  RockAboutPivot(BoatPivot(quad, width, height), angle, kBoatScale, kBoatScale);
  DrawBoatQuad(quad);
  EndDesignSpace();
}


