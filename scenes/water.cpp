// uWater: stand-in until the water lands: draws nothing.
#include "scenes/water.hpp"

TWaterRenderer::TWaterRenderer(std::int32_t scene, double waterLine, TTexture texture)
    : Texture(std::move(texture)), WaterLine(waterLine), Scene(scene) {}
void TWaterRenderer::Render() {}
void TWaterRenderer::Update(double) {}
std::int32_t TWaterRenderer::GetScene() { return Scene; }
