// uSun: stand-in until the sun lands: draws nothing.
#include "scenes/sun.hpp"

TSunRenderer::TSunRenderer(std::int32_t scene, TTexture texture) : Texture(std::move(texture)), Scene(scene) {}
void TSunRenderer::Render() {}
void TSunRenderer::Update(double) {}
std::int32_t TSunRenderer::GetScene() { return Scene; }
