// uScroller: stand-in until the scroller lands: draws nothing.
#include "text/scroller.hpp"

bool TScrollerRenderer::Finished = false;

TScrollerRenderer::TScrollerRenderer(std::int32_t scene, std::string text, std::int64_t speed, TTextureAtlas atlas)
    : Atlas(std::move(atlas)), Scene(scene), Text(std::move(text)), Speed(speed) {}
void TScrollerRenderer::Render() {}
void TScrollerRenderer::Update(double) {}
std::int32_t TScrollerRenderer::GetScene() { return Scene; }
