// Tests the scroller on screen: the atlas of the embedded font, a dark full-screen picture,
// one scroller frame on top, and the pixels read back where the glyphs are fully covered
// (light cyan-white, red at most 180) and where they are empty (the picture shows). Needs
// the headless harness.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/files.hpp"
#include "tests/support/gl_context.hpp"
#include "text/scroller.hpp"
// Xlib's macros clash with GoogleTest's names: the window header comes last.
#include "display/glx.hpp"

namespace {

constexpr TRGBA kDark{20, 30, 60, 255};

TTextureAtlas EmbeddedAtlas() {
  static std::vector<std::uint8_t> bytes;
  bytes = ReadBytes(KELVO_FONT_FILE);
  TResourceEntry entry;
  entry.Name = "FONT";
  entry.Bytes = bytes;
  return GenerateTextureAtlasBMP(entry, 180);
}

void DrawDarkPicture() {
  TTexture picture = MakeTestTexture(4, 4, [](int, int) { return kDark; });
  glBindTexture(GL_TEXTURE_2D, picture.TextureID);
  glColor4f(1, 1, 1, 1);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(-1, -1);
  glTexCoord2f(1, 0);
  glVertex2f(1, -1);
  glTexCoord2f(1, 1);
  glVertex2f(1, 1);
  glTexCoord2f(0, 1);
  glVertex2f(-1, 1);
  glEnd();
}

// Whether the atlas pixel (x, y) of the glyph's bitmap and its eight neighbours all have
// the alpha a (so the screen pixel there cannot be an edge).
bool Uniform(const TTextureAtlas& atlas, const TGlyphInfo& g, int x, int y, int a) {
  const auto column = static_cast<int>(g.TexLeft * atlas.Width);
  const auto row = static_cast<int>(g.TexTop * atlas.Height);
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int bx = x + dx, by = y + dy;
      int alpha = 0;
      if (bx >= 0 && bx < g.Width && by >= 0 && by < g.Height) {
        alpha = atlas.Pixels.Data()[((static_cast<std::size_t>(row + by)) * atlas.Width + column + bx) * 4 + 3];
      }
      if (alpha != a) return false;
    }
  }
  return true;
}

TEST(ScrollerOnScreen, GlyphsShowLightCyanWhiteUprightOnTheBaseline) {
  TKelvoDisplay* display = nullptr;
  ASSERT_NO_FATAL_FAILURE(display = TestDisplay());
  ASSERT_NE(display, nullptr);
  // The drawable takes the window's full-screen size only at a buffer swap.
  display->SwapBuffers();
  const TTextureAtlas atlas = EmbeddedAtlas();
  ASSERT_EQ(atlas.Glyphs.Length(), 256u);

  BeginTestFrame();
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  DrawDarkPicture();

  const std::string text = "Tessic \xE4hoi";
  TScrollerRenderer::Finished = false;
  TScrollerRenderer scroller(16, text, 1, atlas);
  scroller.Offset = 200;
  scroller.Update(0.016);
  scroller.Render();

  // The projection matrix is left as it was found (the identity).
  float projection[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(projection[i], i % 5 == 0 ? 1.0f : 0.0f) << "element " << i;

  const double scaleX = display->WindowWidth / kDesignWidth;
  const double scaleY = display->WindowHeight / kDesignHeight;
  double pen = 200;
  int litNearBaseline = 0;
  int wrong = 0;
  for (unsigned char code : text) {
    const TGlyphInfo& g = atlas.Glyphs[code];
    const TGlyphQuad quad = MakeGlyphQuad(pen, g);
    pen += g.Advance;
    int lit = 0;
    for (int y = 0; y < g.Height; y += 5) {
      for (int x = 0; x < g.Width; x += 5) {
        const bool full = Uniform(atlas, g, x, y, 255);
        if (!full && !Uniform(atlas, g, x, y, 0)) continue;
        const double designY = quad.Top - y - 0.5;
        const TRGBA p = ReadPixel(static_cast<int>((quad.Left + x + 0.5) * scaleX), static_cast<int>(designY * scaleY));
        bool right = false;
        if (full) {
          ++lit;
          if (designY < kScrollerBaseline + 8) ++litNearBaseline;
          right = p.R <= 180 && p.R >= 170 && p.G >= 245 && p.B >= 245;
        } else {
          right = std::abs(p.R - kDark.R) <= 3 && std::abs(p.G - kDark.G) <= 3 && std::abs(p.B - kDark.B) <= 3;
        }
        if (!right && ++wrong <= 10) {
          ADD_FAILURE() << "character " << +code << ", bitmap pixel " << x << "," << y << (full ? " (covered)" : " (empty)")
                        << " shows " << +p.R << "," << +p.G << "," << +p.B;
        }
      }
    }
    if (g.Width > 0) {
      EXPECT_GT(lit, 0) << "character " << +code;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(litNearBaseline, 10);

  // Red never goes above 180 anywhere in a row just above the baseline.
  std::vector<std::uint8_t> row(static_cast<std::size_t>(display->WindowWidth) * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, static_cast<int>(103 * scaleY), display->WindowWidth, 1, GL_RGBA, GL_UNSIGNED_BYTE, row.data());
  int bright = 0;
  for (std::size_t x = 0; x < row.size(); x += 4) {
    EXPECT_LE(row[x], 180) << "column " << x / 4;
    if (row[x + 1] > 240) ++bright;
  }
  EXPECT_GT(bright, 20);
}

}  // namespace
