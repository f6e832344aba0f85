// Tests of the font atlas arithmetic with crafted numbers: colour table, atlas side, the
// wrap rule of the cell pen, the glyph copy's bounds and the packing of glyphs by size for
// a GL with smaller textures. No GL context is needed.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/fatal_expect.hpp"
#include "text/atlas_layout.hpp"

namespace {

TEST(ColourTable, RedStopsAt180WhileGreenBlueAndAlphaFollowCoverage) {
  TUInt32DynArray table = GenerateGLColorTable();
  ASSERT_EQ(table.Length(), 256u);
  EXPECT_EQ(table[0], 0u);
  EXPECT_EQ(table[100], 0x64646464u);
  EXPECT_EQ(table[180], 0xB4B4B4B4u);
  EXPECT_EQ(table[181], 0xB4B5B5B5u);
  EXPECT_EQ(table[255], 0xB4FFFFFFu);
}

TEST(AtlasSide, IsTheSmallestPowerOfTwoHoldingSixteenCellRows) {
  EXPECT_EQ(AtlasSide(279), 8192);  // the embedded font at 180 points: S = 4480
  EXPECT_EQ(AtlasSide(255), 4096);  // S = 4096 exactly: N = S
  EXPECT_EQ(AtlasSide(256), 8192);
  EXPECT_FATAL(AtlasSide(std::int64_t{1} << 40), kExitRangeError, "Runtime error 201");
}

TEST(AtlasPen, WrapsBeforeAGlyphThatWouldReachTheRightEdge) {
  // A 32-pixel atlas with cell rows of 5 + 1 pixels.
  TAtlasPen pen;
  EXPECT_EQ(PlaceGlyph(pen, 10, 32, 5), (TAtlasPen{0, 0}));
  EXPECT_EQ(PlaceGlyph(pen, 0, 32, 5), (TAtlasPen{11, 0}));  // an empty bitmap takes one column
  EXPECT_EQ(PlaceGlyph(pen, 19, 32, 5), (TAtlasPen{12, 0}));  // ends at column 30: stays
  EXPECT_EQ(pen, (TAtlasPen{32, 0}));
  pen = {12, 0};
  EXPECT_EQ(PlaceGlyph(pen, 20, 32, 5), (TAtlasPen{0, 6}));  // would end exactly on the edge
  EXPECT_EQ(pen, (TAtlasPen{21, 6}));
}

TEST(GlyphCopy, ReadsThroughThePitchAndRefusesRectanglesOutsideTheAtlas) {
  TUInt32DynArray table = TUInt32DynArray::Zeroed(256);
  for (std::uint32_t k = 0; k < 256; ++k) table[k] = k << 24 | 0x010203u;
  const TColourBytes colours = ColourBytesOf(table);
  const std::uint8_t bitmap[6] = {10, 11, 99, 20, 21, 99};  // 2 x 2 with a pitch of 3
  std::vector<std::uint8_t> pixels(4 * 4 * 4);
  BlitGlyph(pixels, 4, {2, 2}, {bitmap, 2, 2, 3}, colours);  // the lower-right corner
  std::vector<std::uint8_t> reds;
  for (std::size_t i = 0; i < pixels.size(); i += 4) reds.push_back(pixels[i]);
  EXPECT_EQ(reds, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 11, 0, 0, 20, 21}));
  EXPECT_EQ(pixels[4 * 15 + 3], 3);

  EXPECT_FATAL(BlitGlyph(pixels, 4, {3, 0}, {bitmap, 2, 2, 3}, colours), kExitRangeError, "Runtime error 201");
  EXPECT_FATAL(BlitGlyph(pixels, 4, {0, 3}, {bitmap, 2, 2, 3}, colours), kExitRangeError, "Runtime error 201");
  std::vector<std::uint8_t> tooShort(pixels.size() - 1);
  EXPECT_FATAL(BlitGlyph(tooShort, 4, {0, 0}, {bitmap, 1, 1, 1}, colours), kExitRangeError, "Runtime error 201");
}

// Every cell inside the square, and no two glyphs closer than one empty column or row:
// each glyph's rectangle grown by one column and one row overlaps no other's.
void ExpectInsideAndApart(const std::vector<TGlyphSize>& sizes, const std::vector<TAtlasPen>& cells,
                          std::int64_t side) {
  ASSERT_EQ(cells.size(), sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_GE(cells[i].Column, 0);
    EXPECT_GE(cells[i].Row, 0);
    EXPECT_LE(cells[i].Column + sizes[i].Width, side) << "glyph " << i;
    EXPECT_LE(cells[i].Row + sizes[i].Rows, side) << "glyph " << i;
    if (sizes[i].Width == 0 || sizes[i].Rows == 0) continue;
    for (std::size_t j = 0; j < i; ++j) {
      if (sizes[j].Width == 0 || sizes[j].Rows == 0) continue;
      const bool apartX = cells[i].Column >= cells[j].Column + sizes[j].Width + 1 ||
                          cells[j].Column >= cells[i].Column + sizes[i].Width + 1;
      const bool apartY =
          cells[i].Row >= cells[j].Row + sizes[j].Rows + 1 || cells[j].Row >= cells[i].Row + sizes[i].Rows + 1;
      EXPECT_TRUE(apartX || apartY) << "glyphs " << j << " and " << i << " touch or overlap";
    }
  }
}

TEST(PackedAtlas, EveryGlyphInsideApartFromTheOthersInTheSmallestSide) {
  // 256 glyph sizes like a font's: mostly tall, some wide, some empty (the space).
  std::vector<TGlyphSize> sizes;
  std::uint32_t seed = 12345;
  auto next = [&](std::uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::int64_t>((seed >> 16) % range);
  };
  for (int i = 0; i < 256; ++i) {
    if (i % 37 == 5) {
      sizes.push_back({0, 0});
    } else {
      sizes.push_back({10 + next(170), 20 + next(230)});
    }
  }
  const TPackedAtlas packed = PackAtlas(sizes);
  ASSERT_GT(packed.Side, 0);
  EXPECT_EQ(packed.Side & (packed.Side - 1), 0) << "not a power of two";
  ExpectInsideAndApart(sizes, packed.Cells, packed.Side);
  EXPECT_FALSE(PackGlyphs(sizes, packed.Side / 2).has_value()) << "half the side holds them too";

  // Small cases at the edges: a glyph may end on the square's edges, two need a gap.
  EXPECT_EQ(PackAtlas(std::vector<TGlyphSize>{{8, 8}}).Side, 8);
  EXPECT_EQ(PackAtlas(std::vector<TGlyphSize>{{4, 4}, {4, 4}}).Side, 16);
  EXPECT_EQ(PackAtlas(std::vector<TGlyphSize>{{3, 8}, {4, 2}}).Side, 8);
  // The tallest first, then equal heights in the order given; a row that is full wraps one
  // empty row under its tallest glyph; an empty bitmap still takes its column.
  const std::vector<TGlyphSize> rows = {{3, 2}, {3, 3}, {4, 2}, {0, 0}};
  EXPECT_EQ(PackGlyphs(rows, 8), (std::vector<TAtlasPen>{{4, 0}, {0, 0}, {0, 4}, {5, 4}}));
  EXPECT_FALSE(PackGlyphs(rows, 4).has_value());
  EXPECT_FATAL(PackGlyphs(std::vector<TGlyphSize>{{-1, 2}}, 8), kExitRangeError, "Runtime error 201");
}

TEST(PackedAtlas, KeptGlyphsAndTheLinesAboutTheSide) {
  const std::uint8_t bitmap[6] = {1, 2, 99, 3, 4, 99};  // 2 x 2 with a pitch of 3
  const TKeptGlyph kept = KeepGlyph({bitmap, 2, 2, 3}, -3, 17, 640);
  EXPECT_EQ(kept.Coverage, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(kept.Bitmap().Pitch, 2);
  EXPECT_EQ(kept.BearingX, -3);
  EXPECT_EQ(kept.Advance, 640);
  EXPECT_TRUE(KeepGlyph({nullptr, 0, 0, 0}, 0, 0, 1000).Coverage.empty());

  EXPECT_EQ(PackedAtlasWarning(8192, 4096, 4096),
            "GL takes textures of at most 4096 x 4096 pixels, less than the font atlas's 8192 x 8192, so its "
            "glyphs are packed by their sizes into 4096 x 4096");
  EXPECT_EQ(PackedSideProblem(8192, 4096, 4096), "");
  EXPECT_EQ(PackedSideProblem(8192, 4096, 2048),
            "the font atlas needs a texture of 8192 x 8192 pixels, or 4096 x 4096 with its glyphs packed, but GL "
            "allows at most 2048 x 2048");
}

}  // namespace
