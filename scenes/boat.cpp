// uBoat: stand-in until the boat lands: draws nothing.
#include "scenes/boat.hpp"

TBoatRenderer::TBoatRenderer(std::int32_t scene, std::int64_t endCount, TTexture texture)
    : Texture(std::move(texture)), Scene(scene), EndCount(endCount) {}
void TBoatRenderer::Render() {}
void TBoatRenderer::Update(double) {}
std::int32_t TBoatRenderer::GetScene() { return Scene; }
