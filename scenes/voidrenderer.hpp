// uVoidRenderer: the pause renderer; draws nothing and ends its scene by advancing the scene
// index once the frame times it has received reach its duration.
#pragma once

#include <cstdint>

#include "base/renderer.hpp"

class TVoidRenderer : public TSceneRenderer {
 public:
  TVoidRenderer(std::int32_t scene, double duration);
  void Render() override;
  void Update(double frameTime) override;

  double Duration = 0;
  double Elapsed = 0;
};
