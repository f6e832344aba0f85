// The BMP encoder and the atomic file writer (see bmp_writer.hpp).
#include "resources/pictures/bmp_writer.hpp"

#include <cstdio>

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xffu));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xffu));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xffffu);
  Put16(out, v >> 16);
}

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch
constexpr std::uint32_t kColourSpaceSRGB = 0x73524742;  // 'sRGB'
constexpr std::uint32_t kIntentImages = 4;

}  // namespace

std::vector<std::uint8_t> EncodeBmp(const TImage& image, TBmpHeader kind) {
  const std::uint32_t width = Narrow<std::uint32_t>(image.Width());
  const std::uint32_t height = Narrow<std::uint32_t>(image.Height());
  const std::uint64_t pixelBytes64 = std::uint64_t{width} * height * 4u;
  const std::uint32_t pixelBytes = Narrow<std::uint32_t>(pixelBytes64);
  const std::uint32_t offset = kFileHeaderSize + InfoHeaderSize(kind);
  const std::uint32_t total = Narrow<std::uint32_t>(std::uint64_t{offset} + pixelBytes);

  std::vector<std::uint8_t> out;
  out.reserve(total);
  // File header.
  out.push_back('B');
  out.push_back('M');
  Put32(out, total);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, offset);
  // The 40-byte core of the info header; a positive height means bottom-up rows.
  Put32(out, InfoHeaderSize(kind));
  Put32(out, width);
  Put32(out, height);
  Put16(out, 1);   // planes
  Put16(out, 32);  // bits per pixel
  Put32(out, kBitFields);
  Put32(out, pixelBytes);
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, 0);  // palette colours
  Put32(out, 0);  // important colours
  // The four channel masks.
  Put32(out, 0x00ff0000u);
  Put32(out, 0x0000ff00u);
  Put32(out, 0x000000ffu);
  Put32(out, 0xff000000u);
  if (kind == TBmpHeader::V5) {
    Put32(out, kColourSpaceSRGB);
    for (int i = 0; i < 9; ++i) Put32(out, 0);  // colour space end points (unused for sRGB)
    for (int i = 0; i < 3; ++i) Put32(out, 0);  // gamma (unused for sRGB)
    Put32(out, kIntentImages);
    Put32(out, 0);  // profile data
    Put32(out, 0);  // profile size
    Put32(out, 0);  // reserved
  }
  Assert(out.size() == offset, "BMP header size mismatch", "pictures", __LINE__);

  for (int y = image.Height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width(); ++x) {
      const TRgba c = image.Get(x, y);
      const std::uint8_t a = TImage::Quantize(c.A, x, y, 3);
      // Fully transparent pixels carry black, so they never show a stray colour.
      out.push_back(a == 0 ? 0 : TImage::Quantize(c.B, x, y, 2));
      out.push_back(a == 0 ? 0 : TImage::Quantize(c.G, x, y, 1));
      out.push_back(a == 0 ? 0 : TImage::Quantize(c.R, x, y, 0));
      out.push_back(a);
    }
  }
  Assert(out.size() == total, "BMP size mismatch", "pictures", __LINE__);
  return out;
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::string temporary = path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) FatalLine("[kelvo-gen-pictures] ERROR: cannot create " + temporary, 1);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) FatalLine("[kelvo-gen-pictures] ERROR: cannot write " + temporary, 1);
  if (std::rename(temporary.c_str(), path.c_str()) != 0)
    FatalLine("[kelvo-gen-pictures] ERROR: cannot rename " + temporary + " to " + path, 1);
}
