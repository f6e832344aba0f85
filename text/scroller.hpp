// uScroller: the renderer that scrolls one line of text from right to left across the
// harbour scene, one textured quad per character cut out of the font atlas, ten design
// units per drawn frame, until the last character has left the picture. The motion and the
// quads are worked out apart from GL (Scroll with a glyph sink), so they can be checked
// without a context.
#pragma once

#include <cstdint>
#include <string>

#include "base/renderer.hpp"
#include "text/font.hpp"

// The text's baseline and the pen's start, in design units.
inline constexpr double kScrollerBaseline = 100.0;
inline constexpr std::int64_t kScrollerStartOffset = 2160;  // twice the design height
inline constexpr std::int64_t kScrollerStep = 10;            // per drawn frame and unit of speed

// One character's quad in design space and the atlas rectangle it shows (GL takes both in
// single precision).
struct TGlyphQuad {
  double Left = 0, Bottom = 0, Right = 0, Top = 0;
  long double TexLeft = 0, TexRight = 0, TexTop = 0, TexBottom = 0;
};

// The quad of glyph g drawn with the pen at pen: the bitmap's left edge at pen + BearingX,
// its lower edge Height - BearingY below the baseline, one design unit per atlas pixel.
TGlyphQuad MakeGlyphQuad(double pen, const TGlyphInfo& g);

// The offset of the next frame: offset moved left by the step times speed (a range error
// on overflow).
std::int64_t NextOffset(std::int64_t offset, std::int64_t speed);

// Receives what one frame of the scroller draws.
class IGlyphSink {
 public:
  virtual ~IGlyphSink() = default;
  virtual void Begin(std::int32_t textureName) = 0;
  virtual void Quad(const TGlyphQuad& quad) = 0;
  virtual void End() = 0;
};

class TScrollerRenderer : public TSceneRenderer {
 public:
  TScrollerRenderer(std::int32_t scene, std::string text, std::int64_t speed, TTextureAtlas atlas);
  void Render() override;

  // One frame without GL: unless Finished, steps Offset and hands the text's quads to the
  // sink, setting Finished when the last character's left edge is below 0. An atlas without
  // glyph records (no font in the store) draws nothing.
  void Scroll(IGlyphSink& sink);

  // Shared by every scroller of the process: once set, no scroller draws again.
  static bool Finished;

  TTextureAtlas Atlas;
  std::int64_t Offset = kScrollerStartOffset;
  std::string Text;
  std::int64_t Speed = 0;
};
