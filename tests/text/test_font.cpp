// Tests of the font atlas built from the embedded font (DejaVu Sans Bold at 180 points):
// its log lines and temporary file, every glyph record and cell against FreeType's own
// rendering, the empty space, the missing-glyph codes, the untouched rest of the atlas, the
// packed atlas of a GL that takes only 4096 x 4096 (bench/gllimit.cpp, compiled in, lowers
// the limit GL reports) and the fatal paths. Needs the headless harness (GL context); the
// tests share the temporary file's path, so they run one at a time.
#include <GL/gl.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/facts.hpp"
#include "bench/gllimit.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/files.hpp"
#include "tests/support/gl_context.hpp"
#include "text/atlas_layout.hpp"
#include "text/font.hpp"

namespace {

constexpr std::string_view kTemporaryName = kTemporaryFontName;

const std::vector<std::uint8_t>& FontBytes() {
  static const std::vector<std::uint8_t> bytes = ReadBytes(KELVO_FONT_FILE);
  return bytes;
}

TResourceEntry Entry(const std::vector<std::uint8_t>& bytes) {
  TResourceEntry entry;
  entry.Name = "FONT";
  entry.Bytes = bytes;
  return entry;
}

// Where the temporary font file must go: beside this test executable.
std::string TemporaryPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / kTemporaryName).string();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct TBuiltAtlas {
  TTextureAtlas Atlas;
  std::vector<std::string> Lines;
  double Seconds = 0;
};

// The atlas of the embedded font at 180 points, built once per process.
const TBuiltAtlas& EmbeddedAtlas() {
  static TBuiltAtlas built;
  static bool done = false;
  if (!done) {
    done = true;
    if (TestDisplay() == nullptr) return built;
    auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    built.Atlas = GenerateTextureAtlasBMP(Entry(FontBytes()), 180);
    built.Lines = SplitLines(testing::internal::GetCapturedStdout());
    built.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return built;
}

// FreeType's own rendering of the font, the way the atlas is meant to be made.
class TReferenceFace {
 public:
  TReferenceFace() {
    EXPECT_EQ(FT_Init_FreeType(&Library), 0);
    EXPECT_EQ(FT_New_Face(Library, KELVO_FONT_FILE, 0, &Face), 0);
    EXPECT_EQ(FT_Set_Char_Size(Face, 0, 180 * 64, 96, 96), 0);
  }
  ~TReferenceFace() { FT_Done_FreeType(Library); }
  std::int64_t LineHeight() const { return Face->size->metrics.height >> 6; }
  FT_GlyphSlot Load(unsigned code) {
    EXPECT_EQ(FT_Load_Char(Face, code, FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT), 0);
    return Face->glyph;
  }
  bool HasGlyph(unsigned code) const { return FT_Get_Char_Index(Face, code) != 0; }

 private:
  FT_Library Library = nullptr;
  FT_Face Face = nullptr;
};

// A glyph's cell in atlas pixels, from its record.
struct TCell {
  std::int64_t Column, Row, Width, Height;
};
TCell CellOf(const TTextureAtlas& atlas, unsigned code) {
  const TGlyphInfo& g = atlas.Glyphs[code];
  return {static_cast<std::int64_t>(g.TexLeft * atlas.Width), static_cast<std::int64_t>(g.TexTop * atlas.Height),
          g.Width, g.Height};
}

const std::uint8_t* PixelAt(const TTextureAtlas& atlas, std::int64_t x, std::int64_t y) {
  return atlas.Pixels.Data() + (y * atlas.Width + x) * 4;
}

#define REQUIRE_ATLAS(built)                                   \
  const TBuiltAtlas& built = EmbeddedAtlas();                  \
  ASSERT_NE(TestDisplay(), nullptr);                           \
  ASSERT_EQ(built.Atlas.Glyphs.Length(), 256u);                \
  ASSERT_EQ(built.Atlas.Pixels.Length(), 8192u * 8192u * 4u)

TEST(EmbeddedFontAtlas, LogsItsStepsAndLeavesNoTemporaryFile) {
  REQUIRE_ATLAS(built);
  std::printf("atlas built (rasterise, fill, upload) in %.3f s\n", built.Seconds);
  const std::string prefix = "[uFont] GenerateTextureAtlasBMP: ";
  const std::vector<std::string> expected = {
      prefix + "Generating Font Atlas",
      prefix + "Creating temporary font file: " + TemporaryPath(),
      prefix + "Atlas-Texture dimensions: 8192x8192",
      prefix + "Rendering Bitmap",
      "[uFont] GenerateGLColorTable: Generated 256 colors",
      prefix + "Creating GL Texture",
  };
  EXPECT_EQ(built.Lines, expected);
  EXPECT_EQ(TemporaryPath().find("//"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(TemporaryPath()));

  // The side: the smallest power of two holding 16 cell rows of L + 1 (L = 279: 4480).
  TReferenceFace face;
  const std::int64_t needed = 16 * (face.LineHeight() + 1);
  EXPECT_EQ(face.LineHeight(), 279);
  EXPECT_GE(built.Atlas.Width, needed);
  EXPECT_LT(built.Atlas.Width / 2, needed);
  EXPECT_EQ(built.Atlas.Height, built.Atlas.Width);
}

TEST(EmbeddedFontAtlas, EveryGlyphRecordMatchesItsCellAndFreeType) {
  REQUIRE_ATLAS(built);
  const TTextureAtlas& atlas = built.Atlas;
  const std::int64_t n = atlas.Width;
  TReferenceFace face;
  const std::int64_t cellRow = face.LineHeight() + 1;
  TCell previous{0, 0, -1, 0};  // as if a glyph of width -1 ended before column 0
  for (unsigned code = 0; code < 256; ++code) {
    SCOPED_TRACE("character code " + std::to_string(code));
    const TGlyphInfo& g = atlas.Glyphs[code];
    const FT_GlyphSlot slot = face.Load(code);
    EXPECT_EQ(g.Width, static_cast<std::int32_t>(slot->bitmap.width));
    EXPECT_EQ(g.Height, static_cast<std::int32_t>(slot->bitmap.rows));
    EXPECT_EQ(g.BearingX, slot->bitmap_left);
    EXPECT_EQ(g.BearingY, slot->bitmap_top);
    EXPECT_EQ(g.Advance, slot->advance.x >> 6);

    // The texture rectangle is a whole-pixel cell of exactly the bitmap's size.
    const TCell cell = CellOf(atlas, code);
    EXPECT_EQ(g.TexLeft * n, cell.Column);
    EXPECT_EQ(g.TexTop * n, cell.Row);
    EXPECT_EQ(g.TexRight * n, cell.Column + g.Width);
    EXPECT_EQ(g.TexBottom * n, cell.Row + g.Height);
    EXPECT_LT(cell.Column + g.Width, n);

    // The pen: one empty column after the previous glyph, unless this glyph would have
    // reached the right edge there; then column 0 of the next cell row.
    const std::int64_t next = previous.Column + previous.Width + 1;
    if (next + g.Width >= n) {
      EXPECT_EQ(cell.Column, 0);
      EXPECT_EQ(cell.Row, previous.Row + cellRow);
    } else {
      EXPECT_EQ(cell.Column, next);
      EXPECT_EQ(cell.Row, previous.Row);
    }
    previous = cell;

    // Pixels: FreeType's coverage through the colour table, top row first.
    for (std::int64_t y = 0; y < g.Height; ++y) {
      for (std::int64_t x = 0; x < g.Width; ++x) {
        const unsigned k = slot->bitmap.buffer[y * slot->bitmap.pitch + x];
        const std::uint8_t* p = PixelAt(atlas, cell.Column + x, cell.Row + y);
        if (p[0] != std::min(k, 180u) || p[1] != k || p[2] != k || p[3] != k) {
          ADD_FAILURE() << "pixel " << x << "," << y << " of the glyph is (" << +p[0] << "," << +p[1] << ","
                        << +p[2] << "," << +p[3] << "), coverage " << k;
          return;
        }
      }
    }
  }
  // The layout used more than one cell row (the wrap happened with real glyphs).
  EXPECT_GT(CellOf(atlas, 255).Row, 0);
  // The space: no area, an advance of its own, and still one column of the pen.
  const TGlyphInfo& space = atlas.Glyphs[' '];
  EXPECT_EQ(space.TexLeft, space.TexRight);
  EXPECT_EQ(space.TexTop, space.TexBottom);
  EXPECT_GT(space.Advance, 0);
  EXPECT_EQ(CellOf(atlas, '!').Column, CellOf(atlas, ' ').Column + 1);
}

TEST(EmbeddedFontAtlas, CodesWithoutAGlyphGetTheMissingShapeEachInItsOwnCell) {
  REQUIRE_ATLAS(built);
  const TTextureAtlas& atlas = built.Atlas;
  TReferenceFace face;
  std::vector<unsigned> missing;
  for (unsigned code = 0; code < 256; ++code) {
    if (!face.HasGlyph(code)) missing.push_back(code);
  }
  std::vector<unsigned> expected;
  for (unsigned code = 0; code <= 31; ++code) expected.push_back(code);
  for (unsigned code = 127; code <= 159; ++code) expected.push_back(code);
  ASSERT_EQ(missing, expected);

  const TGlyphInfo& shape = atlas.Glyphs[0];
  ASSERT_GT(shape.Width, 0);
  ASSERT_GT(shape.Height, 0);
  const TCell first = CellOf(atlas, 0);
  std::set<std::pair<std::int64_t, std::int64_t>> cells;
  for (unsigned code : missing) {
    SCOPED_TRACE("character code " + std::to_string(code));
    const TGlyphInfo& g = atlas.Glyphs[code];
    EXPECT_EQ(g.Width, shape.Width);
    EXPECT_EQ(g.Height, shape.Height);
    EXPECT_EQ(g.BearingX, shape.BearingX);
    EXPECT_EQ(g.BearingY, shape.BearingY);
    EXPECT_EQ(g.Advance, shape.Advance);
    const TCell cell = CellOf(atlas, code);
    EXPECT_TRUE(cells.insert({cell.Column, cell.Row}).second) << "shares its cell";
    for (std::int64_t y = 0; y < shape.Height; ++y) {
      ASSERT_EQ(std::memcmp(PixelAt(atlas, cell.Column, cell.Row + y), PixelAt(atlas, first.Column, first.Row + y),
                            static_cast<std::size_t>(shape.Width) * 4),
                0)
          << "row " << y << " differs from the shape of code 0";
    }
  }
}

// Everything outside the glyphs' cells is transparent black, and no two cells overlap.
void ExpectOnlyTheCellsLit(const TTextureAtlas& atlas) {
  const std::int64_t n = atlas.Width;
  std::vector<TCell> cells;
  for (unsigned code = 0; code < 256; ++code) cells.push_back(CellOf(atlas, code));
  std::int64_t glyphPixels = 0;
  for (std::int64_t y = 0; y < n; ++y) {
    // The column ranges of the cells that cover this row, left to right.
    std::vector<std::pair<std::int64_t, std::int64_t>> covered;
    for (const TCell& c : cells) {
      if (y >= c.Row && y < c.Row + c.Height) covered.push_back({c.Column, c.Column + c.Width});
    }
    std::sort(covered.begin(), covered.end());
    std::int64_t x = 0;
    auto expectZero = [&](std::int64_t from, std::int64_t to) {
      const std::uint8_t* p = PixelAt(atlas, from, y);
      const std::uint8_t* end = p + (to - from) * 4;
      const std::uint8_t* lit = std::find_if(p, end, [](std::uint8_t b) { return b != 0; });
      if (lit != end) {
        ADD_FAILURE() << "pixel " << from + (lit - p) / 4 << "," << y << " lies outside every cell but is not zero";
        return false;
      }
      return true;
    };
    for (auto [from, to] : covered) {
      ASSERT_LE(x, from) << "cells overlap in row " << y;
      if (!expectZero(x, from)) return;
      glyphPixels += to - from;
      x = to;
    }
    if (!expectZero(x, n)) return;
  }
  EXPECT_GT(glyphPixels, 0);
}

TEST(EmbeddedFontAtlas, EverythingOutsideTheCellsIsTransparentBlack) {
  REQUIRE_ATLAS(built);
  ExpectOnlyTheCellsLit(built.Atlas);
}

// From here on GL reports textures of at most `limit` pixels a side.
void LowerTheLimit(std::int32_t limit) {
  setenv(kGLMaxTextureSizeVariable, std::to_string(limit).c_str(), 1);
  GLint reported = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &reported);
  EXPECT_EQ(reported, limit) << "the GL limit is not compiled into this test";
}

// Builds the atlas while GL reports textures of at most `limit` pixels a side.
TBuiltAtlas AtlasUnderLimit(std::int32_t limit) {
  LowerTheLimit(limit);
  TBuiltAtlas built;
  testing::internal::CaptureStdout();
  built.Atlas = GenerateTextureAtlasBMP(Entry(FontBytes()), 180);
  built.Lines = SplitLines(testing::internal::GetCapturedStdout());
  unsetenv(kGLMaxTextureSizeVariable);
  return built;
}

TEST(PackedFontAtlas, AGLOf4096GetsTheSameGlyphsPackedWithOneWarning) {
  REQUIRE_ATLAS(full);
  const TBuiltAtlas packed = AtlasUnderLimit(4096);
  const TTextureAtlas& atlas = packed.Atlas;
  ASSERT_EQ(atlas.Glyphs.Length(), 256u);
  const std::int64_t n = atlas.Width;
  EXPECT_EQ(atlas.Height, n);
  ASSERT_EQ(atlas.Pixels.Length(), static_cast<std::size_t>(n * n * 4));
  const std::string prefix = "[uFont] GenerateTextureAtlasBMP: ";
  const std::string side = std::to_string(n) + " x " + std::to_string(n);
  const std::vector<std::string> expected = {
      prefix + "Generating Font Atlas",
      prefix + "Creating temporary font file: " + TemporaryPath(),
      "[uFont] WARNING: GL takes textures of at most 4096 x 4096 pixels, less than the font atlas's 8192 x 8192, "
      "so its glyphs are packed by their sizes into " + side,
      prefix + "Atlas-Texture dimensions: " + std::to_string(n) + "x" + std::to_string(n),
      prefix + "Rendering Bitmap",
      "[uFont] GenerateGLColorTable: Generated 256 colors",
      prefix + "Creating GL Texture",
  };
  EXPECT_EQ(packed.Lines, expected);
  EXPECT_FALSE(std::filesystem::exists(TemporaryPath()));
  // The texture GL holds has the packed side.
  GLint uploaded = 0;
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(atlas.TextureName));
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &uploaded);
  EXPECT_EQ(uploaded, n);

  // The smallest power of two the packing fills (a quarter of the memory of 8192).
  std::vector<TGlyphSize> sizes;
  for (unsigned code = 0; code < 256; ++code) sizes.push_back({atlas.Glyphs[code].Width, atlas.Glyphs[code].Height});
  EXPECT_EQ(n, 4096);
  EXPECT_FALSE(PackGlyphs(sizes, n / 2).has_value());

  // Every glyph: the full atlas's metrics and pixels, at a whole-pixel cell of its own.
  for (unsigned code = 0; code < 256; ++code) {
    SCOPED_TRACE("character code " + std::to_string(code));
    const TGlyphInfo& g = atlas.Glyphs[code];
    const TGlyphInfo& f = full.Atlas.Glyphs[code];
    EXPECT_EQ(g.Width, f.Width);
    EXPECT_EQ(g.Height, f.Height);
    EXPECT_EQ(g.BearingX, f.BearingX);
    EXPECT_EQ(g.BearingY, f.BearingY);
    EXPECT_EQ(g.Advance, f.Advance);
    const TCell cell = CellOf(atlas, code);
    const TCell fullCell = CellOf(full.Atlas, code);
    EXPECT_EQ(g.TexRight * n, cell.Column + g.Width);
    EXPECT_EQ(g.TexBottom * n, cell.Row + g.Height);
    ASSERT_LE(cell.Column + g.Width, n);
    ASSERT_LE(cell.Row + g.Height, n);
    for (std::int64_t y = 0; y < g.Height; ++y) {
      ASSERT_EQ(std::memcmp(PixelAt(atlas, cell.Column, cell.Row + y), PixelAt(full.Atlas, fullCell.Column, fullCell.Row + y),
                            static_cast<std::size_t>(g.Width) * 4),
                0)
          << "row " << y << " differs from the full atlas";
    }
  }
  ExpectOnlyTheCellsLit(atlas);
}

TEST(FontAtlasTemporaryFile, AnOlderFileIsOverwrittenFirstAndThenDeleted) {
  ASSERT_NE(TestDisplay(), nullptr);
  const std::string path = TemporaryPath();
  {
    // Larger than the font and no font at all: FreeType would refuse what is left of it.
    std::ofstream old(path, std::ios::binary);
    old << std::string(2 * FontBytes().size(), 'x');
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  const TTextureAtlas atlas = GenerateTextureAtlasBMP(Entry(FontBytes()), 180);
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_EQ(atlas.Glyphs.Length(), 256u);
  EXPECT_GT(atlas.Glyphs['A'].Width, 0);
}

TEST(FontAtlasFailures, AFontFreeTypeCannotOpenEndsWithOneLine) {
  const std::string path = TemporaryPath();
  const std::vector<std::uint8_t> garbage(4096, 0x5A);
  EXPECT_FATAL(GenerateTextureAtlasBMP(Entry(garbage), 180), kExitAssertion,
               "[uFont] ERROR: FT_New_Face on \"" + path + "\" failed: unknown file format (FreeType error 2)");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FontAtlasFailures, ACharacterSizeFreeTypeRefusesEndsWithOneLine) {
  EXPECT_FATAL(GenerateTextureAtlasBMP(Entry(FontBytes()), 100000), kExitAssertion,
               "[uFont] ERROR: FT_Set_Char_Size with 100000 points failed: invalid pixel size (FreeType error 23)");
  EXPECT_FALSE(std::filesystem::exists(TemporaryPath()));
}

TEST(FontAtlasFailures, ADirectoryInPlaceOfTheTemporaryFileEndsTheRun) {
  const std::string path = TemporaryPath();
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
  EXPECT_FATAL(GenerateTextureAtlasBMP(Entry(FontBytes()), 180), kExitAssertion,
               "[uFont] ERROR: cannot create the temporary file \"" + path +
                   "\": a directory of that name is in the way");
  EXPECT_EQ(rmdir(path.c_str()), 0);
}

TEST(FontAtlasFailures, AGLTooSmallEvenForThePackedAtlasEndsWithTheSides) {
  ASSERT_NE(TestDisplay(), nullptr);
  // The embedded font's glyphs need 4096 x 4096 packed (above); a GL of 2048 cannot hold them.
  TChildOutcome run = RunInChild([&] {
    LowerTheLimit(2048);
    GenerateTextureAtlasBMP(Entry(FontBytes()), 180);
  });
  std::vector<std::string> lines = SplitLines(run.Output);
  ASSERT_EQ(lines.size(), 3u) << run.Output;
  EXPECT_EQ(lines[2], "[uFont] ERROR: the font atlas needs a texture of 8192 x 8192 pixels, or 4096 x 4096 with "
                      "its glyphs packed, but GL allows at most 2048 x 2048");
  EXPECT_TRUE(run.Exited);
  EXPECT_EQ(run.Status, kExitAssertion);
  EXPECT_FALSE(std::filesystem::exists(TemporaryPath()));
}

}  // namespace
