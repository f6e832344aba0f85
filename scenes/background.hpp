// uBackground: the picture renderer; draws one texture over the whole viewport as a quad in
// normalized device coordinates, so any picture is stretched to any window.
#pragma once

#include <cstdint>

#include "display/bmp.hpp"
#include "base/renderer.hpp"

class TBackgroundRenderer : public TSceneRenderer {
 public:
  TBackgroundRenderer(std::int32_t scene, TTexture texture);
  void Render() override;

  TTexture Texture;
};

// Draws the texture-mapped quad lower-left, lower-right, upper-right, upper-left with
// texture coordinates (0,0), (1,0), (1,1), (0,1): the picture's first row lies along the
// lower edge, so pictures appear upright. Shared by the renderers that draw whole textures.
void DrawTexturedQuad(float left, float bottom, float right, float top);
