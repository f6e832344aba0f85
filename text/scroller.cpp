// uScroller: the scrolling greeting line (see scroller.hpp). Render draws through a sink
// that issues the immediate-mode GL calls; the motion lives in Scroll.
#include "text/scroller.hpp"

#include <GL/gl.h>

#include <utility>

bool TScrollerRenderer::Finished = false;

namespace {

// Draws the quads with the atlas texture in the fixed 1920 x 1080 design space; the
// projection matrix is restored afterwards.
class TGLGlyphSink final : public IGlyphSink {
 public:
  void Begin(std::int32_t textureName) override {
    glPushMatrix();
    glOrtho(0, kDesignWidth, 0, kDesignHeight, -1, 1);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textureName));
  }
  void Quad(const TGlyphQuad& q) override {
    glBegin(GL_QUADS);
    glTexCoord2f(static_cast<float>(q.TexLeft), static_cast<float>(q.TexBottom));
    glVertex2f(static_cast<float>(q.Left), static_cast<float>(q.Bottom));
    glTexCoord2f(static_cast<float>(q.TexRight), static_cast<float>(q.TexBottom));
    glVertex2f(static_cast<float>(q.Right), static_cast<float>(q.Bottom));
    glTexCoord2f(static_cast<float>(q.TexRight), static_cast<float>(q.TexTop));
    glVertex2f(static_cast<float>(q.Right), static_cast<float>(q.Top));
    glTexCoord2f(static_cast<float>(q.TexLeft), static_cast<float>(q.TexTop));
    glVertex2f(static_cast<float>(q.Left), static_cast<float>(q.Top));
    glEnd();
  }
  void End() override { glPopMatrix(); }
};

}  // namespace

TGlyphQuad MakeGlyphQuad(double pen, const TGlyphInfo& g) {
  TGlyphQuad quad;
  quad.Left = pen + g.BearingX;
  quad.Bottom = kScrollerBaseline - (static_cast<double>(g.Height) - g.BearingY);
  quad.Right = quad.Left + g.Width;
  quad.Top = quad.Bottom + g.Height;
  quad.TexLeft = g.TexLeft;
  quad.TexRight = g.TexRight;
  quad.TexTop = g.TexTop;
  quad.TexBottom = g.TexBottom;
  return quad;
}

std::int64_t NextOffset(std::int64_t offset, std::int64_t speed) {
  std::int64_t step = 0;
  std::int64_t next = 0;
  if (__builtin_mul_overflow(kScrollerStep, speed, &step) || __builtin_sub_overflow(offset, step, &next)) {
    RangeError();
  }
  return next;
}

TScrollerRenderer::TScrollerRenderer(std::int32_t scene, std::string text, std::int64_t speed, TTextureAtlas atlas)
    : TSceneRenderer(scene), Atlas(std::move(atlas)), Text(std::move(text)), Speed(speed) {}

void TScrollerRenderer::Scroll(IGlyphSink& sink) {
  if (Finished) return;
  double pen = static_cast<double>(Offset);
  Offset = NextOffset(Offset, Speed);
  if (Atlas.Glyphs.Empty()) return;

  sink.Begin(Atlas.TextureName);
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const TGlyphInfo& g = Atlas.Glyphs[static_cast<unsigned char>(Text[i])];
    const TGlyphQuad quad = MakeGlyphQuad(pen, g);
    if (i + 1 == Text.size() && quad.Left < 0) Finished = true;
    sink.Quad(quad);
    pen += g.Advance;
  }
  sink.End();
}

void TScrollerRenderer::Render() {
  TGLGlyphSink sink;
  Scroll(sink);
}


