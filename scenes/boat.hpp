// uBoat: the boat of the harbour scene. Depends on uBMP, uShared, GL.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "engine/shared.hpp"

class TBoatRenderer : public IRenderer {
 public:
  TBoatRenderer(std::int32_t scene, std::int64_t endCount, TTexture texture);
  void Render() override;
  void Update(double frameTime) override;
  std::int32_t GetScene() override;

  TTexture Texture;
  double X = -400;
  double Speed = 1;
  std::int32_t Scene = 0;
  std::int64_t Count = 0;
  std::int64_t EndCount = 0;
};
