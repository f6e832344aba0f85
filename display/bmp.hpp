// uBMP: turns one embedded BMP picture into a GL texture. Reads the 14-byte file header and
// the first 16 bytes of the info header, checks them, reads the pixel bytes in one bulk read
// and uploads them unchanged as BGRA. Depends on uStore, uShared, uVerdict, GL.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/shared.hpp"
#include "engine/store.hpp"
#include "engine/verdict.hpp"

// A picture's GL texture, size and pixel bytes; copies share the pixel bytes.
struct TTexture {
  std::string Name;       // the resource's name, at most 255 characters
  TUInt8DynArray Data;    // pixel bytes as stored: bottom row first, B, G, R, A
  std::uint32_t TextureID = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
};

// What the header check found: the numbers needed to read and upload the pixels, or the
// one line and exit status that reject the picture.
struct TBmpHeader : TParseVerdict {
  int Status = 0;     // the exit status when not Ok
  std::uint32_t PixelOffset = 0;
  std::uint32_t InfoSize = 0;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t BitsPerPixel = 0;
  std::uint32_t PixelBytes = 0;
};

// Checks the headers at the start of a stream (leaving it just past the 30 header bytes).
// maxTextureSize is the largest side GL accepts.
TBmpHeader ReadBmpHeader(TResourceStream& stream, std::int32_t maxTextureSize);

// Loads a picture entry into a new texture (left bound to GL_TEXTURE_2D). A rejected header
// ends the demo with its line and status 1; pixel data cut short with "Stream read error".
TTexture LoadTexture(const TResourceEntry& entry);
