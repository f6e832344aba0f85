// uSun: the rocking sun of the harbour scene. Depends on uBMP, uShared, GL.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "engine/shared.hpp"

class TSunRenderer : public IRenderer {
 public:
  TSunRenderer(std::int32_t scene, TTexture texture);
  void Render() override;
  void Update(double frameTime) override;
  std::int32_t GetScene() override;

  TTexture Texture;
  std::int32_t Scene = 0;
};
