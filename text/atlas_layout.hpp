// uFont's arithmetic, kept apart from FreeType and GL so it can be checked with crafted
// numbers: the coverage-to-colour mapping, the atlas side from the line height, the pen
// that places glyph cells row by row, the glyph record of a cell, the copy of one
// coverage bitmap into the RGBA pixels, and the packing of glyphs by their real sizes into
// a smaller square for a GL whose textures cannot have the full side.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/dynarray.hpp"
#include "text/font.hpp"

// The colour of a glyph pixel of coverage k, packed R G B A from the most significant byte:
// red follows the coverage up to 180, green, blue and alpha follow it all the way.
constexpr std::uint32_t ColourOfCoverage(std::uint8_t k) {
  std::uint32_t red = k < 180 ? k : 180;
  return (red << 24) | (std::uint32_t{k} << 16) | (std::uint32_t{k} << 8) | k;
}

// The smallest power of two that holds 16 cell rows of lineHeight + 1 pixels. A side that
// would not fit a signed 32-bit number is a range error.
std::int32_t AtlasSide(std::int64_t lineHeight);

// Where the next glyph cell goes: atlas column and row of its top-left pixel.
struct TAtlasPen {
  std::int64_t Column = 0;
  std::int64_t Row = 0;
  bool operator==(const TAtlasPen&) const = default;
};

// Places a glyph bitmap of the given width: when it would reach the right edge (or end
// exactly on it) the pen first moves to column 0 of the next cell row, lineHeight + 1 rows
// down. Returns the cell's position and leaves the pen one empty column past the glyph.
TAtlasPen PlaceGlyph(TAtlasPen& pen, std::int64_t width, std::int64_t side, std::int64_t lineHeight);

// The glyph record of a bitmap placed at cell in an atlas of the given side; advance is in
// 26.6 fixed point.
TGlyphInfo MakeGlyphRecord(TAtlasPen cell, std::int64_t width, std::int64_t rows, std::int64_t bearingX,
                           std::int64_t bearingY, std::int64_t advance, std::int64_t side);

// The colour table as the four bytes R, G, B, A of each entry in memory order, ready to be
// copied into the pixels; the table must have 256 entries.
using TColourBytes = std::array<std::array<std::uint8_t, 4>, 256>;
TColourBytes ColourBytesOf(const TUInt32DynArray& table);

// An 8-bit coverage bitmap as FreeType hands it out: rows of width bytes, pitch bytes apart,
// top row first.
struct TCoverageBitmap {
  const std::uint8_t* Buffer = nullptr;
  std::int64_t Width = 0;
  std::int64_t Rows = 0;
  std::int64_t Pitch = 0;
};

// Writes the colours of the bitmap's pixels into the RGBA atlas pixels (side x side) with
// the bitmap's top row at the cell's row. The whole rectangle is checked against the atlas
// first (a range error if it does not fit); an empty bitmap writes nothing.
void BlitGlyph(std::span<std::uint8_t> pixels, std::int64_t side, TAtlasPen cell, const TCoverageBitmap& bitmap,
               const TColourBytes& colours);

// A glyph bitmap's size in pixels.
struct TGlyphSize {
  std::int64_t Width = 0;
  std::int64_t Rows = 0;
};

// Places glyphs of the given sizes in a square of the given side, in rows: tallest first
// (equal heights in the order given), left to right, one empty column after each glyph
// and one empty row under each row of glyphs, whose height is its first glyph's; a glyph
// may end on the square's right or bottom edge. Returns each glyph's cell, in the order of
// sizes, or nothing when they do not all fit.
std::optional<std::vector<TAtlasPen>> PackGlyphs(std::span<const TGlyphSize> sizes, std::int64_t side);

// The smallest power-of-two side into which PackGlyphs fits the glyphs, and their cells
// there. A range error when no side below 2^30 does.
struct TPackedAtlas {
  std::int32_t Side = 0;
  std::vector<TAtlasPen> Cells;
};
TPackedAtlas PackAtlas(std::span<const TGlyphSize> sizes);

// A glyph rendered before its place is known: its coverage rows (Width bytes each, top row
// first) and its metrics as FreeType gives them (advance in 26.6 fixed point).
struct TKeptGlyph {
  std::vector<std::uint8_t> Coverage;
  std::int64_t Width = 0;
  std::int64_t Rows = 0;
  std::int64_t BearingX = 0;
  std::int64_t BearingY = 0;
  std::int64_t Advance = 0;
  TCoverageBitmap Bitmap() const { return {Coverage.data(), Width, Rows, Width}; }
};
TKeptGlyph KeepGlyph(const TCoverageBitmap& bitmap, std::int64_t bearingX, std::int64_t bearingY,
                     std::int64_t advance);

// The warning (the text after "WARNING: ") when the glyphs are packed into packedSide
// because GL's largest texture is smaller than the full side.
std::string PackedAtlasWarning(std::int32_t fullSide, std::int32_t maxTextureSize, std::int32_t packedSide);

// Why GL cannot hold even the packed atlas (the text after "ERROR: "), or an empty text
// when it can.
std::string PackedSideProblem(std::int32_t fullSide, std::int32_t packedSide, std::int32_t maxTextureSize);
