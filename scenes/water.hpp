// uWater: the water of the harbour scene. Depends on uBMP, uShared, GL.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "engine/shared.hpp"

class TWaterRenderer : public IRenderer {
 public:
  TWaterRenderer(std::int32_t scene, double waterLine, TTexture texture);
  void Render() override;
  void Update(double frameTime) override;
  std::int32_t GetScene() override;

  TTexture Texture;
  double WaterLine = 0;
  std::int32_t Scene = 0;
};
