// uFont's arithmetic: atlas side, cell placement, glyph records, the glyph copy and the
// packing of glyphs by size.
#include "text/atlas_layout.hpp"

#include <algorithm>
#include <cstring>
#include <numeric>

std::int32_t AtlasSide(std::int64_t lineHeight) {
  if (lineHeight < 0 || lineHeight > INT32_MAX / 16) RangeError();
  const std::int64_t needed = 16 * (lineHeight + 1);
  std::int64_t side = 1;
  while (needed > side) side *= 2;
  return Narrow<std::int32_t>(side);
}

TAtlasPen PlaceGlyph(TAtlasPen& pen, std::int64_t width, std::int64_t side, std::int64_t lineHeight) {
  if (pen.Column + width >= side) {
    pen.Column = 0;
    pen.Row += lineHeight + 1;
  }
  const TAtlasPen cell = pen;
  pen.Column += width + 1;
  return cell;
}

TGlyphInfo MakeGlyphRecord(TAtlasPen cell, std::int64_t width, std::int64_t rows, std::int64_t bearingX,
                           std::int64_t bearingY, std::int64_t advance, std::int64_t side) {
  const double n = static_cast<double>(side);
  TGlyphInfo glyph;
  glyph.TexLeft = static_cast<double>(cell.Column) / n;
  glyph.TexTop = static_cast<double>(cell.Row) / n;
  glyph.TexRight = static_cast<double>(cell.Column + width) / n;
  glyph.TexBottom = static_cast<double>(cell.Row + rows) / n;
  glyph.Width = Narrow<std::int32_t>(width);
  glyph.Height = Narrow<std::int32_t>(rows);
  glyph.BearingX = Narrow<std::int32_t>(bearingX);
  glyph.BearingY = Narrow<std::int32_t>(bearingY);
  glyph.Advance = Narrow<std::int32_t>(advance >> 6);
  return glyph;
}

TColourBytes ColourBytesOf(const TUInt32DynArray& table) {
  TColourBytes bytes{};
  CheckIndex(255, table.Length());
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    const std::uint32_t colour = table[k];
    bytes[k] = {static_cast<std::uint8_t>(colour >> 24), static_cast<std::uint8_t>(colour >> 16),
                static_cast<std::uint8_t>(colour >> 8), static_cast<std::uint8_t>(colour)};
  }
  return bytes;
}

void BlitGlyph(std::span<std::uint8_t> pixels, std::int64_t side, TAtlasPen cell, const TCoverageBitmap& bitmap,
               const TColourBytes& colours) {
  if (bitmap.Width <= 0 || bitmap.Rows <= 0) return;
  // The rectangle is checked once; the loops below then stay inside it.
  if (side <= 0 || cell.Column < 0 || cell.Row < 0 || bitmap.Pitch < bitmap.Width) RangeError();
  if (cell.Column + bitmap.Width > side) RangeError();
  if (cell.Row + bitmap.Rows > side || static_cast<std::uint64_t>(side) * static_cast<std::uint64_t>(side) * 4 > pixels.size()) {
    RangeError();
  }
  const auto width = static_cast<std::size_t>(bitmap.Width);
  const auto rowBytes = static_cast<std::size_t>(side) * 4;
  std::uint8_t* target = pixels.data() + static_cast<std::size_t>(cell.Row) * rowBytes +
                         static_cast<std::size_t>(cell.Column) * 4;
  const std::uint8_t* source = bitmap.Buffer;
  for (std::int64_t y = 0; y < bitmap.Rows; ++y) {
    for (std::size_t x = 0; x < width; ++x) std::memcpy(target + x * 4, colours[source[x]].data(), 4);
    target += rowBytes;
    source += bitmap.Pitch;
  }
}

std::optional<std::vector<TAtlasPen>> PackGlyphs(std::span<const TGlyphSize> sizes, std::int64_t side) {
  std::vector<std::size_t> order(sizes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sizes[a].Rows > sizes[b].Rows; });
  std::vector<TAtlasPen> cells(sizes.size());
  TAtlasPen pen;
  std::int64_t rowHeight = -1;  // no row begun
  for (std::size_t index : order) {
    const TGlyphSize size = sizes[index];
    if (size.Width < 0 || size.Rows < 0) RangeError();
    if (rowHeight >= 0 && pen.Column + size.Width > side) {
      pen.Column = 0;
      pen.Row += rowHeight + 1;
      rowHeight = -1;
    }
    if (rowHeight < 0) rowHeight = size.Rows;
    if (pen.Column + size.Width > side || pen.Row + size.Rows > side) return std::nullopt;
    cells[index] = pen;
    pen.Column += size.Width + 1;
  }
  return cells;
}

TPackedAtlas PackAtlas(std::span<const TGlyphSize> sizes) {
  for (std::int64_t side = 1; side < (std::int64_t{1} << 30); side *= 2) {
    std::optional<std::vector<TAtlasPen>> cells = PackGlyphs(sizes, side);
    if (cells) return {Narrow<std::int32_t>(side), std::move(*cells)};
  }
  RangeError();
}

TKeptGlyph KeepGlyph(const TCoverageBitmap& bitmap, std::int64_t bearingX, std::int64_t bearingY,
                     std::int64_t advance) {
  TKeptGlyph glyph{{}, bitmap.Width, bitmap.Rows, bearingX, bearingY, advance};
  if (bitmap.Width <= 0 || bitmap.Rows <= 0) {
    glyph.Width = std::max<std::int64_t>(bitmap.Width, 0);
    glyph.Rows = std::max<std::int64_t>(bitmap.Rows, 0);
    return glyph;
  }
  if (bitmap.Pitch < bitmap.Width) RangeError();
  const auto width = static_cast<std::size_t>(bitmap.Width);
  glyph.Coverage.resize(width * static_cast<std::size_t>(bitmap.Rows));
  for (std::int64_t y = 0; y < bitmap.Rows; ++y) {
    std::memcpy(glyph.Coverage.data() + static_cast<std::size_t>(y) * width,
                bitmap.Buffer + static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.Pitch), width);
  }
  return glyph;
}

namespace {
std::string Square(std::int32_t side) { return std::to_string(side) + " x " + std::to_string(side); }
}  // namespace

std::string PackedAtlasWarning(std::int32_t fullSide, std::int32_t maxTextureSize, std::int32_t packedSide) {
  return "GL takes textures of at most " + Square(maxTextureSize) + " pixels, less than the font atlas's " +
         Square(fullSide) + ", so its glyphs are packed by their sizes into " + Square(packedSide);
}

std::string PackedSideProblem(std::int32_t fullSide, std::int32_t packedSide, std::int32_t maxTextureSize) {
  if (maxTextureSize >= packedSide) return {};
  return "the font atlas needs a texture of " + Square(fullSide) + " pixels, or " + Square(packedSide) +
         " with its glyphs packed, but GL allows at most " + Square(maxTextureSize);
}
