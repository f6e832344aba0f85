// Tests of the generated song: the exact file layout the player expects, byte-identical
// regeneration, and the mastering limits measured on the file itself.
// Depends on GoogleTest, kelvo_song and the generated res/SONG.wav.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/song/song_format.hpp"

namespace {

const std::string kSongPath = std::string(KELVO_RES_DIR) + "/SONG.wav";

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 | std::uint32_t{b.at(at + 2)} << 16 |
         std::uint32_t{b.at(at + 3)} << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
std::string Code(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

const std::vector<std::uint8_t>& SongBytes() {
  static const std::vector<std::uint8_t> bytes = ReadBytes(kSongPath);
  return bytes;
}

}  // namespace

TEST(SongFile, CanonicalHeaderAndExactSize) {
  const std::vector<std::uint8_t>& b = SongBytes();
  ASSERT_EQ(b.size(), 18723666u);
  EXPECT_EQ(Code(b, 0), "RIFF");
  EXPECT_EQ(U32(b, 4), b.size() - 8);
  EXPECT_EQ(Code(b, 8), "WAVE");
  EXPECT_EQ(Code(b, 12), "fmt ");
  EXPECT_EQ(U32(b, 16), 16u);
  EXPECT_EQ(U16(b, 20), 1u);       // integer PCM
  EXPECT_EQ(U16(b, 22), 2u);       // channels
  EXPECT_EQ(U32(b, 24), 44100u);   // frames per second
  EXPECT_EQ(U32(b, 28), 176400u);  // bytes per second
  EXPECT_EQ(U16(b, 32), 4u);       // bytes per frame
  EXPECT_EQ(U16(b, 34), 16u);      // bits per sample
  EXPECT_EQ(Code(b, 36), "data");
  EXPECT_EQ(U32(b, 40), 18723556u);
  EXPECT_EQ(U32(b, 40) / 4, 4680889u);
}

// After the samples comes exactly one 66-byte LIST/INFO chunk whose texts are
// zero-terminated and padded to even lengths, naming the piece, the group and the demo.
TEST(SongFile, TrailingInfoChunkNamesPieceAndMakers) {
  const std::vector<std::uint8_t>& b = SongBytes();
  ASSERT_EQ(b.size(), 18723666u);
  const std::size_t list = 44 + 18723556;
  ASSERT_EQ(b.size() - list, 66u);
  EXPECT_EQ(Code(b, list), "LIST");
  EXPECT_EQ(U32(b, list + 4), 58u);
  EXPECT_EQ(Code(b, list + 8), "INFO");
  std::vector<std::pair<std::string, std::string>> tags;
  std::size_t at = list + 12;
  while (at < b.size()) {
    ASSERT_LE(at + 8, b.size());
    const std::string id = Code(b, at);
    const std::uint32_t size = U32(b, at + 4);
    ASSERT_GE(size, 1u) << id;
    ASSERT_LE(at + 8 + size, b.size()) << id;
    EXPECT_EQ(b.at(at + 8 + size - 1), 0u) << id << " text is not zero-terminated";
    const std::string text(b.begin() + static_cast<std::ptrdiff_t>(at + 8),
                           b.begin() + static_cast<std::ptrdiff_t>(at + 8 + size - 1));
    EXPECT_EQ(text.find('\0'), std::string::npos) << id;
    tags.emplace_back(id, text);
    at += 8 + size + size % 2;
    if (size % 2 != 0) EXPECT_EQ(b.at(at - 1), 0u) << id << " pad byte";
  }
  EXPECT_EQ(at, b.size());
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0].first, "INAM");
  EXPECT_FALSE(tags[0].second.empty());
  EXPECT_EQ(tags[1], (std::pair<std::string, std::string>{"IART", "ombrel"}));
  EXPECT_EQ(tags[2], (std::pair<std::string, std::string>{"IPRD", "tessic"}));
}

// Rendering again from the same score gives the same bytes: no clock, no unseeded
// randomness, no thread-order dependence.
TEST(SongFile, RegenerationIsByteIdentical) {
  const std::string again = std::string(KELVO_BUILD_DIR) + "/test_song_again.wav";
  const std::string command = std::string(KELVO_BUILD_DIR) + "/kelvo-gen-song " + again + " " +
                              KELVO_SOURCE_DIR + "/resources/score/song.score";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::vector<std::uint8_t> second = ReadBytes(again);
  std::remove(again.c_str());
  ASSERT_EQ(second.size(), SongBytes().size());
  EXPECT_TRUE(second == SongBytes());
}
