// uFont: the glyph atlas of the embedded font. The font goes to a temporary file beside the
// executable (FreeType reads it through this process's open handle of it), the 256 glyphs of the codes 0 to 255 are
// rendered with the light auto-hinter into a zeroed RGBA buffer cell by cell, the file is
// deleted again and the buffer is uploaded as one GL texture. Where GL's textures cannot
// have the atlas's full side, the glyphs are rendered first and packed by their real sizes
// into the smallest square that holds them (the same pixels and metrics, other places),
// with one warning. Any FreeType failure, and a GL whose textures are too small even for
// that, end the demo with one line (status 217) after the temporary file has been removed.
#include "text/font.hpp"

#include <GL/gl.h>
#include <GL/glext.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <string>
#include <string_view>
#include <vector>

#include "base/facts.hpp"
#include "base/loglines.hpp"
#include "store/tempfile.hpp"
#include "text/atlas_layout.hpp"

namespace {

constexpr std::string_view kLog = "[uFont] GenerateTextureAtlasBMP: ";
constexpr FT_Int32 kLoadFlags = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT;
static_assert(kLoadFlags == 0x10024);
constexpr FT_UInt kDotsPerInch = 96;

// FreeType's own words for its error codes, read from its error list.
struct TFreeTypeError {
  int Code;
  const char* Text;
};
#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {v, s},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST };
const TFreeTypeError kFreeTypeErrors[] =
#include FT_ERRORS_H

std::string FreeTypeErrorText(FT_Error error) {
  for (const TFreeTypeError& known : kFreeTypeErrors) {
    if (known.Code == error) return std::string(known.Text) + " (FreeType error " + std::to_string(error) + ")";
  }
  return "FreeType error " + std::to_string(error);
}

// Removes the temporary font file, then ends the demo with the error line.
[[noreturn]] void FontFailure(TTemporaryFile& fontFile, const std::string& what) {
  fontFile.Remove();
  FatalLine("[uFont] ERROR: " + what, kExitAssertion);
}

void RequireFreeType(FT_Error error, TTemporaryFile& fontFile, const std::string& step) {
  if (error != 0) FontFailure(fontFile, step + " failed: " + FreeTypeErrorText(error));
}

// FreeType's reads of the temporary font file, through the open handle.
unsigned long ReadFontFile(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count) {
  const auto* file = static_cast<const TTemporaryFile*>(stream->descriptor.pointer);
  // A seek alone (count 0) succeeds within the file.
  if (count == 0) return offset <= stream->size ? 0 : 1;
  return static_cast<unsigned long>(file->ReadAt(offset, buffer, count));
}

// An atlas of the given side, said in the dimensions line, with zeroed pixels and 256 empty
// glyph records; then the colours its glyphs are drawn in (the "Rendering Bitmap" line and
// the colour table's).
TTextureAtlas EmptyAtlas(std::int32_t side, TColourBytes& colours) {
  TTextureAtlas atlas;
  atlas.Width = side;
  atlas.Height = side;
  WriteLine(std::string(kLog) + "Atlas-Texture dimensions: " + std::to_string(side) + "x" + std::to_string(side));
  // Fresh zero pages from the allocator: everything outside the glyphs stays transparent
  // black without a clearing pass.
  const auto sideBytes = static_cast<std::size_t>(side);
  atlas.Pixels = TUInt8DynArray::Zeroed(sideBytes * sideBytes * 4);
  atlas.Glyphs = TGlyphInfoDynArray::Make(256);
  WriteLine(std::string(kLog) + "Rendering Bitmap");
  colours = ColourBytesOf(GenerateGLColorTable());
  return atlas;
}

// The face's line height in whole pixels.
std::int64_t LineHeight(FT_Face face) { return static_cast<std::int64_t>(face->size->metrics.height) >> 6; }

// The slot's bitmap as coverage bytes; anything but an 8-bit grey bitmap read top row
// first is refused, since it could not be read byte by byte within its buffer.
TCoverageBitmap CoverageOf(const FT_GlyphSlot slot, unsigned code, TTemporaryFile& fontFile) {
  const FT_Bitmap& bitmap = slot->bitmap;
  TCoverageBitmap coverage{bitmap.buffer, bitmap.width, bitmap.rows, bitmap.pitch};
  if (coverage.Width == 0 || coverage.Rows == 0) return coverage;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || coverage.Pitch < coverage.Width || bitmap.buffer == nullptr) {
    FontFailure(fontFile, "FT_Load_Char gave character code " + std::to_string(code) +
                              " a bitmap that is not 8-bit coverage (pixel mode " +
                              std::to_string(bitmap.pixel_mode) + ", pitch " + std::to_string(bitmap.pitch) + ")");
  }
  return coverage;
}

GLuint UploadAtlas(const TUInt8DynArray& pixels, std::int32_t side) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, side, side, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.Data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  return name;
}

// The atlas for a GL whose largest texture is below the full side: every glyph is rendered
// and kept first, then packed by its size into the smallest square that holds them all.
TTextureAtlas PackedTextureAtlas(FT_Library library, FT_Face face, TTemporaryFile& fontFile, std::int32_t fullSide,
                                 std::int32_t maxTextureSize);

}  // namespace

TUInt32DynArray GenerateGLColorTable() {
  TUInt32DynArray table = TUInt32DynArray::Uninitialized(256);
  for (unsigned k = 0; k < 256; ++k) table[k] = ColourOfCoverage(static_cast<std::uint8_t>(k));
  WriteLine("[uFont] GenerateGLColorTable: Generated " + std::to_string(256) + " colors");
  return table;
}

TTextureAtlas GenerateTextureAtlasBMP(const TResourceEntry& resource, std::int32_t size) {
  WriteLine(std::string(kLog) + "Generating Font Atlas");
  TTemporaryFile fontFile = TTemporaryFile::Create(kTemporaryFontName, "uFont");
  WriteLine(std::string(kFontTempFilePrefix) + fontFile.Path());
  fontFile.WriteEntry(resource);

  FT_Library library = nullptr;
  FT_Face face = nullptr;
  RequireFreeType(FT_Init_FreeType(&library), fontFile, "FT_Init_FreeType");
  // FreeType reads the very file written above, whatever its name leads to by now: by the
  // name the system gives the open file, or through its handle where there is none.
  FT_StreamRec stream{};
  FT_Open_Args openArgs{};
  const std::string libraryPath = fontFile.File().LibraryPath();
  if (!libraryPath.empty()) {
    openArgs.flags = FT_OPEN_PATHNAME;
    openArgs.pathname = const_cast<char*>(libraryPath.c_str());
  } else {
    stream.size = Narrow<unsigned long>(fontFile.Size());
    stream.descriptor.pointer = &fontFile;
    stream.read = ReadFontFile;
    openArgs.flags = FT_OPEN_STREAM;
    openArgs.stream = &stream;
  }
  RequireFreeType(FT_Open_Face(library, &openArgs, 0, &face), fontFile,
                  "FT_New_Face on \"" + fontFile.Path() + "\"");
  RequireFreeType(FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(size) * 64, kDotsPerInch, kDotsPerInch),
                  fontFile, "FT_Set_Char_Size with " + std::to_string(size) + " points");

  TTextureAtlas atlas;
  const std::int32_t side = AtlasSide(LineHeight(face));
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  if (maxTextureSize < side) return PackedTextureAtlas(library, face, fontFile, side, maxTextureSize);
  TColourBytes colours;
  atlas = EmptyAtlas(side, colours);
  TAtlasPen pen;
  for (unsigned code = 0; code < 256; ++code) {
    RequireFreeType(FT_Load_Char(face, code, kLoadFlags), fontFile,
                    "FT_Load_Char for character code " + std::to_string(code));
    const FT_GlyphSlot slot = face->glyph;
    const TCoverageBitmap bitmap = CoverageOf(slot, code, fontFile);
    const TAtlasPen cell = PlaceGlyph(pen, bitmap.Width, side, LineHeight(face));
    BlitGlyph(atlas.Pixels.Span(), side, cell, bitmap, colours);
    atlas.Glyphs[code] =
        MakeGlyphRecord(cell, bitmap.Width, bitmap.Rows, slot->bitmap_left, slot->bitmap_top, slot->advance.x, side);
  }
  FT_Done_FreeType(library);
  fontFile.Remove();

  WriteLine(std::string(kLog) + "Creating GL Texture");
  atlas.TextureName = Narrow<std::int32_t>(UploadAtlas(atlas.Pixels, side));
  return atlas;
}

namespace {

TTextureAtlas PackedTextureAtlas(FT_Library library, FT_Face face, TTemporaryFile& fontFile, std::int32_t fullSide,
                                 std::int32_t maxTextureSize) {
  std::vector<TKeptGlyph> glyphs;
  std::vector<TGlyphSize> sizes;
  for (unsigned code = 0; code < 256; ++code) {
    RequireFreeType(FT_Load_Char(face, code, kLoadFlags), fontFile,
                    "FT_Load_Char for character code " + std::to_string(code));
    const FT_GlyphSlot slot = face->glyph;
    glyphs.push_back(KeepGlyph(CoverageOf(slot, code, fontFile), slot->bitmap_left, slot->bitmap_top, slot->advance.x));
    sizes.push_back({glyphs.back().Width, glyphs.back().Rows});
  }
  FT_Done_FreeType(library);
  fontFile.Remove();
  const TPackedAtlas packed = PackAtlas(sizes);
  if (std::string problem = PackedSideProblem(fullSide, packed.Side, maxTextureSize); !problem.empty()) {
    FatalLine("[uFont] ERROR: " + problem, kExitAssertion);
  }
  WriteLine("[uFont] WARNING: " + PackedAtlasWarning(fullSide, maxTextureSize, packed.Side));

  const std::int32_t side = packed.Side;
  TColourBytes colours;
  TTextureAtlas atlas = EmptyAtlas(side, colours);
  for (std::size_t code = 0; code < glyphs.size(); ++code) {  // PackAtlas gives one cell per glyph
    const TKeptGlyph& glyph = glyphs[code];
    const TAtlasPen cell = packed.Cells[code];
    BlitGlyph(atlas.Pixels.Span(), side, cell, glyph.Bitmap(), colours);
    atlas.Glyphs[code] =
        MakeGlyphRecord(cell, glyph.Width, glyph.Rows, glyph.BearingX, glyph.BearingY, glyph.Advance, side);
  }
  WriteLine(std::string(kLog) + "Creating GL Texture");
  atlas.TextureName = Narrow<std::int32_t>(UploadAtlas(atlas.Pixels, side));
  return atlas;
}

}  // namespace
