// The picture header checks: every rejected shape with its exact line and status.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/bmp.hpp"

namespace {

// A BMP of the demo's layout: 32 bits per pixel, info header of infoSize bytes.
std::vector<std::uint8_t> Picture(std::uint32_t width, std::int32_t height, std::uint32_t infoSize = 124,
                                  std::uint16_t bits = 32) {
  std::uint32_t offset = 14 + infoSize;
  std::vector<std::uint8_t> bytes(offset + std::size_t{width} * static_cast<std::uint32_t>(std::abs(height)) * 4, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
  auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(bytes.data() + at, &v, 2); };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, offset);
  put32(14, infoSize);
  put32(18, width);
  put32(22, static_cast<std::uint32_t>(height));
  put16(26, 1);
  put16(28, bits);
  return bytes;
}

TBmpHeader Check(const std::vector<std::uint8_t>& bytes, std::int32_t maxTextureSize = 8192) {
  TResourceStream stream(bytes);
  return ReadBmpHeader(stream, maxTextureSize);
}

TEST(BmpHeader, ReadsTheDemosTwoLayoutsAlike) {
  auto large = Check(Picture(1600, 900, 124));
  ASSERT_TRUE(large.Ok()) << large.Error;
  EXPECT_EQ(large.PixelOffset, 138u);
  EXPECT_EQ(large.Width, 1600u);
  EXPECT_EQ(large.Height, 900u);
  EXPECT_EQ(large.PixelBytes, 5760000u);
  auto small = Check(Picture(934, 762, 56));
  ASSERT_TRUE(small.Ok()) << small.Error;
  EXPECT_EQ(small.PixelOffset, 70u);
  EXPECT_EQ(small.PixelBytes, 934u * 762u * 4u);
  EXPECT_EQ(small.BitsPerPixel, 32);
}

TEST(BmpHeader, ShortHeadersReportWhatArrived) {
  auto picture = Picture(4, 4);
  for (std::size_t length : {0u, 1u, 13u}) {
    auto header = Check({picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(length)});
    EXPECT_FALSE(header.Ok());
    EXPECT_EQ(header.Status, 1);
    EXPECT_EQ(header.Error, "LoadTexture: ERROR: BMP Header Length mismatch! expected 14 bytes, got " +
                                std::to_string(length));
  }
  for (std::size_t length : {14u, 20u, 29u}) {
    auto header = Check({picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(length)});
    EXPECT_EQ(header.Status, 1);
    EXPECT_EQ(header.Error, "LoadTexture: ERROR: BMP Header Length mismatch! expected 16 bytes, got " +
                                std::to_string(length - 14));
  }
}

TEST(BmpHeader, AnySignatureButBMIsRejectedEvenOnAValidPicture) {
  auto picture = Picture(4, 4);
  picture[0] = 'M';
  picture[1] = 'B';
  auto header = Check(picture);
  EXPECT_EQ(header.Status, 1);
  EXPECT_EQ(header.Error, "[uBMP] LoadTexture: ERROR: BMP Header does not contain a valid header-field!");
}

TEST(BmpHeader, RejectsShapesTheUploadCannotTake) {
  auto depth = Check(Picture(4, 4, 124, 24));
  EXPECT_EQ(depth.Status, 1);
  EXPECT_EQ(depth.Error, "[uBMP] LoadTexture: ERROR: 24 bits per pixel are not supported (only 32)");
  auto topDown = Check(Picture(4, -4));
  EXPECT_EQ(topDown.Status, 1);
  EXPECT_EQ(topDown.Error, "[uBMP] LoadTexture: ERROR: top-down pictures (negative height) are not supported");
  auto core = Check(Picture(4, 4, 12));
  EXPECT_EQ(core.Status, 1);
  EXPECT_EQ(core.Error, "[uBMP] LoadTexture: ERROR: info header of 12 bytes is too short (at least 40 expected)");
  auto wide = Check(Picture(8193, 1));
  EXPECT_EQ(wide.Status, 1);
  EXPECT_EQ(wide.Error, "[uBMP] LoadTexture: ERROR: picture of 8193x1 pixels is too large (largest side 8192)");
  // 65536 x 65536 x 4 bytes overflow 32 bits even where GL would take the sides.
  auto huge = Check(Picture(1, 1), 1 << 20);
  ASSERT_TRUE(huge.Ok());
  auto overflow = Picture(1, 1);
  std::uint32_t side = 65536;
  std::memcpy(overflow.data() + 18, &side, 4);
  std::memcpy(overflow.data() + 22, &side, 4);
  auto tooMany = Check(overflow, 1 << 20);
  EXPECT_FALSE(tooMany.Ok());
  EXPECT_EQ(tooMany.Status, 1);
}

TEST(BmpHeader, IgnoresCompressionMasksAndFileSize) {
  auto picture = Picture(2, 2);
  std::uint32_t junk = 0xDEADBEEF;
  std::memcpy(picture.data() + 2, &junk, 4);   // file size
  std::memcpy(picture.data() + 30, &junk, 4);  // compression
  std::memcpy(picture.data() + 54, &junk, 4);  // a colour mask
  EXPECT_TRUE(Check(picture).Ok());
}

}  // namespace
