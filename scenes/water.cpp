// uWater: the rising and sinking water (see water.hpp).
#include "scenes/water.hpp"

#include <GL/gl.h>

#include <cmath>

#include "scenes/background.hpp"

double NextWaterLine(double waterLine, double t) {
  const long double step = std::sin(static_cast<long double>(t) / 1000) / 550;
  return static_cast<double>(static_cast<long double>(waterLine) + step);
}

double WaterTop(double waterLine) { return 3 + waterLine; }

TWaterRenderer::TWaterRenderer(std::int32_t scene, double waterLine, TTexture texture)
    : TSceneRenderer(scene), Texture(std::move(texture)), WaterLine(waterLine) {}

void TWaterRenderer::Render() {
  glBindTexture(GL_TEXTURE_2D, Texture.TextureID);
  WaterLine = NextWaterLine(WaterLine, static_cast<double>(Ticks()));
  DrawTexturedQuad(-1, -1, 1, static_cast<float>(WaterTop(WaterLine)));
}


