// The libraries the Windows program links, as scripts/windows-deps builds them from Debian's
// sources: linked statically into a Windows program and run under Wine, FreeType renders a
// glyph of the demo's font, zstd and LZ4 give back what they packed, and each reports the
// version scripts/windows/sources.txt fixes (so no other copy was linked). The versions are
// printed for the log.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <lz4.h>
#include <zstd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Bytes that compress but are no single repeated pattern: a counter mixed with text.
std::vector<char> SampleBytes() {
  std::vector<char> bytes;
  const std::string text = "tessic by ombrel, the harbour at dusk; ";
  for (int i = 0; i < 40000; ++i) bytes.push_back(static_cast<char>(i % 7 == 0 ? i * 31 : text[i % text.size()]));
  return bytes;
}

}  // namespace

TEST(WindowsLibraries, FreeTypeRendersAGlyphOfTheDemosFont) {
  FT_Library library = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  FT_Int major = 0, minor = 0, patch = 0;
  FT_Library_Version(library, &major, &minor, &patch);
  const std::string version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  std::printf("FreeType %s\n", version.c_str());
  EXPECT_EQ(version, KELVO_FREETYPE_VERSION);

  std::ifstream file(KELVO_TEST_FONT, std::ios::binary);
  ASSERT_TRUE(file) << KELVO_TEST_FONT;
  const std::vector<unsigned char> font((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  FT_Face face = nullptr;
  ASSERT_EQ(FT_New_Memory_Face(library, font.data(), static_cast<FT_Long>(font.size()), 0, &face), 0);
  ASSERT_EQ(FT_Set_Char_Size(face, 0, 48 * 64, 72, 72), 0);
  ASSERT_EQ(FT_Load_Char(face, 'K', FT_LOAD_RENDER), 0);
  const FT_Bitmap& bitmap = face->glyph->bitmap;
  EXPECT_GT(bitmap.rows, 20u);
  EXPECT_GT(bitmap.width, 20u);
  int inked = 0;
  for (unsigned row = 0; row < bitmap.rows; ++row)
    for (unsigned column = 0; column < bitmap.width; ++column)
      inked += bitmap.buffer[row * bitmap.pitch + column] > 128;
  EXPECT_GT(inked, 100);
  // Bytes that are no font are refused, not read past.
  const unsigned char junk[256] = {0, 1, 0, 0};
  FT_Face none = nullptr;
  EXPECT_NE(FT_New_Memory_Face(library, junk, sizeof junk, 0, &none), 0);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

TEST(WindowsLibraries, ZstdAndLz4GiveBackWhatTheyPacked) {
  std::printf("zstd %s, LZ4 %s\n", ZSTD_versionString(), LZ4_versionString());
  EXPECT_STREQ(ZSTD_versionString(), KELVO_ZSTD_VERSION);
  EXPECT_STREQ(LZ4_versionString(), KELVO_LZ4_VERSION);
  const std::vector<char> input = SampleBytes();

  std::vector<char> packed(ZSTD_compressBound(input.size()));
  const size_t packedSize = ZSTD_compress(packed.data(), packed.size(), input.data(), input.size(), 19);
  ASSERT_FALSE(ZSTD_isError(packedSize)) << ZSTD_getErrorName(packedSize);
  EXPECT_LT(packedSize, input.size() / 4);
  std::vector<char> output(input.size());
  const size_t size = ZSTD_decompress(output.data(), output.size(), packed.data(), packedSize);
  ASSERT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
  EXPECT_EQ(output, input);
  // A cut frame is reported, not decoded as far as it goes.
  EXPECT_TRUE(ZSTD_isError(ZSTD_decompress(output.data(), output.size(), packed.data(), packedSize - 1)));

  std::vector<char> lz(LZ4_compressBound(static_cast<int>(input.size())));
  const int lzSize = LZ4_compress_default(input.data(), lz.data(), static_cast<int>(input.size()),
                                          static_cast<int>(lz.size()));
  ASSERT_GT(lzSize, 0);
  std::vector<char> lzOutput(input.size());
  EXPECT_EQ(LZ4_decompress_safe(lz.data(), lzOutput.data(), lzSize, static_cast<int>(lzOutput.size())),
            static_cast<int>(input.size()));
  EXPECT_EQ(lzOutput, input);
  // Too small a destination is refused rather than overrun.
  EXPECT_LT(LZ4_decompress_safe(lz.data(), lzOutput.data(), lzSize, static_cast<int>(input.size() / 2)), 0);
}
