// Tests of the WAV reader: every failed check with its report and status (from memory and
// from files), the layouts it must refuse or accept, what it leaves unread, and the detour
// of the embedded song through a temporary file beside the executable.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/wav.hpp"
#include "base/loglines.hpp"
#include "tests/support/fatal_expect.hpp"

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutCode(TBytes& b, std::size_t at, const char* code) { std::memcpy(&b.at(at), code, 4); }

// A canonical 44-byte-header file: 16-bit PCM with the given samples, then the tail.
TBytes MakeWav(const TBytes& samples, std::uint16_t channels = 2, std::uint32_t rate = 44100,
               const TBytes& tail = {}) {
  TBytes b(44, 0);
  PutCode(b, 0, "RIFF");
  Put32(b, 4, static_cast<std::uint32_t>(36 + samples.size() + tail.size()));
  PutCode(b, 8, "WAVE");
  PutCode(b, 12, "fmt ");
  Put32(b, 16, 16);
  b[20] = 1;  // PCM
  b[22] = static_cast<std::uint8_t>(channels);
  Put32(b, 24, rate);
  Put32(b, 28, rate * channels * 2);
  b[32] = static_cast<std::uint8_t>(channels * 2);
  b[34] = 16;
  PutCode(b, 36, "data");
  Put32(b, 40, static_cast<std::uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

TBytes Pattern(std::size_t count, unsigned seed = 7) {
  TBytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed * 17 + (i >> 8)) & 0xff);
  return b;
}

// A fresh directory for the test's files.
fs::path ScratchDir() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::temp_directory_path() /
                 ("kelvo-wav-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void WriteFile(const fs::path& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool SameBytes(const TUInt8DynArray& data, const TBytes& expected) {
  return data.Length() == expected.size() &&
         (expected.empty() || std::memcmp(data.Data(), expected.data(), expected.size()) == 0);
}

struct TBadFile {
  const char* Name;
  TBytes Bytes;
  std::string Message;
  int Line;
};

std::vector<TBadFile> BadFiles() {
  const TBytes good = MakeWav(Pattern(100));
  auto cut = [&](std::size_t n) { return TBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)); };
  auto with = [&](std::size_t at, const char* code) {
    TBytes b = good;
    PutCode(b, at, code);
    return b;
  };
  TBytes neither = with(0, "RIFX");
  PutCode(neither, 8, "AVI ");
  TBytes longData = good;
  Put32(longData, 40, 101);
  return {
      {"empty", {}, "file too short (riff chunk)", 125},
      {"11 header bytes", cut(11), "file too short (riff chunk)", 125},
      {"RIFX", with(0, "RIFX"), "first 4 bytes not RIFF", 135},
      {"not WAVE", with(8, "AVI "), "riff type not WAVE", 136},
      {"neither RIFF nor WAVE", neither, "first 4 bytes not RIFF", 135},
      {"23 format bytes", cut(35), "file too short (\"fmt \" chunk)", 139},
      {"LIST at 12", with(12, "LIST"), "no \"fmt \" chunk where expected", 158},
      {"3 bytes of data code", cut(39), "file too short (data chunk)", 165},
      {"fact at 36", with(36, "fact"), "no data chunk where expected", 174},
      {"3 bytes of data length", cut(43), "file too short (data chunk length)", 181},
      {"no samples", cut(44), "file too short (data)", 194},
      {"one sample byte short", longData, "file too short (data)", 194},
  };
}

}  // namespace

TEST(WavParse, EveryFailedCheckHasItsMessageAndLine) {
  for (const TBadFile& bad : BadFiles()) {
    TWAVParse parse = ParseWAVBytes(bad.Bytes);
    EXPECT_FALSE(parse.Ok()) << bad.Name;
    EXPECT_EQ(parse.Error, bad.Message) << bad.Name;
    EXPECT_EQ(parse.Line, bad.Line) << bad.Name;
  }
}

TEST(WavParse, EveryFailedCheckEndsLoadFromFileWithItsReport) {
  fs::path dir = ScratchDir();
  int index = 0;
  for (const TBadFile& bad : BadFiles()) {
    fs::path path = dir / ("bad-" + std::to_string(index++) + ".wav");
    WriteFile(path, bad.Bytes);
    std::string report = bad.Message + " (uWAV, line " + std::to_string(bad.Line) + ")";
    SCOPED_TRACE(bad.Name);
    EXPECT_FATAL(TWAV().LoadFromFile(path.string()), 217, report);
  }
  fs::remove_all(dir);
}

TEST(WavParse, CorruptDataLengthIsRefusedBeforeAnyAllocation) {
  // 4 GiB - 1 announced, 100 bytes present. With the address space capped at 1 GiB an
  // attempt to allocate the announced length would end as "Out of memory" instead.
  TBytes bytes = MakeWav(Pattern(100));
  Put32(bytes, 40, 0xFFFFFFFFu);
  fs::path dir = ScratchDir();
  fs::path path = dir / "huge.wav";
  WriteFile(path, bytes);
  auto loadCapped = [&] {
#ifndef __SANITIZE_ADDRESS__  // the address sanitizer's shadow memory needs the address space
    rlimit limit{1u << 30, 1u << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
    TWAV().LoadFromFile(path.string());
  };
  EXPECT_FATAL(loadCapped(), 217, "file too short (data) (uWAV, line 194)");
  TWAVParse parse = ParseWAVBytes(bytes);
  EXPECT_EQ(parse.Error, "file too short (data)");
  fs::remove_all(dir);
}

TEST(WavParse, ExtendedFormatBodyOrChunkBeforeDataIsRefused) {
  // An extensible format header: a 40-byte "fmt " body, so "data" is not at byte 36.
  TBytes extensible = MakeWav(Pattern(64));
  Put32(extensible, 16, 40);
  Put32(extensible, 20, 0xFFFE | (2u << 16));
  TBytes extension(24, 0);
  extension[0] = 22;
  extensible.insert(extensible.begin() + 36, extension.begin(), extension.end());
  // A LIST chunk between "fmt " and "data".
  TBytes listed = MakeWav(Pattern(64));
  TBytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  listed.insert(listed.begin() + 36, list.begin(), list.end());

  for (const TBytes* bytes : {&extensible, &listed}) {
    TWAVParse parse = ParseWAVBytes(*bytes);
    EXPECT_EQ(parse.Error, "no data chunk where expected");
    EXPECT_EQ(parse.Line, 174);
  }
}

TEST(WavParse, FieldsAreStoredAsReadAndUntestedFieldsDoNotMatter) {
  TBytes samples = Pattern(4000, 3);
  TBytes bytes = MakeWav(samples, 6, 48000);
  Put32(bytes, 4, 12345);  // wrong RIFF length
  bytes[20] = 3;           // IEEE float, not PCM
  Put32(bytes, 16, 99);    // wrong "fmt " length
  TWAVParse parse = ParseWAVBytes(bytes);
  ASSERT_TRUE(parse.Ok()) << parse.Error;
  EXPECT_EQ(parse.RiffHeader.ChunkID, 0x52494646u);  // "RIFF", first character highest
  EXPECT_EQ(parse.RiffHeader.ChunkSize, 12345u);
  EXPECT_EQ(parse.RiffHeader.Format, 0x57415645u);   // "WAVE"
  EXPECT_EQ(parse.FmtChunk.ChunkID, 0x666d7420u);    // "fmt "
  EXPECT_EQ(parse.FmtChunk.ChunkSize, 99u);
  EXPECT_EQ(parse.FmtChunk.AudioFormat, 3u);
  EXPECT_EQ(parse.FmtChunk.NumChannels, 6u);
  EXPECT_EQ(parse.FmtChunk.SampleRate, 48000u);
  EXPECT_EQ(parse.FmtChunk.ByteRate, 48000u * 12u);
  EXPECT_EQ(parse.FmtChunk.BlockAlign, 12u);
  EXPECT_EQ(parse.FmtChunk.BitsPerSample, 16u);
  EXPECT_TRUE(SameBytes(parse.Data, samples));

  TWAVParse empty = ParseWAVBytes(MakeWav({}));
  ASSERT_TRUE(empty.Ok());
  EXPECT_TRUE(empty.Data.Empty());
}

TEST(WavFile, LoadsAndLeavesTheTrailingChunksUnread) {
  TBytes samples = Pattern(10000, 5);
  TBytes tail(66, 0xEE);  // a LIST chunk of 58 bytes
  PutCode(tail, 0, "LIST");
  Put32(tail, 4, 58);
  fs::path dir = ScratchDir();
  fs::path path = dir / "song.wav";
  WriteFile(path, MakeWav(samples, 2, 44100, tail));

  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  TWAVFileSource source(
      [fd](std::uint64_t offset, void* buffer, std::size_t count) {
        const ssize_t n = pread(fd, buffer, count, static_cast<off_t>(offset));
        return n > 0 ? static_cast<std::size_t>(n) : 0;
      },
      fs::file_size(path));
  TWAVParse parse = ParseWAV(source);
  ASSERT_TRUE(parse.Ok()) << parse.Error;
  EXPECT_EQ(source.Position(), 44 + samples.size());
  close(fd);

  TWAV wav;
  ASSERT_TRUE(wav.LoadFromFile(path.string()));
  EXPECT_EQ(wav.FmtChunk.NumChannels, 2u);
  EXPECT_EQ(wav.FmtChunk.SampleRate, 44100u);
  EXPECT_EQ(wav.RiffHeader.Format, FourCC("WAVE"));
  EXPECT_TRUE(SameBytes(wav.Data, samples));
  fs::remove_all(dir);
}

TEST(WavFile, MissingFileReturnsFalseWithoutOutput) {
  fs::path dir = ScratchDir();
  TChildOutcome outcome = RunInChild([&] {
    TWAV wav;
    if (wav.LoadFromFile((dir / "absent.wav").string())) std::_Exit(3);
  });
  EXPECT_TRUE(outcome.Returned) << outcome.Output;
  EXPECT_EQ(outcome.Output, "");
  fs::remove_all(dir);
}

TEST(WavFile, EmbeddedSongLoads) {
  TWAV wav;
  ASSERT_TRUE(wav.LoadFromFile(std::string(KELVO_RES_DIR) + "/SONG.wav"));
  EXPECT_EQ(wav.FmtChunk.NumChannels, 2u);
  EXPECT_EQ(wav.FmtChunk.SampleRate, 44100u);
  EXPECT_EQ(wav.FmtChunk.BitsPerSample, 16u);
  EXPECT_EQ(wav.Data.Length(), 18723556u);
}

// The detour through the file beside the executable. One test, so that no two cases of this
// executable use that file at once.
TEST(WavTemporaryFile, BesideTheExecutableOverwrittenLoadedAndDeleted) {
  const std::string directory = fs::canonical("/proc/self/exe").parent_path().string();
  const fs::path temporary = fs::path(directory) / kTemporarySongFileName;
  // An older file of that name with other samples: the entry's bytes must replace it.
  WriteFile(temporary, MakeWav(Pattern(5000, 1)));
  const TBytes samples = Pattern(3000, 2);
  const TBytes entryBytes = MakeWav(samples, 2, 22050, TBytes(66, 0));

  TChildOutcome outcome = RunInChild([&] {
    TResourceEntry entry;
    entry.Name = "SONG";
    entry.Bytes = entryBytes;
    TWAV wav;
    wav.LoadFromResourceLazinessHack(entry);
    WriteLine(SameBytes(wav.Data, samples) && wav.FmtChunk.SampleRate == 22050 ? "loaded: entry" : "loaded: other");
  });
  ASSERT_TRUE(outcome.Returned) << outcome.Output;
  EXPECT_EQ(outcome.Output,
            "[uWAV] Loading song from resource (laziness hack)\n" + std::string(kSongTempFilePrefix) +
                directory + "/ombrel-tessic-kelvo-temp-waveform.wav\nloaded: entry\n");
  EXPECT_EQ(outcome.Output.find("//"), std::string::npos);
  EXPECT_FALSE(fs::exists(temporary));
}

TEST(WavTemporaryFile, LongPathIsUsedWhole) {
  // A directory path of more than 255 characters: cut there, the file would land elsewhere
  // (or nowhere).
  fs::path dir = ScratchDir();
  fs::path deep = dir;
  while (deep.string().size() < 300) deep /= std::string(60, 'd');
  fs::create_directories(deep);
  const std::string path = (deep / kTemporarySongFileName).string();
  const TBytes samples = Pattern(800, 4);
  const TBytes bytes = MakeWav(samples);

  TChildOutcome outcome = RunInChild([&] {
    TWAV wav;
    wav.LoadThroughTemporaryFile(bytes, path);
    WriteLine(SameBytes(wav.Data, samples) ? "loaded: entry" : "loaded: other");
  });
  ASSERT_TRUE(outcome.Returned) << outcome.Output;
  EXPECT_EQ(outcome.Output,
            std::string(kSongTempFilePrefix) + path + "\nloaded: entry\n");
  EXPECT_FALSE(fs::exists(path));
  fs::remove_all(dir);
}

TEST(WavTemporaryFile, UncreatableFileAndBadContentEndTheDemo) {
  fs::path dir = ScratchDir();
  const TBytes good = MakeWav(Pattern(64));
  const std::string missingDir = (dir / "no-such-dir" / "song.wav").string();
  EXPECT_FATAL(TWAV().LoadThroughTemporaryFile(good, missingDir), 217,
               "Unable to create file \"" + missingDir + "\": No such file or directory");

  // A failed check leaves nothing behind: the name went when the file was made.
  TBytes bad = good;
  PutCode(bad, 8, "AVI ");
  const std::string path = (dir / "song.wav").string();
  EXPECT_FATAL(TWAV().LoadThroughTemporaryFile(bad, path), 217, "riff type not WAVE (uWAV, line 136)");
  EXPECT_FALSE(fs::exists(path));
  fs::remove_all(dir);
}
