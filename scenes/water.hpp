// uWater: the water of the harbour scene: the water picture stretched over the window's full
// width from the bottom edge up to a water line that moves once per drawn frame by a step
// that follows the tick count. Draws in normalized device coordinates, without matrices.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "base/renderer.hpp"
#include "scenes/designspace.hpp"

// The water line after one frame's step at tick count t (ms): it moves by sin(t / 1000) / 550,
// summed in extended precision.
double NextWaterLine(double waterLine, double t);

// The quad's top edge in normalized device coordinates for a water line.
double WaterTop(double waterLine);

class TWaterRenderer : public TSceneRenderer {
 public:
  TWaterRenderer(std::int32_t scene, double waterLine, TTexture texture);
  void Render() override;

  TTexture Texture;
  double WaterLine = 0;
  TTickSource Ticks = TickMilliseconds;
};
