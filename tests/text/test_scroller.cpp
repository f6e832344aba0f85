// Tests of the scroller's motion and quads without GL: a crafted glyph table, a sink that
// records what one frame would draw, and the shared Finished flag.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/fatal_expect.hpp"
#include "text/scroller.hpp"

namespace {

// Every glyph 8 x 10 with BearingX 1 sitting on the baseline and advancing 10, except:
// 'g' hangs 4 below the baseline, ' ' is empty and advances 6, 'w' is 20 wide.
TTextureAtlas CraftedAtlas() {
  TTextureAtlas atlas;
  atlas.Width = atlas.Height = 64;
  atlas.TextureName = 7;
  atlas.Glyphs = TGlyphInfoDynArray::Make(256);
  for (std::size_t code = 0; code < 256; ++code) {
    TGlyphInfo& g = atlas.Glyphs[code];
    g.Width = 8;
    g.Height = 10;
    g.BearingX = 1;
    g.BearingY = 10;
    g.Advance = 10;
    g.TexLeft = static_cast<long double>(code) / 256;
    g.TexRight = g.TexLeft + 8.0L / 64;
    g.TexTop = 0.25L;
    g.TexBottom = 0.25L + 10.0L / 64;
  }
  atlas.Glyphs['g'].Height = 12;
  atlas.Glyphs['g'].BearingY = 8;
  TGlyphInfo& space = atlas.Glyphs[' '];
  space.Width = space.Height = space.BearingX = space.BearingY = 0;
  space.Advance = 6;
  space.TexRight = space.TexLeft;
  space.TexBottom = space.TexTop;
  atlas.Glyphs['w'].Width = 20;
  return atlas;
}

// Records one frame: whether it began and ended, the texture, and the quads.
class TRecordingSink : public IGlyphSink {
 public:
  void Begin(std::int32_t textureName) override {
    ++Begins;
    Texture = textureName;
  }
  void Quad(const TGlyphQuad& quad) override { Quads.push_back(quad); }
  void End() override { ++Ends; }
  int Begins = 0, Ends = 0;
  std::int32_t Texture = 0;
  std::vector<TGlyphQuad> Quads;
};

TRecordingSink Frame(TScrollerRenderer& scroller) {
  TRecordingSink sink;
  scroller.Scroll(sink);
  return sink;
}

class Scroller : public ::testing::Test {
 protected:
  void SetUp() override { TScrollerRenderer::Finished = false; }
  void TearDown() override { TScrollerRenderer::Finished = false; }
};

TEST_F(Scroller, StartsAt2160AndMovesTenUnitsLeftPerFrame) {
  TScrollerRenderer scroller(16, "ab", 1, CraftedAtlas());
  EXPECT_EQ(scroller.Offset, 2160);
  TRecordingSink first = Frame(scroller);
  ASSERT_EQ(first.Quads.size(), 2u);
  EXPECT_EQ(first.Quads[0].Left, 2161);  // pen 2160 + BearingX
  EXPECT_EQ(first.Quads[1].Left, 2171);  // pen moved by the advance
  EXPECT_EQ(scroller.Offset, 2150);
  TRecordingSink second = Frame(scroller);
  ASSERT_EQ(second.Quads.size(), 2u);
  EXPECT_EQ(second.Quads[0].Left, 2151);
  EXPECT_EQ(first.Begins, 1);
  EXPECT_EQ(first.Ends, 1);
  EXPECT_EQ(first.Texture, 7);
}

TEST_F(Scroller, QuadsStandOnTheBaselineWithTheAtlasRectangle) {
  TTextureAtlas atlas = CraftedAtlas();
  TScrollerRenderer scroller(16, "a g", 1, atlas);
  scroller.Offset = 300;
  TRecordingSink frame = Frame(scroller);
  ASSERT_EQ(frame.Quads.size(), 3u);
  const TGlyphQuad& a = frame.Quads[0];
  EXPECT_EQ(a.Left, 301);
  EXPECT_EQ(a.Right, 309);
  EXPECT_EQ(a.Bottom, 100);  // sits on the baseline
  EXPECT_EQ(a.Top, 110);
  EXPECT_EQ(a.TexLeft, atlas.Glyphs['a'].TexLeft);
  EXPECT_EQ(a.TexRight, atlas.Glyphs['a'].TexRight);
  EXPECT_EQ(a.TexTop, atlas.Glyphs['a'].TexTop);  // the quad's top shows the cell's top
  EXPECT_EQ(a.TexBottom, atlas.Glyphs['a'].TexBottom);
  const TGlyphQuad& space = frame.Quads[1];  // zero area, pen moves by its advance
  EXPECT_EQ(space.Left, space.Right);
  EXPECT_EQ(space.Bottom, space.Top);
  EXPECT_EQ(space.Left, 310);
  const TGlyphQuad& g = frame.Quads[2];  // hangs 4 below the baseline
  EXPECT_EQ(g.Left, 317);
  EXPECT_EQ(g.Bottom, 96);
  EXPECT_EQ(g.Top, 108);
}

TEST_F(Scroller, FinishesOnlyWhenTheLastLeftEdgeIsBelowZero) {
  // Only the last character decides: the left edge of 'a' is below 0 from the start.
  TScrollerRenderer scroller(16, "aw", 1, CraftedAtlas());
  scroller.Offset = -11;  // the left edge of 'w' is pen + 10 + BearingX 1 = 0
  TRecordingSink atZero = Frame(scroller);
  EXPECT_EQ(atZero.Quads.back().Left, 0);
  EXPECT_FALSE(TScrollerRenderer::Finished);

  TRecordingSink finishing = Frame(scroller);  // left edge -10
  EXPECT_TRUE(TScrollerRenderer::Finished);
  EXPECT_EQ(finishing.Quads.size(), 2u);  // that frame still draws the whole text
  EXPECT_EQ(finishing.Ends, 1);
  EXPECT_EQ(scroller.Offset, -31);

  TRecordingSink after = Frame(scroller);  // the right part of 'w' would still show
  EXPECT_EQ(after.Begins, 0);
  EXPECT_TRUE(after.Quads.empty());
  EXPECT_EQ(scroller.Offset, -31);
}

TEST_F(Scroller, AllScrollersStopWhenOneFinishes) {
  TScrollerRenderer leaving(16, "a", 1, CraftedAtlas());
  TScrollerRenderer other(16, "hello", 1, CraftedAtlas());
  leaving.Offset = -5;
  EXPECT_EQ(Frame(other).Quads.size(), 5u);
  Frame(leaving);
  ASSERT_TRUE(TScrollerRenderer::Finished);
  TRecordingSink otherAfter = Frame(other);
  EXPECT_EQ(otherAfter.Begins, 0);
  EXPECT_TRUE(otherAfter.Quads.empty());
  EXPECT_EQ(other.Offset, 2150);
}

TEST_F(Scroller, AnEmptyTextDrawsNothingAndNeverFinishes) {
  TScrollerRenderer scroller(16, "", 1, CraftedAtlas());
  for (int frame = 0; frame < 1000; ++frame) {
    EXPECT_TRUE(Frame(scroller).Quads.empty());
  }
  EXPECT_FALSE(TScrollerRenderer::Finished);
  EXPECT_EQ(scroller.Offset, 2160 - 10000);
}

TEST_F(Scroller, SpeedZeroStaysAndNegativeSpeedMovesRight) {
  TScrollerRenderer still(16, "ab", 0, CraftedAtlas());
  TScrollerRenderer backwards(16, "ab", -1, CraftedAtlas());
  for (int frame = 0; frame < 1000; ++frame) {
    EXPECT_EQ(Frame(still).Quads[0].Left, 2161);
    Frame(backwards);
  }
  EXPECT_EQ(still.Offset, 2160);
  EXPECT_EQ(backwards.Offset, 2160 + 10000);
  EXPECT_FALSE(TScrollerRenderer::Finished);
}

TEST_F(Scroller, AnEmptyAtlasDrawsNothingAndReadsNoGlyph) {
  // A store without the font leaves the engine's atlas without glyph records.
  TScrollerRenderer scroller(16, "hello", 1, TTextureAtlas{});
  for (int frame = 0; frame < 500; ++frame) {
    TRecordingSink sink = Frame(scroller);
    EXPECT_EQ(sink.Begins, 0);
    EXPECT_TRUE(sink.Quads.empty());
  }
  EXPECT_FALSE(TScrollerRenderer::Finished);
}

TEST_F(Scroller, AStepBeyondTheOffsetRangeIsARangeError) {
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  EXPECT_FATAL(NextOffset(0, huge), kExitRangeError, "Runtime error 201");
  EXPECT_FATAL(NextOffset(std::numeric_limits<std::int64_t>::min() + 5, 1), kExitRangeError, "Runtime error 201");
}

}  // namespace
