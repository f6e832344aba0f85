// uFont: rasterises the embedded TrueType font into a glyph atlas: one RGBA GL texture with
// the glyphs of the character codes 0 to 255 in a grid of cells, and 256 glyph records with
// each glyph's texture rectangle and pixel metrics. The text colour is baked into the
// pixels through a coverage-to-colour table.
#pragma once

#include <cstdint>

#include "base/dynarray.hpp"
#include "store/store.hpp"

struct TGlyphInfo {
  long double TexLeft = 0;
  long double TexRight = 0;
  long double TexTop = 0;
  long double TexBottom = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t BearingX = 0;
  std::int32_t BearingY = 0;
  std::int32_t Advance = 0;
};

using TGlyphInfoDynArray = TDynArray<TGlyphInfo>;

struct TTextureAtlas {
  TUInt8DynArray Pixels;  // Width x Height x 4 bytes R, G, B, A; first row is t = 0
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t TextureName = 0;
  TGlyphInfoDynArray Glyphs;  // 256 records, indexed by character code
};

// Entry k is the colour of a glyph pixel of coverage k, red in the most significant byte.
TUInt32DynArray GenerateGLColorTable();

// Builds the atlas of a font entry at size points (96 dpi) and uploads it.
TTextureAtlas GenerateTextureAtlasBMP(const TResourceEntry& resource, std::int32_t size);
