// Tests of the benchmark's arithmetic: output splitting, start-up phases, frame reports and
// swap intervals, medians, the allocation log, smaps parsing, the sorting of resident memory
// and the glyph probe's shift.
#include <gtest/gtest.h>

#include "bench/measure.hpp"
#include "base/loglines.hpp"
#include "platform/loglines.hpp"

namespace {

std::vector<TLine> Transcript(std::initializer_list<std::pair<double, std::string_view>> lines) {
  std::vector<TLine> result;
  for (const auto& [ms, text] : lines) result.push_back({ms, std::string(text), false});
  return result;
}

TEST(BenchOutput, SplitsAtBothLineEndsAndCarriesUnfinishedText) {
  std::string rest;
  std::vector<TLine> first = SplitOutput(rest, "[uGLX] INFO: made cur", 1.0);
  EXPECT_TRUE(first.empty());
  std::vector<TLine> second = SplitOutput(rest, "rent\n  35 fps\r  36", 2.5);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].Text, "[uGLX] INFO: made current");
  EXPECT_DOUBLE_EQ(second[0].Ms, 2.5);
  EXPECT_FALSE(second[0].Carriage);
  EXPECT_EQ(second[1].Text, "  35 fps");
  EXPECT_TRUE(second[1].Carriage);
  EXPECT_EQ(rest, "  36");
}

TEST(BenchStartup, PhasesRunBetweenTheMarks) {
  std::vector<TLine> lines = Transcript({{3, "hint: --device <alsa device>"},
                                         {33, kGLSetupDoneLine},
                                         {34, "[uKelvo] INFO: found resource \"FONT\""},
                                         {206, "[uKelvo] INFO: found resource \"SONG\""},
                                         {231, "[uKelvo] INFO: found resource \"TEX_ARTE1\""},
                                         {240, "[uKelvo] INFO: found resource \"TEX_ARTE10\""},
                                         {363, kRegisteredRendererLine},
                                         {364, kRegisteredRendererLine},
                                         {366, kMappedWindowLine}});
  std::string error;
  std::optional<TStartup> startup = StartupPhases(lines, error);
  ASSERT_TRUE(startup) << error;
  EXPECT_DOUBLE_EQ(startup->Display, 33);
  EXPECT_DOUBLE_EQ(startup->Font, 173);
  EXPECT_DOUBLE_EQ(startup->Song, 25);
  EXPECT_DOUBLE_EQ(startup->Pictures, 132);
  EXPECT_DOUBLE_EQ(startup->Renderers, 3);
  EXPECT_DOUBLE_EQ(startup->Total, 366);
  EXPECT_DOUBLE_EQ(startup->Display + startup->Font + startup->Song + startup->Pictures + startup->Renderers,
                   startup->Total);
}

TEST(BenchStartup, TessicUnderWineIsTimedByItsOwnWindowLines) {
  // tessic.exe writes the demo's lines but its window's are WGL's: with the Linux program's
  // marks its run has no phases, and the GLX lines say nothing of it.
  std::vector<TLine> lines = Transcript({{412, kWindowsWindowLines.GLSetupDone},
                                         {650, "[uKelvo] INFO: found resource \"SONG\""},
                                         {700, "[uKelvo] INFO: found resource \"TEX_ARTE1\""},
                                         {910, kRegisteredRendererLine},
                                         {915, kWindowsWindowLines.Mapped}});
  std::string error;
  std::optional<TStartup> startup = StartupPhases(lines, error, kWindowsWindowLines);
  ASSERT_TRUE(startup) << error;
  EXPECT_DOUBLE_EQ(startup->Display, 412);
  EXPECT_DOUBLE_EQ(startup->Renderers, 5);
  EXPECT_DOUBLE_EQ(startup->Total, 915);
  EXPECT_FALSE(StartupPhases(lines, error, kLinuxWindowLines));
  EXPECT_NE(error.find(kLinuxWindowLines.GLSetupDone), std::string::npos) << error;
}

TEST(BenchStartup, TheWebPageIsTimedFromThePressInThePagesClock) {
  // The browser driver's output as it arrives: its own words, the figures, and the page's
  // console with the page's times. The arrival times say nothing; a report keeps its end.
  const std::string mapped = "@905.5\tn\t" + std::string(kWebWindowLines.Mapped);
  std::string rest;
  std::vector<TLine> output = SplitOutput(
      rest,
      "=first_frame_ms\t921.0\n=renderer\tANGLE (Mesa/X.org, llvmpipe)\n=bad\t12x\nchromium started\n"
      "@12.25\tn\t" + std::string(kWebWindowLines.GLSetupDone) + "\n" +
      "@650\tn\t[uKelvo] INFO: found resource \"SONG\"\n@700\tn\t[uKelvo] INFO: found resource \"TEX_ARTE1\"\n"
      "@900\tn\t" + std::string(kRegisteredRendererLine) + "\n" + mapped + "\n@1905\tr\t  40 fps\n"
      "@1999\tx\t  99 fps\n@abc\tn\tlost\n@2905\tr\t  50 fps\n",
      70000);
  const TBrowserOutput run = ParseBrowserOutput(output);
  EXPECT_EQ(run.Number("first_frame_ms"), 921.0);
  EXPECT_EQ(run.Figures.at("renderer"), "ANGLE (Mesa/X.org, llvmpipe)");
  EXPECT_FALSE(run.Number("bad"));
  EXPECT_FALSE(run.Number("missing"));
  ASSERT_EQ(run.Console.size(), 7u);
  std::string error;
  std::optional<TStartup> startup = StartupPhases(run.Console, error, kWebWindowLines);
  ASSERT_TRUE(startup) << error;
  EXPECT_DOUBLE_EQ(startup->Display, 12.25);
  EXPECT_DOUBLE_EQ(startup->Total, 905.5);
  EXPECT_EQ(FrameReports(run.Console), (std::vector<int>{40, 50}));
  EXPECT_DOUBLE_EQ(MeanReport(run.Console, 2000), 50);
  EXPECT_FALSE(StartupPhases(run.Console, error, kLinuxWindowLines));
}

TEST(BenchStartup, StepsInsideAPhase) {
  std::vector<TLine> lines = Transcript({{34, "[uKelvo] INFO: found resource \"FONT\""},
                                         {35, "[uFont] GenerateTextureAtlasBMP: Rendering Bitmap"},
                                         {51, "[uFont] GenerateTextureAtlasBMP: Creating GL Texture"},
                                         {206, "[uKelvo] INFO: found resource \"SONG\""},
                                         {207, "[uFont] GenerateTextureAtlasBMP: Rendering Bitmap"}});
  EXPECT_EQ(Between(lines, "Rendering Bitmap", "Creating GL Texture"), 16);
  EXPECT_EQ(Between(lines, "Creating GL Texture", "found resource \"SONG\""), 155);
  // The end must come after the start.
  EXPECT_FALSE(Between(lines, "found resource \"SONG\"", "Creating GL Texture"));
  EXPECT_FALSE(Between(lines, "Rendering Bitmap", "Mapped Window"));
}

TEST(BenchStartup, AMissingOrMisplacedMarkIsAnError) {
  std::string error;
  EXPECT_FALSE(StartupPhases(Transcript({{33, kGLSetupDoneLine},
                                         {206, "[uKelvo] INFO: found resource \"SONG\""},
                                         {300, kRegisteredRendererLine},
                                         {301, kMappedWindowLine}}),
                             error));
  EXPECT_NE(error.find("TEX_"), std::string::npos) << error;

  // A program that maps its window before loading anything has no phases.
  EXPECT_FALSE(StartupPhases(Transcript({{33, kGLSetupDoneLine},
                                         {34, kMappedWindowLine},
                                         {206, "[uKelvo] INFO: found resource \"SONG\""},
                                         {231, "[uKelvo] INFO: found resource \"TEX_ARTE1\""},
                                         {300, kRegisteredRendererLine}}),
                             error));
  EXPECT_NE(error.find("Mapped Window"), std::string::npos) << error;
}

TEST(BenchFrames, OnlyCarriageEndedReportsCount) {
  std::vector<TLine> lines{{1, "  40 fps", true},
                           {2, "[uKelvo] INFO: 12 fps", true},
                           {3, "  35 fps", false},
                           {4, "   9 fps", true},
                           {5, "1234 fps", true}};
  EXPECT_EQ(FrameReports(lines), (std::vector<int>{40, 9, 1234}));
}

TEST(BenchFrames, MeanReportOfTheWindowOnly) {
  // The opening's reports come before the window; a report at its very start counts.
  std::vector<TLine> lines{{1000, "  60 fps", true},
                           {2000, "  58 fps", true},
                           {3000, "  40 fps", true},
                           {3500, "[uKelvo] INFO: 44 fps", false},
                           {4000, "  38 fps", true},
                           {5000, "  45 fps", true}};
  EXPECT_DOUBLE_EQ(MeanReport(lines, 3000), 41);
  EXPECT_DOUBLE_EQ(MeanReport(lines, 5001), 0);
  EXPECT_DOUBLE_EQ(MeanReport({}, 0), 0);
}

TEST(BenchFrames, IntervalsInsideTheWindowOnly) {
  // Swaps at 0, 10, 40, 70, 80, 110 ms; the window starts at 10 ms.
  std::vector<std::uint64_t> swaps{0, 10'000'000, 40'000'000, 70'000'000, 80'000'000, 110'000'000};
  TFrameStats stats = FrameStats(swaps, 10'000'000, UINT64_MAX);
  EXPECT_EQ(stats.Frames, 4);  // 30, 30, 10, 30
  EXPECT_DOUBLE_EQ(stats.MedianMs, 30);
  EXPECT_DOUBLE_EQ(stats.MeanMs, 25);
  EXPECT_DOUBLE_EQ(stats.P90Ms, 30);

  TFrameStats late = FrameStats(swaps, 200'000'000, UINT64_MAX);
  EXPECT_EQ(late.Frames, 0);
  EXPECT_DOUBLE_EQ(late.MedianMs, 0);
}

TEST(BenchFrames, MediansAndPercentiles) {
  EXPECT_DOUBLE_EQ(Median({}), 0);
  EXPECT_DOUBLE_EQ(Median({5, 1, 3}), 3);
  EXPECT_DOUBLE_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_DOUBLE_EQ(Percentile({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 90), 9);
  EXPECT_DOUBLE_EQ(Percentile({7}, 90), 7);
}

TEST(BenchMemory, TheLogIsReplayed) {
  const std::string log =
      "A 1000 2097152 400\n"
      "A 9000 1048576 500\n"
      "garbage line\n"
      "F 9000\n"
      "F 7777\n"
      "A 20000 3145728 400\n"
      "A 30000 4194";  // being written when the log was read
  TAllocationLog replay = ReplayAllocations(log);
  ASSERT_EQ(replay.Live.size(), 2u);
  EXPECT_EQ(replay.Live[0].Address, 0x1000u);
  EXPECT_EQ(replay.Live[0].Size, 2097152u);
  EXPECT_EQ(replay.Live[0].Caller, 0x400u);
  EXPECT_EQ(replay.Live[1].Address, 0x20000u);
  ASSERT_EQ(replay.Freed.size(), 1u);
  EXPECT_EQ(replay.Freed[0].Size, 1048576u);
}

TEST(BenchMemory, SmapsMappingsWithTheirResidentSize) {
  const std::string smaps =
      "55d0a0000000-55d0a0400000 r--p 00000000 08:01 1234 /work/build/kelvo\n"
      "Size:               4096 kB\n"
      "Rss:                2048 kB\n"
      "7f0000000000-7f0000800000 rw-p 00000000 00:00 0 \n"
      "Rss:                8192 kB\n"
      "7f1000000000-7f1000100000 rw-s 00000000 00:05 7 /SYSV00000000 (deleted)\n"
      "Rss:                 100 kB\n";
  std::vector<TMapping> mappings = ParseSmaps(smaps);
  ASSERT_EQ(mappings.size(), 3u);
  EXPECT_EQ(mappings[0].Path, "/work/build/kelvo");
  EXPECT_EQ(mappings[0].RssKb, 2048u);
  EXPECT_EQ(mappings[0].End - mappings[0].Start, 0x400000u);
  EXPECT_EQ(mappings[1].Path, "");
  EXPECT_EQ(mappings[1].RssKb, 8192u);
  EXPECT_EQ(mappings[2].Path, "/SYSV00000000 (deleted)");
  EXPECT_EQ(PathAt(mappings, 0x55d0a0000123), "/work/build/kelvo");
  EXPECT_EQ(PathAt(mappings, 0x55d0a0400000), "");
}

TEST(BenchMemory, DriverFilesAndAtlasSizes) {
  EXPECT_TRUE(IsDriverPath("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"));
  EXPECT_TRUE(IsDriverPath("/usr/lib/x86_64-linux-gnu/libLLVM-15.so.1"));
  EXPECT_TRUE(IsDriverPath("/usr/lib/x86_64-linux-gnu/libGLX_mesa.so.0.0.0"));
  EXPECT_TRUE(IsDriverPath("/usr/lib/x86_64-linux-gnu/libgallium-24.2.so"));
  EXPECT_FALSE(IsDriverPath("/usr/lib/x86_64-linux-gnu/libGLU.so.1"));  // the demo's own helper
  EXPECT_FALSE(IsDriverPath("/usr/lib/x86_64-linux-gnu/libfreetype.so.6"));
  EXPECT_FALSE(IsDriverPath("/work/main/build-bench/kelvo"));
  EXPECT_FALSE(IsDriverPath(""));

  EXPECT_TRUE(IsAtlasSize(8192ull * 8192 * 4));
  EXPECT_TRUE(IsAtlasSize(1024ull * 1024 * 4));
  EXPECT_FALSE(IsAtlasSize(8192ull * 8191 * 4));
  EXPECT_FALSE(IsAtlasSize(1600ull * 900 * 4));
}

// A process with two pictures of one size, a song, an atlas, a driver texture, the store
// mapping and a driver library.
struct TFixture {
  std::vector<TMapping> Mappings{
      {0x1000, 0x9000, "r-xp", "/build/kelvo", 16},           // code
      {0x100000, 0x200000, "r--p", "/build/kelvo", 900},      // the store, 1 MiB file
      {0x300000, 0x380000, "r-xp", "/usr/lib/dri/swrast_dri.so", 200},
      {0x400000, 0x480000, "rw-s", "/SYSV00000000 (deleted)", 50},
      {0x500000, 0x580000, "r-xp", "/usr/lib/libfreetype.so.6", 30},
  };
  TDesignBuffers Design{{1600ull * 900 * 4, 1600ull * 900 * 4, 934ull * 762 * 4}, 18'000'000, "/build/kelvo",
                        "/build/kelvo", 0x100000};
  std::map<std::uint64_t, std::uint64_t> Resident;  // by address

  TMemoryBreakdown Sort(const TAllocationLog& log, double total) {
    return SortMemory(log, Mappings, Design, total, [&](const TAllocation& block) { return Resident[block.Address]; });
  }
};

TEST(BenchMemory, BuffersAreSortedByOwnerAndSize) {
  TFixture f;
  TAllocationLog log;
  log.Live = {{0x10000000, 1600ull * 900 * 4, 0x2000},      // picture
              {0x20000000, 1600ull * 900 * 4, 0x2000},      // picture of the same size
              {0x30000000, 934ull * 762 * 4, 0x2100},       // boat
              {0x40000000, 18'000'000, 0x2200},             // song
              {0x50000000, 8192ull * 8192 * 4, 0x2300},     // atlas
              {0x60000000, 8192ull * 8192 * 4, 0x300100},   // the driver's copy of it
              {0x70000000, 2'000'000, 0x500010}};           // a FreeType block: rest
  f.Resident = {{0x10000000, 100}, {0x20000000, 200}, {0x30000000, 300}, {0x40000000, 400},
                {0x50000000, 500}, {0x60000000, 600}, {0x70000000, 700}};
  TMemoryBreakdown m = f.Sort(log, 1'000'000'000);
  EXPECT_EQ(m.PictureBuffers, 3);
  EXPECT_DOUBLE_EQ(m.Pictures, 600);
  EXPECT_EQ(m.SongBuffers, 1);
  EXPECT_DOUBLE_EQ(m.Song, 400);
  EXPECT_EQ(m.AtlasBuffers, 1);
  EXPECT_DOUBLE_EQ(m.Atlas, 500);
  // The driver's texture, its code and its shared-memory image.
  EXPECT_DOUBLE_EQ(m.Driver, 600 + 200 * 1024.0 + 50 * 1024.0);
  EXPECT_DOUBLE_EQ(m.Store, 900 * 1024.0);  // the code mapping of the same file is not the store
  EXPECT_TRUE(m.Unexpected.empty());
  EXPECT_TRUE(m.Transient.empty());
  EXPECT_DOUBLE_EQ(m.Pictures + m.Song + m.Atlas + m.Driver + m.Store + m.Rest, 1'000'000'000);
}

TEST(BenchMemory, ASecondCopyIsReported) {
  TFixture f;
  TAllocationLog log;
  log.Live = {{0x10000000, 1600ull * 900 * 4, 0x2000},
              {0x20000000, 1600ull * 900 * 4, 0x2000},
              {0x28000000, 1600ull * 900 * 4, 0x2000},  // a third buffer for two pictures
              {0x40000000, 18'000'000, 0x2200},
              {0x48000000, 18'000'000, 0x2200},         // the song twice
              {0x50000000, 8192ull * 8192 * 4, 0x2300},
              {0x58000000, 8192ull * 8192 * 4, 0x2300}};  // two atlases
  log.Freed = {{0x80000000, 5'000'000, 0x2000},           // a copy dropped during start-up
               {0x90000000, 5'000'000, 0x300100}};        // the driver's: not ours
  f.Resident = {{0x28000000, 1000}, {0x48000000, 2000}, {0x58000000, 4000}};
  TMemoryBreakdown m = f.Sort(log, 10'000'000);
  EXPECT_EQ(m.PictureBuffers, 2);
  EXPECT_EQ(m.SongBuffers, 1);
  EXPECT_EQ(m.AtlasBuffers, 1);
  ASSERT_EQ(m.Unexpected.size(), 3u);
  EXPECT_EQ(m.Unexpected[0], std::to_string(1600ull * 900 * 4) + " bytes @ /build/kelvo");
  EXPECT_DOUBLE_EQ(m.UnexpectedBytes, 7000);
  ASSERT_EQ(m.Transient.size(), 1u);
  EXPECT_EQ(m.Transient[0], "5000000 bytes @ /build/kelvo");
}

TEST(BenchGlyphProbe, QuadsAreMovedWholeOntoTheScreen) {
  // On screen already: stays.
  EXPECT_FLOAT_EQ(WrapShift(100, 250, 1920), 0);
  // Far right: lands at left modulo (1920 - 150).
  const float shift = WrapShift(5000, 5150, 1920);
  EXPECT_FLOAT_EQ(5000 + shift, std::fmod(5000.0f, 1770.0f));
  EXPECT_GE(5150 + shift, 150);
  EXPECT_LE(5150 + shift, 1920);
  // Left of the screen: comes in from the right.
  const float left = WrapShift(-100, 50, 1920);
  EXPECT_FLOAT_EQ(-100 + left, 1670);
  // Wider than the screen: its left edge goes to 0.
  EXPECT_FLOAT_EQ(WrapShift(300, 2500, 1920), -300);
}

}  // namespace
