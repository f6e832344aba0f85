// uSun: the rocking sun (see sun.hpp).
#include "scenes/sun.hpp"

#include <GL/gl.h>

#include <cmath>

#include "scenes/background.hpp"

double SunSink(double t) { return 50 * std::sin(t / 1000) + kSunRestSink; }

double SunAngle(double t) { return 10 * std::sin(t / 400); }

TDesignQuad SunQuad(double sink) {
  return {kSunLeft - 100, kSunBase - sink, kDesignWidth - 100, kDesignHeight - sink};
}

TDesignPoint SunPivot(double sink) {
  const double x0 = kSunLeft;
  const double w = kDesignWidth - x0;
  const double y0 = kSunBase - sink;
  return {x0 + 0.25 * w, y0 + kSunPivotLift};
}

TSunRenderer::TSunRenderer(std::int32_t scene, TTexture texture) : TSceneRenderer(scene), Texture(std::move(texture)) {}

namespace {

void DrawSunQuad(const TDesignQuad& quad) {
  DrawTexturedQuad(static_cast<float>(quad.Left), static_cast<float>(quad.Bottom), static_cast<float>(quad.Right),
                   static_cast<float>(quad.Top));
}

}  // namespace

void TSunRenderer::Render() {
  const double sink = SunSink(static_cast<double>(Ticks()));
  BeginDesignSpace();
  glBindTexture(GL_TEXTURE_2D, Texture.TextureID);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor3f(0, 0, 0);
  const double angle = SunAngle(static_cast<double>(Ticks()));
  RockAboutPivot(SunPivot(sink), angle, kSunScaleX, kSunScaleY);
  // Black with the picture's own alpha: the silhouette.
  DrawSunQuad(SunQuad(sink));
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor4f(1, 1, 1, 1);
  // The lit copy, always over the silhouette.
  DrawSunQuad(SunQuad(kSunRestSink));
  EndDesignSpace();
}


