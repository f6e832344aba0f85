// uBMP: turns one embedded BMP picture into a GL texture. Reads the 14-byte file header and
// the first 16 bytes of the info header, checks them, reads (decompresses) the pixel bytes
// in one bulk read into their one buffer and uploads them unchanged as BGRA. Decoding and
// uploading are separate steps, so that decoding can run on another thread than the one
// that owns GL.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/dynarray.hpp"
#include "store/store.hpp"
#include "base/verdict.hpp"

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

// The number of bytes at the start of a picture the header check reads.
inline constexpr std::size_t kBmpHeaderBytes = 30;

// Checks the headers in the first bytes of a picture (what arrived of its first 30 bytes).
// maxTextureSize is the largest side GL accepts.
TBmpHeader ParseBmpHeader(std::span<const std::uint8_t> first, std::int32_t maxTextureSize);
// The same, read from the start of a stream (leaving it just past the 30 header bytes).
TBmpHeader ReadBmpHeader(TResourceStream& stream, std::int32_t maxTextureSize);

// A picture entry decoded without GL: its header and pixel bytes, or the one line and exit
// status that end the demo when it is uploaded. Error is empty when the pixels are there.
struct TDecodedPicture {
  TBmpHeader Header;       // when not Header.Ok(), Error and Status are the header's
  TUInt8DynArray Pixels;   // exactly Header.PixelBytes bytes
  std::string Error;
  int Status = 0;
};

// Reads a picture entry's header and pixels. Never ends the process (it runs on the
// picture decoder's thread): damaged data, pixels cut short and a refused allocation come
// back as the line and status the upload then ends with.
TDecodedPicture DecodePicture(const TResourceEntry& entry, std::int32_t maxTextureSize);

// The largest texture side of the current GL context.
std::int32_t MaxTextureSize();

// Makes a decoded picture a new texture (left bound to GL_TEXTURE_2D), with the loader's
// four lines. A rejected header ends the demo with its line and status 1 (before the
// lines); pixel data cut short with "Stream read error", damaged data with one
// "[uStore] ERROR: ..." line (both status 217, after them).
TTexture UploadPicture(std::string_view name, TDecodedPicture picture);

// Decodes and uploads a picture entry on this thread.
TTexture LoadTexture(const TResourceEntry& entry);
