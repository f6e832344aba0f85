// The store's compressed entries: what goes in comes out through the stream (reads of any
// length, seeks both ways), through the chunk sink and into a file; what does not gain is
// kept raw; damaged block tables are refused by the parse, and damaged blocks end the demo
// with one "[uStore] ERROR: ..." line instead of reading or writing outside a buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/fatal.hpp"
#include "store/build.hpp"
#include "store/store.hpp"
#include "store/tempfile.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/files.hpp"

namespace {

using TBytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kBlock = 4096;

// Compressible bytes: runs of a slowly changing value with a little noise, like the
// pictures' flat areas and gradients.
TBytes Compressible(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  TBytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i / 97) + (random() % 8 == 0 ? random() % 4 : 0));
  return bytes;
}

TBytes Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  TBytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

TStoreInput Input(std::string name, TBytes bytes, TResourceCodec codec, std::uint32_t blockSize = kBlock) {
  TStoreInput input;
  input.Name = std::move(name);
  input.Bytes = std::move(bytes);
  input.Codec = codec;
  input.BlockSize = blockSize;
  return input;
}

TBytes Pack(std::vector<TStoreInput> inputs) {
  std::string error;
  TBytes blob = BuildStore(std::move(inputs), error);
  EXPECT_EQ(error, "");
  return blob;
}

TBytes Streamed(const TResourceEntry& entry, std::string* error = nullptr) {
  TBytes out;
  std::string why = TryStreamEntry(entry, [&](std::span<const std::uint8_t> chunk) {
    EXPECT_FALSE(chunk.empty());
    EXPECT_LE(chunk.size(), std::max<std::size_t>(entry.BlockSize, kMaxBlockSize));
    out.insert(out.end(), chunk.begin(), chunk.end());
  });
  if (error) *error = why;
  else EXPECT_EQ(why, "");
  return out;
}

// Offsets of one entry's record fields in a blob (records begin at 16, 48 bytes each).
std::size_t Record(std::size_t index) { return 16 + 48 * index; }

template <class T>
void Poke(TBytes& blob, std::size_t offset, T value) {
  std::memcpy(blob.data() + offset, &value, sizeof value);
}
template <class T>
T Peek(const TBytes& blob, std::size_t offset) {
  T value;
  std::memcpy(&value, blob.data() + offset, sizeof value);
  return value;
}

TEST(StoreCodecs, EveryCodecGivesBackTheBytesWhateverTheSizeAndReadPattern) {
  // Empty, one byte, one block less one, exactly whole blocks, and a ragged last block.
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{kBlock - 1}, std::size_t{3 * kBlock},
                           std::size_t{5 * kBlock + 123}}) {
    for (TResourceCodec codec : {TResourceCodec::LZ4, TResourceCodec::Zstd}) {
      const std::string label = std::string(CodecName(codec)) + " size " + std::to_string(size);
      const TBytes original = Compressible(size, static_cast<unsigned>(size));
      const TBytes blob = Pack({Input("E", original, codec)});
      const TStoreParse parsed = ParseStore(blob);
      ASSERT_TRUE(parsed.Ok()) << parsed.Error << " " << label;
      const TResourceEntry& entry = parsed.Entries.at(0);
      EXPECT_EQ(entry.Size(), size) << label;
      if (size >= kBlock) {
        EXPECT_EQ(entry.Codec, codec) << label;
        EXPECT_LT(entry.Bytes.size(), size / 2) << label;
      }
      EXPECT_EQ(Streamed(entry), original) << label;

      // Reads of odd lengths that straddle blocks, then one bulk read of the rest.
      TResourceStream stream(entry);
      TBytes read(size + 10, 0xEE);
      std::size_t at = 0;
      for (std::size_t step : {std::size_t{14}, std::size_t{16}, std::size_t{kBlock}, std::size_t{7}}) {
        at += stream.Read(read.data() + at, step);
      }
      at += stream.Read(read.data() + at, read.size() - at);
      EXPECT_EQ(at, size) << label;
      EXPECT_TRUE(std::equal(original.begin(), original.end(), read.begin())) << label;
      EXPECT_EQ(read[size], 0xEE) << "nothing written past what was read, " << label;
      EXPECT_EQ(stream.Read(read.data(), 1), 0u) << label;

      // Back to an earlier block and forward past several: the bytes of those positions.
      if (size > 2 * kBlock) {
        std::uint8_t two[2];
        stream.Seek(size - 1);
        ASSERT_EQ(stream.Read(two, 2), 1u) << label;
        EXPECT_EQ(two[0], original[size - 1]) << label;
        stream.Seek(kBlock - 1);
        ASSERT_EQ(stream.Read(two, 2), 2u) << label;
        EXPECT_EQ(two[0], original[kBlock - 1]) << label;
        EXPECT_EQ(two[1], original[kBlock]) << label;
        stream.Seek(2 * kBlock + 5);
        TBytes tail(size - (2 * kBlock + 5));
        stream.ReadBuffer(tail.data(), tail.size());
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), original.begin() + 2 * kBlock + 5)) << label;
      }
    }
  }
}

TEST(StoreCodecs, KeepsRawWhatDoesNotGainAndTakesStoredEntriesOverUnchanged) {
  const TBytes noise = Noise(6 * kBlock, 7);
  const TBytes text = Compressible(6 * kBlock, 8);
  const TBytes blob = Pack({Input("NOISE", noise, TResourceCodec::LZ4), Input("TEXT", text, TResourceCodec::Zstd),
                            Input("PLAIN", text, TResourceCodec::Raw)});
  const TStoreParse parsed = ParseStore(blob);
  ASSERT_TRUE(parsed.Ok()) << parsed.Error;
  const TResourceEntry& noiseEntry = parsed.Entries.at(0);  // names sort: NOISE, PLAIN, TEXT
  EXPECT_EQ(noiseEntry.Codec, TResourceCodec::Raw);
  EXPECT_TRUE(std::equal(noise.begin(), noise.end(), noiseEntry.Bytes.begin(), noiseEntry.Bytes.end()));
  EXPECT_EQ(parsed.Entries.at(1).Codec, TResourceCodec::Raw);
  EXPECT_EQ(parsed.Entries.at(2).Codec, TResourceCodec::Zstd);

  // A second store made from the first one's stored forms holds the same entries.
  std::vector<TStoreInput> again;
  for (const TResourceEntry& entry : parsed.Entries) {
    TStoreInput input;
    input.Name = std::string(entry.Name);
    input.Bytes.assign(entry.Bytes.begin(), entry.Bytes.end());
    input.Codec = entry.Codec;
    input.BlockSize = entry.BlockSize;
    input.Stored = true;
    input.ContentSize = entry.Size();
    again.push_back(std::move(input));
  }
  const TBytes copy = Pack(std::move(again));
  EXPECT_EQ(copy, blob);

  // The gain rule at its edge: a thirty-second saved is not enough.
  EXPECT_FALSE(CompressionGains(3200, 3100));
  EXPECT_TRUE(CompressionGains(3200, 3099));
}

TEST(StoreCodecs, RefusesBlockTablesThatDoNotFitTheEntry) {
  const TBytes good = Pack({Input("A", Compressible(4 * kBlock + 9, 1), TResourceCodec::LZ4)});
  ASSERT_TRUE(ParseStore(good).Ok());
  ASSERT_EQ(Peek<std::uint8_t>(good, Record(0) + 12), 1);
  const auto dataAt = static_cast<std::size_t>(Peek<std::uint64_t>(good, Record(0) + 16));
  auto expectBad = [](TBytes blob, const std::string& why, const std::string& text) {
    const TStoreParse parsed = ParseStore(blob);
    EXPECT_FALSE(parsed.Ok()) << why;
    EXPECT_TRUE(parsed.Entries.empty()) << why;
    EXPECT_NE(parsed.Error.find(text), std::string::npos) << why << ": " << parsed.Error;
  };
  auto codec = good;
  Poke<std::uint8_t>(codec, Record(0) + 12, 3);
  expectBad(codec, "unknown codec", "unknown codec");
  auto noBlocks = good;
  Poke<std::uint32_t>(noBlocks, Record(0) + 40, 0);
  expectBad(noBlocks, "block size 0", "block size out of range");
  auto hugeBlocks = good;
  Poke<std::uint32_t>(hugeBlocks, Record(0) + 40, kMaxBlockSize + 1);
  expectBad(hugeBlocks, "block size beyond the scratch buffer", "block size out of range");
  auto bigger = good;  // more content claimed: more blocks than the table holds
  Poke<std::uint64_t>(bigger, Record(0) + 32, 4 * kBlock + 9 + kBlock);
  expectBad(bigger, "content size beyond the blocks", "");
  auto tableLong = good;  // the first block claims one byte more than is there
  Poke<std::uint32_t>(tableLong, dataAt, Peek<std::uint32_t>(good, dataAt) + 1);
  expectBad(tableLong, "table beyond the entry", "blocks beyond the entry");
  auto tableShort = good;
  Poke<std::uint32_t>(tableShort, dataAt, Peek<std::uint32_t>(good, dataAt) - 1);
  expectBad(tableShort, "table short of the entry", "blocks do not fill the entry");
  auto wraps = good;  // lengths that wrap a 32-bit sum must not pass
  Poke<std::uint32_t>(wraps, dataAt, 0xFFFFFFFFu);
  expectBad(wraps, "wrapping table", "blocks beyond the entry");
  auto empty = good;
  Poke<std::uint32_t>(empty, dataAt, 0);
  expectBad(empty, "empty block", "empty block");
  auto raw = Pack({Input("A", Noise(100, 1), TResourceCodec::Raw)});
  Poke<std::uint64_t>(raw, Record(0) + 32, 99);
  expectBad(raw, "raw entry with another size", "raw entry");
}

// Replaces one entry's second block, in place, with the given bytes (of its length).
TBytes WithBlock(const TBytes& blob, const TBytes& replacement) {
  TBytes damaged = blob;
  const auto dataAt = static_cast<std::size_t>(Peek<std::uint64_t>(blob, Record(0) + 16));
  const std::uint32_t first = Peek<std::uint32_t>(blob, dataAt);
  const std::uint32_t second = Peek<std::uint32_t>(blob, dataAt + 4);
  const std::uint64_t blocks = (Peek<std::uint64_t>(blob, Record(0) + 32) + kBlock - 1) / kBlock;
  const std::size_t at = dataAt + static_cast<std::size_t>(blocks) * 4 + first;
  EXPECT_EQ(replacement.size(), second);
  std::copy(replacement.begin(), replacement.end(), damaged.begin() + static_cast<std::ptrdiff_t>(at));
  return damaged;
}

TEST(StoreCodecs, DamagedBlocksEndTheDemoWithOneStoreLine) {
  for (TResourceCodec codec : {TResourceCodec::LZ4, TResourceCodec::Zstd}) {
    const std::string label(CodecName(codec));
    const TBytes original = Compressible(4 * kBlock, 2);
    const TBytes blob = Pack({Input("TEX_X", original, codec)});
    const auto dataAt = static_cast<std::size_t>(Peek<std::uint64_t>(blob, Record(0) + 16));
    const std::uint32_t second = Peek<std::uint32_t>(blob, dataAt + 4);

    // A block of other content that is itself valid, but decompresses to fewer bytes.
    TBytes shorter = CompressEntry(Compressible(kBlock / 2, 9), codec, kBlock);
    shorter.erase(shorter.begin(), shorter.begin() + 4);
    ASSERT_LE(shorter.size(), second) << label;
    if (codec == TResourceCodec::Zstd) {
      // zstd skips frames of its "skippable" kind: pad with one so the length fits.
      const std::size_t pad = second - shorter.size();
      if (pad >= 8) {
        TBytes skippable = {0x50, 0x2A, 0x4D, 0x18};
        const auto body = static_cast<std::uint32_t>(pad - 8);
        for (int i = 0; i < 4; ++i) skippable.push_back(static_cast<std::uint8_t>(body >> (8 * i)));
        skippable.resize(pad, 0);
        shorter.insert(shorter.end(), skippable.begin(), skippable.end());
      }
    } else {
      shorter.resize(second, 0);  // trailing bytes LZ4 reads as more sequences: an error either way
    }
    std::vector<std::pair<std::string, TBytes>> damages;
    damages.emplace_back("garbage", WithBlock(blob, Noise(second, 5)));
    if (shorter.size() == second) damages.emplace_back("shorter", WithBlock(blob, shorter));
    for (const auto& [what, damaged] : damages) {
      const TStoreParse parsed = ParseStore(damaged);
      ASSERT_TRUE(parsed.Ok()) << "the table still fits: " << parsed.Error;
      const TResourceEntry& entry = parsed.Entries.at(0);
      std::string error;
      const TBytes got = Streamed(entry, &error);
      EXPECT_NE(error.find("entry \"TEX_X\": block 1 "), std::string::npos) << label << " " << what << ": " << error;
      EXPECT_EQ(got.size(), kBlock) << "only the block before the damage, " << label << " " << what;

      // Through the stream: reading the first block still works, the second is fatal.
      TChildOutcome outcome = RunInChild([&] {
        TResourceStream stream(entry);
        std::vector<std::uint8_t> buffer(4 * kBlock);
        stream.ReadBuffer(buffer.data(), kBlock);
        WriteLine("first block read");
        stream.ReadBuffer(buffer.data() + kBlock, 3 * kBlock);
      });
      EXPECT_TRUE(outcome.Exited) << outcome.Output;
      EXPECT_EQ(outcome.Status, 217) << outcome.Output;
      EXPECT_EQ(outcome.Output.rfind("first block read\n[uStore] ERROR: " + error + "\n", 0), 0u)
          << label << " " << what << ": " << outcome.Output;
      EXPECT_FATAL(StreamEntry(entry, [](std::span<const std::uint8_t>) {}), 217, "[uStore] ERROR: " + error);
    }
    if (codec == TResourceCodec::Zstd) {
      EXPECT_EQ(damages.size(), 2u) << "the shorter-block case ran";
    }
  }
}

TEST(StoreCodecs, ATemporaryFileTakesAnEntryWholeAndGoesWhenItIsDamaged) {
  const TBytes original = Compressible(9 * kBlock + 1, 3);
  const TBytes blob = Pack({Input("SONG", original, TResourceCodec::LZ4)});
  const TStoreParse parsed = ParseStore(blob);
  ASSERT_TRUE(parsed.Ok());
  const auto path = std::filesystem::temp_directory_path() / ("kelvo-entry-" + std::to_string(getpid()));
  {
    std::ofstream(path) << std::string(20 * kBlock, 'x');  // an older, longer file is replaced
  }
  {
    TTemporaryFile file = TTemporaryFile::CreateAt(path.string(), "uTest");
    file.WriteEntry(parsed.Entries.at(0));
    TBytes written(static_cast<std::size_t>(file.Size()));
    written.resize(file.ReadAt(0, written.data(), written.size()));
    EXPECT_EQ(written, original);
  }
  EXPECT_FALSE(std::filesystem::exists(path));

  // A block that does not decompress: the half-written file goes before the one line.
  const auto dataAt = static_cast<std::size_t>(Peek<std::uint64_t>(blob, Record(0) + 16));
  const TBytes damaged = WithBlock(blob, Noise(Peek<std::uint32_t>(blob, dataAt + 4), 7));
  const TStoreParse broken = ParseStore(damaged);
  ASSERT_TRUE(broken.Ok());
  std::string error;
  Streamed(broken.Entries.at(0), &error);
  ASSERT_FALSE(error.empty()) << "the damage must reach a block";
  auto writeBroken = [&] {
    TTemporaryFile file = TTemporaryFile::CreateAt(path.string(), "uTest");
    file.WriteEntry(broken.Entries.at(0));
  };
  EXPECT_FATAL(writeBroken(), 217, "[uStore] ERROR: " + error);
  EXPECT_FALSE(std::filesystem::exists(path)) << "the damaged entry's file was left behind";
}

}  // namespace
