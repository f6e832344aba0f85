// Fuzz target: a picture entry as the loader reads it, without GL. The header check must
// either reject the bytes with one line and status 1, or give numbers under which the pixel
// read and the upload stay inside the data: the read moves to the pixel offset and takes
// exactly the pixel bytes (checked against what the entry holds before the array is made,
// so a damaged size cannot ask for a gigabyte), and the upload then reads width x height
// pixels of four bytes from the array.
#include <cstdint>
#include <cstring>

#include "display/bmp.hpp"
#include "tests/fuzz/fuzz_check.hpp"

namespace {

// The largest texture side of Mesa's software renderer, the GL the harness runs.
constexpr std::int32_t kMaxTextureSize = 16384;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TResourceStream stream({data, size});
  const TBmpHeader header = ReadBmpHeader(stream, kMaxTextureSize);
  if (!header.Ok()) {
    Require(header.Status == 1, "a rejected picture ends with status 1");
    Require(!header.Error.empty() && header.Error.find('\n') == std::string::npos,
            "a rejected picture has a one-line report");
    return 0;
  }
  Require(size >= 30 && data[0] == 'B' && data[1] == 'M', "an accepted picture has both headers and the signature");
  Require(header.BitsPerPixel == 32, "an accepted picture has four bytes a pixel");
  Require(header.Width <= static_cast<std::uint32_t>(kMaxTextureSize) &&
              header.Height <= static_cast<std::uint32_t>(kMaxTextureSize),
          "an accepted picture fits a texture");
  const std::uint64_t uploaded = std::uint64_t{header.Width} * header.Height * 4;
  Require(header.PixelBytes == uploaded, "the pixel array holds exactly what the upload reads");

  // The pixel read: pixel data cut short is the loader's stream read error.
  if (header.PixelOffset > size || header.PixelBytes > size - header.PixelOffset) return 0;
  TUInt8DynArray pixels = TUInt8DynArray::Uninitialized(header.PixelBytes);
  stream.Seek(header.PixelOffset);
  Require(stream.Read(pixels.Data(), header.PixelBytes) == header.PixelBytes, "the pixel bytes that are there arrive");
  Require(pixels.Length() == 0 || std::memcmp(pixels.Data(), data + header.PixelOffset, pixels.Length()) == 0,
          "the pixel bytes arrive unchanged");

  // What the upload reads: width x height pixels from the start of the array.
  std::uint32_t sum = 0;
  for (std::uint64_t i = 0; i < uploaded; ++i) sum += pixels.Data()[i];
  volatile std::uint32_t sink = sum;
  (void)sink;
  return 0;
}
