// Tests of the font atlas arithmetic with crafted numbers: colour table, atlas side, the
// wrap rule of the cell pen and the glyph copy's bounds. No GL context is needed.
#include <gtest/gtest.h>

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

}  // namespace
