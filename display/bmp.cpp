// uBMP: BMP header checks and texture upload (see bmp.hpp).
#include "display/bmp.hpp"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

#include "engine/fatal.hpp"

namespace {

template <class T>
T Little(const std::uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

TBmpHeader Reject(std::string line, int status = kExitBadPicture) {
  TBmpHeader header;
  header.Error = std::move(line);
  header.Status = status;
  return header;
}

std::string LengthMismatch(int expected, std::size_t got) {
  return "LoadTexture: ERROR: BMP Header Length mismatch! expected " + std::to_string(expected) + " bytes, got " +
         std::to_string(got);
}

}  // namespace

TBmpHeader ReadBmpHeader(TResourceStream& stream, std::int32_t maxTextureSize) {
  std::uint8_t file[14];
  std::size_t got = stream.Read(file, sizeof file);
  if (got < sizeof file) return Reject(LengthMismatch(14, got));
  if (file[0] != 'B' || file[1] != 'M')
    return Reject("[uBMP] LoadTexture: ERROR: BMP Header does not contain a valid header-field!");
  std::uint8_t info[16];
  got = stream.Read(info, sizeof info);
  if (got < sizeof info) return Reject(LengthMismatch(16, got));

  TBmpHeader header;
  header.PixelOffset = Little<std::uint32_t>(file + 10);
  header.InfoSize = Little<std::uint32_t>(info);
  header.Width = Little<std::uint32_t>(info + 4);
  header.Height = Little<std::uint32_t>(info + 8);
  header.BitsPerPixel = Little<std::uint16_t>(info + 14);

  // Shapes the upload cannot take as they are: it reads four bytes a pixel, bottom row
  // first, from exactly width x height x 4 bytes.
  if (header.InfoSize < 40)
    return Reject("[uBMP] LoadTexture: ERROR: info header of " + std::to_string(header.InfoSize) +
                  " bytes is too short (at least 40 expected)");
  if (header.BitsPerPixel != 32)
    return Reject("[uBMP] LoadTexture: ERROR: " + std::to_string(header.BitsPerPixel) +
                  " bits per pixel are not supported (only 32)");
  if (static_cast<std::int32_t>(header.Height) < 0)
    return Reject("[uBMP] LoadTexture: ERROR: top-down pictures (negative height) are not supported");
  std::uint64_t bytes = std::uint64_t{header.BitsPerPixel / 8u} * header.Width * header.Height;
  if (bytes > UINT32_MAX || header.Width > static_cast<std::uint32_t>(maxTextureSize) ||
      header.Height > static_cast<std::uint32_t>(maxTextureSize))
    return Reject("[uBMP] LoadTexture: ERROR: picture of " + std::to_string(header.Width) + "x" +
                  std::to_string(header.Height) + " pixels is too large (largest side " +
                  std::to_string(maxTextureSize) + ")");
  header.PixelBytes = static_cast<std::uint32_t>(bytes);
  return header;
}

TTexture LoadTexture(const TResourceEntry& entry) {
  TTexture texture;
  texture.Name = std::string(entry.Name.substr(0, 255));
  TResourceStream stream(entry);
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  TBmpHeader header = ReadBmpHeader(stream, maxTextureSize);
  if (!header.Ok()) FatalLine(header.Error, header.Status);

  WriteLine("[uBMP] LoadTexture: IMG dimensions " + std::to_string(header.Width) + "x" + std::to_string(header.Height));
  WriteLine("[uBMP] LoadTexture: Pixel Data starts at " + std::to_string(header.PixelOffset));
  WriteLine("[uBMP] LoadTexture: Pixel Data size is " + std::to_string(header.PixelBytes) + " bytes");
  WriteLine("[uBMP] LoadTexture: Bits per Pixel " + std::to_string(header.BitsPerPixel));

  // A damaged header may promise far more pixels than the entry holds: the short read is
  // known before a buffer of that size is asked for.
  if (std::uint64_t{header.PixelOffset} + header.PixelBytes > stream.Size()) FatalLine("Stream read error", kExitAssertion);
  TUInt8DynArray pixels = TUInt8DynArray::Uninitialized(header.PixelBytes);
  stream.Seek(header.PixelOffset);
  stream.ReadBuffer(pixels.Data(), header.PixelBytes);
  texture.Data = pixels;
  texture.Width = Narrow<std::int32_t>(header.Width);
  texture.Height = Narrow<std::int32_t>(header.Height);

  glGenTextures(1, &texture.TextureID);
  glBindTexture(GL_TEXTURE_2D, texture.TextureID);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, texture.Width, texture.Height, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels.Data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  return texture;
}
