// uBackground: full-viewport picture quad (see background.hpp).
#include "scenes/background.hpp"

#include <GL/gl.h>

TBackgroundRenderer::TBackgroundRenderer(std::int32_t scene, TTexture texture)
    : TSceneRenderer(scene), Texture(std::move(texture)) {}

void TBackgroundRenderer::Render() {
  glBindTexture(GL_TEXTURE_2D, Texture.TextureID);
  DrawTexturedQuad(-1, -1, 1, 1);
}



void DrawTexturedQuad(float left, float bottom, float right, float top) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(left, bottom, 0);
  glTexCoord2f(1, 0);
  glVertex3f(right, bottom, 0);
  glTexCoord2f(1, 1);
  glVertex3f(right, top, 0);
  glTexCoord2f(0, 1);
  glVertex3f(left, top, 0);
  glEnd();
}
