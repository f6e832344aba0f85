// The picture header checks: every rejected shape with its exact line and status; then
// decoding pictures away from the main thread: every failure comes back as the line and
// status the upload ends with (the process goes on), the decoder hands over exactly the
// stored pixels in order, stops at the first damaged picture and never hangs its owner.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <vector>

#include "display/bmp.hpp"
#include "display/picturedecoder.hpp"
#include "store/build.hpp"

namespace {

// A BMP of the demo's layout: 32 bits per pixel, info header of infoSize bytes.
std::vector<std::uint8_t> Picture(std::uint32_t width, std::int32_t height, std::uint32_t infoSize = 124,
                                  std::uint16_t bits = 32) {
  std::uint32_t offset = 14 + infoSize;
  std::vector<std::uint8_t> bytes(offset + std::size_t{width} * static_cast<std::uint32_t>(std::abs(height)) * 4, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
  auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(bytes.data() + at, &v, 2); };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, offset);
  put32(14, infoSize);
  put32(18, width);
  put32(22, static_cast<std::uint32_t>(height));
  put16(26, 1);
  put16(28, bits);
  return bytes;
}

TBmpHeader Check(const std::vector<std::uint8_t>& bytes, std::int32_t maxTextureSize = 8192) {
  TResourceStream stream(bytes);
  return ReadBmpHeader(stream, maxTextureSize);
}

TEST(BmpHeader, ReadsTheDemosTwoLayoutsAlike) {
  auto large = Check(Picture(1600, 900, 124));
  ASSERT_TRUE(large.Ok()) << large.Error;
  EXPECT_EQ(large.PixelOffset, 138u);
  EXPECT_EQ(large.Width, 1600u);
  EXPECT_EQ(large.Height, 900u);
  EXPECT_EQ(large.PixelBytes, 5760000u);
  auto small = Check(Picture(934, 762, 56));
  ASSERT_TRUE(small.Ok()) << small.Error;
  EXPECT_EQ(small.PixelOffset, 70u);
  EXPECT_EQ(small.PixelBytes, 934u * 762u * 4u);
  EXPECT_EQ(small.BitsPerPixel, 32);
}

TEST(BmpHeader, ShortHeadersReportWhatArrived) {
  auto picture = Picture(4, 4);
  for (std::size_t length : {0u, 1u, 13u}) {
    auto header = Check({picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(length)});
    EXPECT_FALSE(header.Ok());
    EXPECT_EQ(header.Status, 1);
    EXPECT_EQ(header.Error, "LoadTexture: ERROR: BMP Header Length mismatch! expected 14 bytes, got " +
                                std::to_string(length));
  }
  for (std::size_t length : {14u, 20u, 29u}) {
    auto header = Check({picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(length)});
    EXPECT_EQ(header.Status, 1);
    EXPECT_EQ(header.Error, "LoadTexture: ERROR: BMP Header Length mismatch! expected 16 bytes, got " +
                                std::to_string(length - 14));
  }
}

TEST(BmpHeader, AnySignatureButBMIsRejectedEvenOnAValidPicture) {
  auto picture = Picture(4, 4);
  picture[0] = 'M';
  picture[1] = 'B';
  auto header = Check(picture);
  EXPECT_EQ(header.Status, 1);
  EXPECT_EQ(header.Error, "[uBMP] LoadTexture: ERROR: BMP Header does not contain a valid header-field!");
}

TEST(BmpHeader, RejectsShapesTheUploadCannotTake) {
  auto depth = Check(Picture(4, 4, 124, 24));
  EXPECT_EQ(depth.Status, 1);
  EXPECT_EQ(depth.Error, "[uBMP] LoadTexture: ERROR: 24 bits per pixel are not supported (only 32)");
  auto topDown = Check(Picture(4, -4));
  EXPECT_EQ(topDown.Status, 1);
  EXPECT_EQ(topDown.Error, "[uBMP] LoadTexture: ERROR: top-down pictures (negative height) are not supported");
  auto core = Check(Picture(4, 4, 12));
  EXPECT_EQ(core.Status, 1);
  EXPECT_EQ(core.Error, "[uBMP] LoadTexture: ERROR: info header of 12 bytes is too short (at least 40 expected)");
  auto wide = Check(Picture(8193, 1));
  EXPECT_EQ(wide.Status, 1);
  EXPECT_EQ(wide.Error, "[uBMP] LoadTexture: ERROR: picture of 8193x1 pixels is too large (largest side 8192)");
  // 65536 x 65536 x 4 bytes overflow 32 bits even where GL would take the sides.
  auto huge = Check(Picture(1, 1), 1 << 20);
  ASSERT_TRUE(huge.Ok());
  auto overflow = Picture(1, 1);
  std::uint32_t side = 65536;
  std::memcpy(overflow.data() + 18, &side, 4);
  std::memcpy(overflow.data() + 22, &side, 4);
  auto tooMany = Check(overflow, 1 << 20);
  EXPECT_FALSE(tooMany.Ok());
  EXPECT_EQ(tooMany.Status, 1);
}

TEST(BmpHeader, IgnoresCompressionMasksAndFileSize) {
  auto picture = Picture(2, 2);
  std::uint32_t junk = 0xDEADBEEF;
  std::memcpy(picture.data() + 2, &junk, 4);   // file size
  std::memcpy(picture.data() + 30, &junk, 4);  // compression
  std::memcpy(picture.data() + 54, &junk, 4);  // a colour mask
  EXPECT_TRUE(Check(picture).Ok());
}

// A picture whose pixels vary (so that each compressed block differs), as a store entry
// kept with codec in blocks of 4096 bytes.
std::vector<std::uint8_t> Varied(std::uint32_t width, std::uint32_t height, unsigned seed) {
  auto bytes = Picture(width, height, 56);
  std::mt19937 random(seed);
  for (std::size_t i = 70; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / 61 + random() % 3);
  return bytes;
}

struct TStore {
  std::vector<std::uint8_t> Blob;
  std::vector<TResourceEntry> Entries;
};

TStore Pack(const std::vector<std::pair<std::vector<std::uint8_t>, TResourceCodec>>& pictures) {
  std::vector<TStoreInput> inputs;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    TStoreInput input;
    input.Name = "TEX_" + std::string(1, static_cast<char>('A' + i));
    input.Bytes = pictures[i].first;
    input.Codec = pictures[i].second;
    input.BlockSize = pictures[i].second == TResourceCodec::Raw ? 0 : 4096;
    inputs.push_back(std::move(input));
  }
  TStore store;
  std::string error;
  store.Blob = BuildStore(std::move(inputs), error);
  EXPECT_EQ(error, "");
  return store;
}

std::vector<TResourceEntry> Entries(const std::vector<std::uint8_t>& blob) {
  TStoreParse parsed = ParseStore(blob);
  EXPECT_TRUE(parsed.Ok()) << parsed.Error;
  return parsed.Entries;
}

// Spoils the middle of the second block of an entry's stored data (a block table of one
// u32 per block, then the blocks).
void DamageSecondBlock(std::vector<std::uint8_t>& blob, const TResourceEntry& entry) {
  const std::size_t data = static_cast<std::size_t>(entry.Bytes.data() - blob.data());
  std::uint32_t first = 0;
  std::memcpy(&first, entry.Bytes.data(), 4);
  const std::size_t second = data + entry.BlockCount() * 4 + first;
  for (std::size_t i = 0; i < 64; ++i) blob[second + 8 + i] ^= 0xA5;
}

TEST(DecodePicture, GivesBackEveryFailureAsTheUploadsLineAndStatus) {
  const auto good = Varied(40, 30, 1);

  // A header cut short: the header's own line, status 1, no pixels.
  auto cut = DecodePicture(TResourceEntry{"TEX_X", 10, 1033, std::span(good.data(), 20)}, 8192);
  EXPECT_FALSE(cut.Header.Ok());
  EXPECT_EQ(cut.Status, 1);
  EXPECT_EQ(cut.Error, "LoadTexture: ERROR: BMP Header Length mismatch! expected 16 bytes, got 6");
  EXPECT_TRUE(cut.Pixels.Empty());

  // Pixels cut short, or an offset beyond the entry: a stream read error after the header.
  auto shortPixels = DecodePicture(TResourceEntry{"TEX_X", 10, 1033, std::span(good.data(), good.size() - 1)}, 8192);
  EXPECT_TRUE(shortPixels.Header.Ok());
  EXPECT_EQ(shortPixels.Error, "Stream read error");
  EXPECT_EQ(shortPixels.Status, 217);
  EXPECT_TRUE(shortPixels.Pixels.Empty()) << "no buffer is asked for pixels that are not there";

  // Damaged compressed pixels: the store's line, status 217, after a good header.
  TStore store = Pack({{good, TResourceCodec::LZ4}});
  DamageSecondBlock(store.Blob, Entries(store.Blob).at(0));
  auto damaged = DecodePicture(Entries(store.Blob).at(0), 8192);
  EXPECT_TRUE(damaged.Header.Ok());
  EXPECT_EQ(damaged.Status, 217);
  EXPECT_EQ(damaged.Error.rfind("[uStore] ERROR: entry \"TEX_A\": block 1 ", 0), 0u) << damaged.Error;

  // A good picture: exactly its pixel bytes.
  auto fine = DecodePicture(TResourceEntry{"TEX_X", 10, 1033, good}, 8192);
  ASSERT_EQ(fine.Error, "");
  ASSERT_EQ(fine.Pixels.Length(), 40u * 30u * 4u);
  EXPECT_EQ(std::memcmp(fine.Pixels.Data(), good.data() + 70, fine.Pixels.Length()), 0);
}

TEST(PictureDecoder, HandsOverTheStoredPixelsOfEveryCodecInOrder) {
  const std::vector<std::pair<std::vector<std::uint8_t>, TResourceCodec>> pictures = {
      {Varied(64, 48, 1), TResourceCodec::LZ4},
      {Varied(33, 17, 2), TResourceCodec::Zstd},
      {Varied(20, 20, 3), TResourceCodec::Raw},
      {Varied(64, 64, 4), TResourceCodec::LZ4}};
  TStore store = Pack(pictures);
  const auto entries = Entries(store.Blob);
  ASSERT_EQ(entries.size(), pictures.size());
  // With the thread (which may be ahead or behind), and without it, where every picture is
  // decoded by the one who asks for it.
  for (bool withThread : {true, false}) {
    TPictureDecoder decoder(entries, 8192, withThread);
    ASSERT_EQ(decoder.Count(), pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      TDecodedPicture picture = decoder.Take(i);
      ASSERT_EQ(picture.Error, "") << i;
      const auto& bytes = pictures[i].first;
      ASSERT_EQ(picture.Pixels.Length(), bytes.size() - 70) << i;
      EXPECT_EQ(std::memcmp(picture.Pixels.Data(), bytes.data() + 70, bytes.size() - 70), 0)
          << "picture " << i << (withThread ? " with" : " without") << " the thread";
    }
  }
}

TEST(PictureDecoder, StopsAtTheFirstDamagedPictureAndNeverHangsItsOwner) {
  TStore store = Pack({{Varied(64, 48, 1), TResourceCodec::LZ4},
                       {Varied(64, 48, 2), TResourceCodec::LZ4},
                       {Varied(64, 48, 3), TResourceCodec::LZ4}});
  DamageSecondBlock(store.Blob, Entries(store.Blob).at(1));
  const auto entries = Entries(store.Blob);
  // Taken on another thread, so that a decoder that hangs fails the test instead of
  // stopping it.
  auto outcome = std::async(std::launch::async, [&] {
    TPictureDecoder decoder(entries, 8192);
    std::vector<TDecodedPicture> taken;
    for (std::size_t i = 0; i < 3; ++i) taken.push_back(decoder.Take(i));
    return taken;
  });
  ASSERT_EQ(outcome.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "Take waited for ever";
  auto taken = outcome.get();
  EXPECT_EQ(taken[0].Error, "");
  EXPECT_EQ(taken[1].Error.rfind("[uStore] ERROR: entry \"TEX_B\": block 1 ", 0), 0u) << taken[1].Error;
  EXPECT_EQ(taken[1].Status, 217);
  // The picture after it was decoded before the failure was known, or not at all; then it
  // ends the demo with the same line.
  if (!taken[2].Error.empty()) {
    EXPECT_EQ(taken[2].Error, taken[1].Error);
    EXPECT_EQ(taken[2].Status, 217);
  }
  // Without the thread: the failure is the caller's own, and what follows is not decoded.
  TPictureDecoder alone(entries, 8192, false);
  EXPECT_EQ(alone.Take(0).Error, "");
  EXPECT_EQ(alone.Take(1).Error, taken[1].Error);
  EXPECT_EQ(alone.Take(2).Error, taken[1].Error) << "nothing is decoded after a failure";

  // An owner that ends before taking every picture (or any) ends the thread with it.
  auto early = std::async(std::launch::async, [&] {
    { TPictureDecoder untouched(entries, 8192); }
    TStore two = Pack({{Varied(64, 64, 5), TResourceCodec::LZ4}, {Varied(64, 64, 6), TResourceCodec::Zstd}});
    TPictureDecoder decoder(Entries(two.Blob), 8192);
    return decoder.Take(0).Error;
  });
  ASSERT_EQ(early.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the decoder did not end";
  EXPECT_EQ(early.get(), "");
}

}  // namespace
