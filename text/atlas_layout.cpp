// uFont's arithmetic: atlas side, cell placement, glyph records and the glyph copy.
#include "text/atlas_layout.hpp"

#include <cstring>

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

std::string TextureSideProblem(std::int32_t side, std::int32_t maxTextureSize) {
  if (maxTextureSize >= side) return {};
  return "the font atlas needs a texture of " + std::to_string(side) + " x " + std::to_string(side) +
         " pixels, but GL allows at most " + std::to_string(maxTextureSize) + " x " + std::to_string(maxTextureSize);
}
