// uBMP: BMP header checks and texture upload (see bmp.hpp).
#include "display/bmp.hpp"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

#include "base/fatal.hpp"

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

TBmpHeader ParseBmpHeader(std::span<const std::uint8_t> first, std::int32_t maxTextureSize) {
  if (first.size() < 14) return Reject(LengthMismatch(14, first.size()));
  const std::uint8_t* file = first.data();
  if (file[0] != 'B' || file[1] != 'M')
    return Reject("[uBMP] LoadTexture: ERROR: BMP Header does not contain a valid header-field!");
  if (first.size() < kBmpHeaderBytes) return Reject(LengthMismatch(16, first.size() - 14));
  const std::uint8_t* info = file + 14;

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

TBmpHeader ReadBmpHeader(TResourceStream& stream, std::int32_t maxTextureSize) {
  std::uint8_t first[kBmpHeaderBytes];
  const std::size_t got = stream.Read(first, sizeof first);
  return ParseBmpHeader({first, got}, maxTextureSize);
}

TDecodedPicture DecodePicture(const TResourceEntry& entry, std::int32_t maxTextureSize) {
  TDecodedPicture picture;
  TResourceStream stream(entry);
  std::uint8_t first[kBmpHeaderBytes];
  std::size_t got = 0;
  std::string error;
  if (!stream.TryRead(first, sizeof first, got, error)) {
    // A damaged first block: the header is not there to check.
    picture.Header = Reject("[uStore] ERROR: " + error, kExitAssertion);
    picture.Error = picture.Header.Error;
    picture.Status = picture.Header.Status;
    return picture;
  }
  picture.Header = ParseBmpHeader({first, got}, maxTextureSize);
  const TBmpHeader& header = picture.Header;
  if (!header.Ok()) {
    picture.Error = header.Error;
    picture.Status = header.Status;
    return picture;
  }
  // A damaged header may promise far more pixels than the entry holds: the short read is
  // known before a buffer of that size is asked for.
  if (std::uint64_t{header.PixelOffset} + header.PixelBytes > stream.Size()) {
    picture.Error = "Stream read error";
    picture.Status = kExitAssertion;
    return picture;
  }
  picture.Pixels = TUInt8DynArray::TryUninitialized(header.PixelBytes);
  if (header.PixelBytes > 0 && picture.Pixels.Empty()) {
    picture.Error = "Out of memory";
    picture.Status = kExitAssertion;
    return picture;
  }
  stream.Seek(header.PixelOffset);
  if (!stream.TryRead(picture.Pixels.Data(), header.PixelBytes, got, error)) {
    picture.Error = "[uStore] ERROR: " + error;
    picture.Status = kExitAssertion;
  } else if (got != header.PixelBytes) {
    picture.Error = "Stream read error";
    picture.Status = kExitAssertion;
  }
  return picture;
}

std::int32_t MaxTextureSize() {
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  return maxTextureSize;
}

TTexture UploadPicture(std::string_view name, TDecodedPicture picture) {
  const TBmpHeader& header = picture.Header;
  if (!header.Ok()) FatalLine(header.Error, header.Status);

  WriteLine("[uBMP] LoadTexture: IMG dimensions " + std::to_string(header.Width) + "x" + std::to_string(header.Height));
  WriteLine("[uBMP] LoadTexture: Pixel Data starts at " + std::to_string(header.PixelOffset));
  WriteLine("[uBMP] LoadTexture: Pixel Data size is " + std::to_string(header.PixelBytes) + " bytes");
  WriteLine("[uBMP] LoadTexture: Bits per Pixel " + std::to_string(header.BitsPerPixel));
  if (!picture.Error.empty()) FatalLine(picture.Error, picture.Status);

  TTexture texture;
  texture.Name = std::string(name.substr(0, 255));
  texture.Data = picture.Pixels;
  texture.Width = Narrow<std::int32_t>(header.Width);
  texture.Height = Narrow<std::int32_t>(header.Height);
  glGenTextures(1, &texture.TextureID);
  glBindTexture(GL_TEXTURE_2D, texture.TextureID);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, texture.Width, texture.Height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
               texture.Data.Data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  return texture;
}

TTexture LoadTexture(const TResourceEntry& entry) {
  return UploadPicture(entry.Name, DecodePicture(entry, MaxTextureSize()));
}
