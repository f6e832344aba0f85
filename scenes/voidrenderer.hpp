// uVoidRenderer: the pause renderer; draws nothing and ends its scene by advancing the scene
// index once the frame times it has received reach its duration. Depends on uShared.
#pragma once

#include <cstdint>

#include "engine/shared.hpp"

class TVoidRenderer : public IRenderer {
 public:
  TVoidRenderer(std::int32_t scene, double duration);
  void Render() override;
  void Update(double frameTime) override;
  std::int32_t GetScene() override;

  std::int32_t Scene = 0;
  double Duration = 0;
  double Elapsed = 0;
};
