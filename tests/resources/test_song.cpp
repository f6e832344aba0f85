// Tests of the song: the exact file layout the player expects, byte-identical
// regeneration, the mastering limits measured on the generated file, the loudness meter
// against reference signals, the master bus on a synthetic mix, and the score parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "film/schedule.hpp"
#include "resources/song/dsp.hpp"
#include "resources/song/effects.hpp"
#include "resources/song/loudness.hpp"
#include "resources/song/mastering.hpp"
#include "resources/song/score.hpp"
#include "resources/song/song_format.hpp"
#include "tests/support/files.hpp"
#include "tools/sync_measure.hpp"

namespace {

const std::string kSongPath = std::string(KELVO_RES_DIR) + "/SONG.wav";
const std::string kScorePath = std::string(KELVO_SOURCE_DIR) + "/resources/score/song.score";
constexpr double kRate = 44100.0;

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

// The song's samples as read from the file, one vector per channel.
struct TSongSamples {
  std::vector<std::int16_t> LeftRaw, RightRaw;
  std::vector<float> Left, Right;
};

const TSongSamples& Song() {
  static const TSongSamples song = [] {
    TSongSamples s;
    const std::vector<std::uint8_t>& b = SongBytes();
    if (b.size() != kSongFileSize) return s;
    for (std::size_t i = 0; i < kSongFrames; ++i) {
      s.LeftRaw.push_back(static_cast<std::int16_t>(U16(b, 44 + 4 * i)));
      s.RightRaw.push_back(static_cast<std::int16_t>(U16(b, 46 + 4 * i)));
      s.Left.push_back(static_cast<float>(s.LeftRaw.back() / 32768.0));
      s.Right.push_back(static_cast<float>(s.RightRaw.back() / 32768.0));
    }
    return s;
  }();
  return song;
}

double Db(double power) { return 10.0 * std::log10(std::max(power, 1e-20)); }

// A sine of the given peak level (dBFS) in one or both channels.
struct TSignal {
  std::vector<float> Left, Right;
  void AddSine(double hz, double peakDb, double seconds, double rate, bool both = true) {
    const double amplitude = song::DbToGain(peakDb);
    const std::size_t count = static_cast<std::size_t>(seconds * rate);
    for (std::size_t i = 0; i < count; ++i) {
      const float value = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
      Left.push_back(value);
      Right.push_back(both ? value : 0.0f);
    }
  }
  double Loudness(double rate) const { return song::IntegratedLoudness(Left, Right, rate); }
};

}  // namespace

// ---- The file as the player reads it ----------------------------------------------------

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
    if (size % 2 != 0) {
      EXPECT_EQ(b.at(at - 1), 0u) << id << " pad byte";
    }
  }
  EXPECT_EQ(at, b.size());
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0].first, "INAM");
  EXPECT_FALSE(tags[0].second.empty());
  EXPECT_EQ(tags[1], (std::pair<std::string, std::string>{"IART", "ombrel"}));
  EXPECT_EQ(tags[2], (std::pair<std::string, std::string>{"IPRD", "tessic"}));
}

// Rendering again from the same score gives the same bytes: no clock, no unseeded
// randomness, no dependence on how the two threads interleave.
TEST(SongFile, RegenerationIsByteIdentical) {
  const std::string again = std::string(KELVO_BUILD_DIR) + "/test_song_again.wav";
  const std::string command = std::string(KELVO_BUILD_DIR) + "/kelvo-gen-song " + again + " " + kScorePath + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::vector<std::uint8_t> second = ReadBytes(again);
  std::remove(again.c_str());
  ASSERT_EQ(second.size(), SongBytes().size());
  EXPECT_TRUE(second == SongBytes());
}

// ---- Mastering, measured on the file ------------------------------------------------------

TEST(SongMastering, NoClippingAndPeakAtMostMinusOneDbfs) {
  const TSongSamples& s = Song();
  ASSERT_EQ(s.LeftRaw.size(), kSongFrames);
  int peak = 0;
  std::size_t railHits = 0;
  for (const auto* channel : {&s.LeftRaw, &s.RightRaw}) {
    for (const std::int16_t sample : *channel) {
      peak = std::max(peak, std::abs(int{sample}));
      if (sample == 32767 || sample == -32768) ++railHits;
    }
  }
  EXPECT_EQ(railHits, 0u);
  EXPECT_LE(20.0 * std::log10(peak / 32768.0), -1.0);
  EXPECT_GT(20.0 * std::log10(peak / 32768.0), -6.0) << "the song is mastered far below its ceiling";
}

TEST(SongMastering, IntegratedLoudnessBetweenMinus16AndMinus12Lufs) {
  const TSongSamples& s = Song();
  ASSERT_EQ(s.Left.size(), kSongFrames);
  const double loudness = song::IntegratedLoudness(s.Left, s.Right, kRate);
  EXPECT_GE(loudness, -16.0);
  EXPECT_LE(loudness, -12.0);
}

// Both channels carry sound and differ: the side signal is well above rounding noise.
TEST(SongMastering, StereoChannelsBothUsedAndDifferent) {
  const TSongSamples& s = Song();
  ASSERT_EQ(s.Left.size(), kSongFrames);
  double left = 0.0, right = 0.0, mid = 0.0, side = 0.0;
  for (std::size_t i = 0; i < kSongFrames; ++i) {
    left += double{s.Left[i]} * s.Left[i];
    right += double{s.Right[i]} * s.Right[i];
    const double m = 0.5 * (s.Left[i] + s.Right[i]), d = 0.5 * (s.Left[i] - s.Right[i]);
    mid += m * m;
    side += d * d;
  }
  const double frames = static_cast<double>(kSongFrames);
  EXPECT_GT(Db(left / frames), -30.0);
  EXPECT_GT(Db(right / frames), -30.0);
  EXPECT_LT(std::abs(Db(left) - Db(right)), 3.0) << "the mix leans to one side";
  EXPECT_GT(Db(side) - Db(mid), -20.0) << "the channels are nearly identical";
}

// Sound in every 5-second window up to the closing fade, no DC offset, and a clean loop
// seam: the player jumps from the last frame straight back to the first.
TEST(SongMastering, AudibleThroughoutCentredAndLoopsWithoutAClick) {
  const TSongSamples& s = Song();
  ASSERT_EQ(s.Left.size(), kSongFrames);
  const song::TScore score = song::ParseScoreFile(kScorePath);
  ASSERT_TRUE(score.Fade.has_value());
  const double fadeStart = score.SecondsAt(score.Fade->FromBeat);
  EXPECT_GT(fadeStart, 86.0) << "the demo ends at 86 s; the fade must not start before";
  const std::size_t window = static_cast<std::size_t>(5.0 * kRate);
  for (std::size_t start = 0; (start + window) / kRate <= fadeStart; start += window) {
    double power = 0.0;
    for (std::size_t i = start; i < start + window; ++i) power += double{s.Left[i]} * s.Left[i] + double{s.Right[i]} * s.Right[i];
    EXPECT_GT(Db(power / (2.0 * window)), -35.0) << "quiet window at " << start / kRate << " s";
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < kSongFrames; ++i) sum += s.Left[i] + s.Right[i];
  EXPECT_LT(std::abs(sum / (2.0 * kSongFrames)), 1e-3);
  // The fade has reached digital silence at the end; the song starts from near silence.
  for (std::size_t i = kSongFrames - 100; i < kSongFrames; ++i) {
    ASSERT_EQ(s.LeftRaw[i], 0) << i;
    ASSERT_EQ(s.RightRaw[i], 0) << i;
  }
  EXPECT_LT(std::abs(s.Left[0]), 0.01f);
  EXPECT_LT(std::abs(s.Right[0]), 0.01f);
}

// The opening's time map is the schedule of the demo's own pacing on a 60 Hz display: each
// eighth of bars 1 and 2 at its picture's first frame, bar 3 at the harbour's.
TEST(SongOpening, TimeMapIsTheScheduleOfThePictures) {
  const song::TScore score = song::ParseScoreFile(kScorePath);
  const TOpeningSchedule schedule = ComputeOpeningSchedule();
  ASSERT_EQ(score.TimeMap.size(), schedule.PictureNs.size() + 1) << "regenerate with kelvo-schedule --score";
  for (std::size_t n = 0; n < schedule.PictureNs.size(); ++n) {
    EXPECT_DOUBLE_EQ(score.TimeMap[n].Beat, static_cast<double>(n) / 2.0);
    EXPECT_NEAR(score.TimeMap[n].Seconds, static_cast<double>(schedule.PictureSongNs(n)) / 1e9, 1e-10)
        << "picture " << n + 1 << ": regenerate resources/score/opening.score with kelvo-schedule --score";
  }
  EXPECT_DOUBLE_EQ(score.TimeMap.back().Beat, 8.0);
  EXPECT_NEAR(score.TimeMap.back().Seconds, static_cast<double>(schedule.HarbourSongNs()) / 1e9, 1e-10);
  // From the harbour on, the song keeps its tempo.
  EXPECT_DOUBLE_EQ(score.Tempo, 120.0);
}

// The sixteen hits and the harbour theme's downbeat are heard where the pictures and the
// harbour first show: each is the sharpest rise of the sound near its instant, found as the
// film's sync check finds it, within 1.5 ms (the notes start on the very sample; an attack
// takes about a millisecond to stand out of what rings before it).
TEST(SongOpening, HitsLandOnTheFramesOfThePictures) {
  const TSongSamples& s = Song();
  ASSERT_EQ(s.Left.size(), kSongFrames);
  const std::size_t length = static_cast<std::size_t>(4.5 * kRate);
  std::vector<float> mono(length);
  for (std::size_t i = 0; i < length; ++i) mono[i] = 0.5f * (s.Left[i] + s.Right[i]);
  const filmsync::TEnergy energy = filmsync::HitEnergy(mono, kRate);
  const TOpeningSchedule schedule = ComputeOpeningSchedule();
  std::vector<std::int64_t> instants;
  for (std::size_t n = 0; n < schedule.PictureNs.size(); ++n) instants.push_back(schedule.PictureSongNs(n));
  instants.push_back(schedule.HarbourSongNs());
  for (std::size_t n = 0; n < instants.size(); ++n) {
    const double at = static_cast<double>(instants[n]) / 1e9 * kRate;
    const auto hit = filmsync::FindHit(energy, kRate, std::llround(at - 0.05 * kRate), std::llround(at + 0.05 * kRate));
    ASSERT_TRUE(hit.has_value()) << "no hit near " << instants[n] / 1e6 << " ms";
    EXPECT_NEAR(static_cast<double>(hit->Sample) / kRate * 1000.0, instants[n] / 1e6, 1.5) << "hit " << n + 1;
    EXPECT_GT(hit->RiseDb, 5.0) << "hit " << n + 1;
  }
  // Nothing but the dither's single steps before the first picture.
  for (std::size_t i = 0; i < static_cast<std::size_t>(static_cast<double>(instants[0]) / 1e9 * kRate); ++i) {
    ASSERT_LE(std::abs(int{s.LeftRaw[i]}), 1) << i;
    ASSERT_LE(std::abs(int{s.RightRaw[i]}), 1) << i;
  }
}

// ---- The loudness meter against reference signals ------------------------------------------

// At 48 kHz the two K-weighting stages have published coefficients.
TEST(LoudnessMeter, KWeightingMatchesThePublishedCoefficientsAt48kHz) {
  const song::TKWeighting k = song::KWeightingFor(48000.0);
  EXPECT_NEAR(k.Shelf.B[0], 1.53512485958697, 1e-9);
  EXPECT_NEAR(k.Shelf.B[1], -2.69169618940638, 1e-9);
  EXPECT_NEAR(k.Shelf.B[2], 1.19839281085285, 1e-9);
  EXPECT_NEAR(k.Shelf.A[1], -1.69065929318241, 1e-9);
  EXPECT_NEAR(k.Shelf.A[2], 0.73248077421585, 1e-9);
  EXPECT_EQ(k.HighPass.B, (std::array<double, 3>{1.0, -2.0, 1.0}));
  EXPECT_NEAR(k.HighPass.A[1], -1.99004745483398, 1e-9);
  EXPECT_NEAR(k.HighPass.A[2], 0.99007225036621, 1e-9);
}

// A sine whose peak is at -20 dBFS has a mean square of -23 dB per channel; with both
// channels summed and K-weighting adding nothing near 1 kHz, it reads -20 LUFS, and
// -23 LUFS in one channel only.
TEST(LoudnessMeter, SinesNear1kHzReadTheirLevel) {
  for (const double rate : {44100.0, 48000.0}) {
    TSignal stereo;
    stereo.AddSine(997.0, -20.0, 20.0, rate);
    EXPECT_NEAR(stereo.Loudness(rate), -20.0, 0.1) << rate;
    TSignal mono;
    mono.AddSine(997.0, -20.0, 20.0, rate, false);
    EXPECT_NEAR(mono.Loudness(rate), -23.01, 0.1) << rate;
  }
  // Far above its corner the shelf adds its full 4 dB (less the 0.691 dB that the offset
  // takes back), and the high-pass cuts the deep bass.
  TSignal treble, bass;
  treble.AddSine(8000.0, -20.0, 10.0, kRate);
  bass.AddSine(30.0, -20.0, 10.0, kRate);
  EXPECT_NEAR(treble.Loudness(kRate), -20.0 + 4.0 - 0.691, 0.15);
  EXPECT_LT(bass.Loudness(kRate), -21.5);
}

// The gates: quiet passages more than 10 LU below the rest and near-silence below
// -70 LUFS are left out.
TEST(LoudnessMeter, RelativeAndAbsoluteGatesLeaveOutQuietPassages) {
  const double rate = 48000.0;
  TSignal three;  // -36, -23, -36 dBFS for 10, 60, 10 s
  three.AddSine(1000.0, -36.0, 10.0, rate);
  three.AddSine(1000.0, -23.0, 60.0, rate);
  three.AddSine(1000.0, -36.0, 10.0, rate);
  EXPECT_NEAR(three.Loudness(rate), -23.0, 0.1);

  TSignal four;  // -72, -36, -23, -36, -72 dBFS
  four.AddSine(1000.0, -72.0, 10.0, rate);
  four.AddSine(1000.0, -36.0, 10.0, rate);
  four.AddSine(1000.0, -23.0, 60.0, rate);
  four.AddSine(1000.0, -36.0, 10.0, rate);
  four.AddSine(1000.0, -72.0, 10.0, rate);
  EXPECT_NEAR(four.Loudness(rate), -23.0, 0.1);

  TSignal five;  // -26, -20, -26 dBFS for 20, 20.1, 20 s: nothing is gated
  five.AddSine(1000.0, -26.0, 20.0, rate);
  five.AddSine(1000.0, -20.0, 20.1, rate);
  five.AddSine(1000.0, -26.0, 20.0, rate);
  EXPECT_NEAR(five.Loudness(rate), -23.0, 0.1);

  TSignal silent;
  silent.AddSine(1000.0, -90.0, 5.0, rate);
  EXPECT_TRUE(std::isinf(silent.Loudness(rate)));
}

// ---- The master bus on a synthetic mix -----------------------------------------------------

// A quiet passage, then loud bursts far above full scale: the result reaches the target
// loudness, no sample passes the ceiling, and the fade ends in exact zeros.
TEST(MasterBus, LimitsPeaksReachesTheTargetAndFadesToSilence) {
  TSignal mix;
  mix.AddSine(220.0, -30.0, 6.0, kRate);
  song::TRandom random(7);
  for (int burst = 0; burst < 8; ++burst) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(0.5 * kRate); ++i) {
      const double envelope = std::exp(-static_cast<double>(i) / (0.1 * kRate));
      mix.Left.push_back(static_cast<float>(3.0 * envelope * random.Bipolar()));
      mix.Right.push_back(static_cast<float>(2.0 * envelope * random.Bipolar()));
    }
  }
  mix.AddSine(330.0, -10.0, 6.0, kRate);
  const std::size_t frames = mix.Left.size();
  song::TMasterSettings settings;
  settings.FadeFromSeconds = static_cast<double>(frames) / kRate - 3.0;
  settings.FadeToSeconds = static_cast<double>(frames) / kRate - 1.0;
  song::TMasterReport report;
  const std::vector<std::int16_t> out = song::MasterMix({mix.Left, mix.Right}, settings, kRate, report);
  ASSERT_EQ(out.size(), 2 * frames);
  int peak = 0;
  for (const std::int16_t sample : out) peak = std::max(peak, std::abs(int{sample}));
  EXPECT_LE(peak, static_cast<int>(32768.0 * song::DbToGain(settings.CeilingDb)) + 1);
  EXPECT_NEAR(20.0 * std::log10(peak / 32768.0), report.PeakDb, 1e-9);
  EXPECT_GT(report.MaxLimitingDb, 3.0);
  std::vector<float> left(frames), right(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    left[i] = static_cast<float>(out[2 * i] / 32768.0);
    right[i] = static_cast<float>(out[2 * i + 1] / 32768.0);
  }
  EXPECT_NEAR(song::IntegratedLoudness(left, right, kRate), settings.TargetLufs, 0.15);
  for (std::size_t i = frames - static_cast<std::size_t>(kRate) + 1; i < frames; ++i) {
    ASSERT_EQ(out[2 * i], 0) << i;
    ASSERT_EQ(out[2 * i + 1], 0) << i;
  }
}

// ---- The score parser -----------------------------------------------------------------------

namespace {

const char* const kHeader =
    "tempo 120\n"
    "instrument lead lead gain=-3 cutoff=1800\n"
    "instrument kick kick\n";

song::TScore Parse(const std::string& body) { return song::ParseScoreText(std::string(kHeader) + body, "test.score"); }

}  // namespace

TEST(ScoreParser, NotesChordsTiesRestsAndDrumStepsLandWhereWritten) {
  const song::TScore score = Parse(
      "pattern p 2   # two bars\n"
      "  lead: c4:4 d4 ~:2 r e4+g4:4*0.5 | f#5:8\n"
      "        bb3:8\n"
      "  kick: X...x...........|o...............\n"
      "end\n"
      "play p 3 transpose=2\n");
  ASSERT_EQ(score.Notes.size(), 9u);
  // bar 3 starts on beat 8; lengths are in sixteenths, so four make a beat
  const auto expect = [&](std::size_t i, double start, double length, double pitch, double velocity) {
    EXPECT_DOUBLE_EQ(score.Notes[i].Start, start) << i;
    EXPECT_DOUBLE_EQ(score.Notes[i].Length, length) << i;
    EXPECT_DOUBLE_EQ(score.Notes[i].Pitch, pitch) << i;
    EXPECT_DOUBLE_EQ(score.Notes[i].Velocity, velocity) << i;
  };
  expect(0, 8.0, 1.0, 62.0, 1.0);    // c4 + 2
  expect(1, 9.0, 1.5, 64.0, 1.0);    // d4 tied for another eighth
  expect(2, 11.0, 1.0, 66.0, 0.5);   // e4+g4 after an eighth rest
  expect(3, 11.0, 1.0, 69.0, 0.5);
  expect(4, 12.0, 2.0, 80.0, 1.0);   // f#5, after the bar check
  expect(5, 14.0, 2.0, 60.0, 1.0);   // bb3, continuing the voice on the next line
  expect(6, 8.0, 0.25, 0.0, 1.0);    // drums are not transposed
  expect(7, 9.0, 0.25, 0.0, 0.72);
  expect(8, 12.0, 0.25, 0.0, 0.45);
  EXPECT_EQ(score.Instruments.at(0).Param("gain"), -3.0);
  EXPECT_EQ(score.Instruments.at(0).Param("cutoff"), 1800.0);
  EXPECT_EQ(score.Instruments.at(0).Param("release"), 0.25);  // the kind's default
}

TEST(ScoreParser, PlayOptionsRampsAndFade) {
  const song::TScore score = Parse(
      "pattern p 1\n"
      "  lead: a4:16\n"
      "end\n"
      "play p 1 times=3 velocity=0.5\n"
      "play p 2 on=lead\n"
      "ramp lead cutoff 1=400 3=800 5=800\n"
      "fade 4.5 6\n");
  ASSERT_EQ(score.Notes.size(), 4u);
  EXPECT_DOUBLE_EQ(score.Notes[2].Start, 8.0);
  EXPECT_DOUBLE_EQ(score.Notes[2].Velocity, 0.5);
  EXPECT_DOUBLE_EQ(score.Notes[3].Start, 4.0);
  const song::TRamp* ramp = score.FindRamp(0, "cutoff");
  ASSERT_NE(ramp, nullptr);
  EXPECT_DOUBLE_EQ(ramp->ValueAt(-1.0), 400.0);
  EXPECT_DOUBLE_EQ(ramp->ValueAt(4.0), 600.0);
  EXPECT_DOUBLE_EQ(ramp->ValueAt(100.0), 800.0);
  EXPECT_EQ(score.FindRamp(0, "gain"), nullptr);
  ASSERT_TRUE(score.Fade.has_value());
  EXPECT_DOUBLE_EQ(score.Fade->FromBeat, 14.0);
  EXPECT_DOUBLE_EQ(score.Fade->ToBeat, 20.0);
  EXPECT_DOUBLE_EQ(score.SecondsPerBeat(), 0.5);
}

// A time map places its anchors exactly, runs evenly between them and at the tempo
// around them; BeatAt undoes SecondsAt. Notes keep their beats; only their times move.
TEST(ScoreParser, TimeMapAnchorsAndTheTempoAroundThem) {
  const song::TScore plain = Parse("");
  EXPECT_DOUBLE_EQ(plain.SecondsAt(3.0), 1.5);
  EXPECT_DOUBLE_EQ(plain.BeatAt(1.5), 3.0);

  const song::TScore score = Parse("time 1=0.1 1.5=1.1\ntime 2=1.6\n");
  ASSERT_EQ(score.TimeMap.size(), 3u);
  EXPECT_DOUBLE_EQ(score.SecondsAt(0.0), 0.1);
  EXPECT_DOUBLE_EQ(score.SecondsAt(1.0), 0.6);   // halfway to the second anchor
  EXPECT_DOUBLE_EQ(score.SecondsAt(2.0), 1.1);
  EXPECT_DOUBLE_EQ(score.SecondsAt(3.0), 1.35);
  EXPECT_DOUBLE_EQ(score.SecondsAt(4.0), 1.6);
  EXPECT_DOUBLE_EQ(score.SecondsAt(10.0), 4.6);  // 120 bpm after the last anchor
  EXPECT_DOUBLE_EQ(score.SecondsAt(-0.2), 0.0);  // and before the first
  for (const double beat : {-0.2, 0.0, 0.5, 1.0, 2.5, 3.9, 4.0, 7.25, 100.0}) {
    EXPECT_NEAR(score.BeatAt(score.SecondsAt(beat)), beat, 1e-12) << beat;
  }
}

// Every mistake is reported with the file, the line and what is wrong.
TEST(ScoreParser, ErrorsNameFileLineAndCause) {
  struct TCase {
    std::string Body;
    int Line;  // counted from the first line after the three header lines
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {"bogus 1\n", 1, "unknown statement 'bogus'"},
      {"tempo 90\n", 1, "the tempo is already set"},
      {"instrument x organ\n", 1, "unknown instrument kind 'organ'"},
      {"instrument x pad wobble=3\n", 1, "instrument kind pad has no parameter 'wobble'"},
      {"instrument x pad cutoff=loud\n", 1, "expected a number for cutoff, found 'loud'"},
      {"instrument lead pad\n", 1, "instrument 'lead' is already defined"},
      {"pattern p 1\n  flute: c4\nend\n", 2, "unknown instrument 'flute'"},
      {"pattern p 1\n  lead: h4\nend\n", 2, "bad note 'h4' (expected a letter a-g, optional # or b, octave 0-9)"},
      {"pattern p 1\n  lead: c4:0\nend\n", 2, "a length must be above 0 and at most 1024 sixteenths"},
      {"pattern p 1\n  lead: c4:8\n  lead: c4:12 d4:8\nend\n", 3, "voice lasts 20 sixteenths but pattern p has only 16"},
      {"pattern p 2\n  lead: c4:6 | d4\nend\n", 2, "bar line after 6 sixteenths is not on a bar boundary"},
      {"pattern p 1\n  lead: ~:4\nend\n", 2, "'~' without a note before it"},
      {"pattern p 1\n  lead: c4*3\nend\n", 2, "velocity must be above 0 and at most 2"},
      {"pattern p 1\n  kick: X..y\nend\n", 2, "unexpected 'y' in a drum grid (use X x o . |)"},
      {"pattern p 1\n  c4 d4\nend\n", 2, "expected 'INSTRUMENT: ...' or 'end' inside a pattern"},
      {"pattern p 1\n  lead: c4\n", 1, "pattern p has no 'end'"},
      {"pattern p 1\npattern q 1\nend\n", 2, "pattern inside pattern p (missing 'end'?)"},
      {"end\n", 1, "'end' without an open pattern"},
      {"play nothing 1\n", 1, "unknown pattern 'nothing'"},
      {"pattern p 1\n  lead: c4\nend\nplay p 0\n", 4, "bar numbers start at 1, found '0'"},
      {"pattern p 1\n  lead: c4\nend\nplay p 1 times=2.5\n", 4, "expected a whole number for times, found '2.5'"},
      {"pattern p 1\n  lead: c4\nend\nplay p 1 louder=1\n", 4, "unknown play option 'louder'"},
      {"pattern p 1\n  kick: X\nend\nplay p 1 on=lead\n", 4, "drum steps of pattern p cannot be played on lead"},
      {"ramp lead cutoff 3=1 2=5\n", 1, "ramp points must be in increasing bar order"},
      {"ramp lead sparkle 1=1 2=5\n", 1, "instrument lead has no parameter 'sparkle'"},
      {"fade 10 9\n", 1, "the fade must end after it starts"},
      {"include missing.score\n", 1, "cannot open included file missing.score"},
      {"time 2=1 1=2\n", 1, "time anchors must come later in bars and in seconds than the one before"},
      {"time 1=1\ntime 2=1\n", 2, "time anchors must come later in bars and in seconds than the one before"},
      {"time 1=-0.5\n", 1, "a time anchor cannot lie before the start of the song"},
      {"time 1=soon\n", 1, "expected a number for the seconds, found 'soon'"},
      {"time\n", 1, "usage: time BAR=SECONDS [BAR=SECONDS ...]"},
  };
  for (const TCase& c : cases) {
    try {
      Parse(c.Body);
      ADD_FAILURE() << "no error for: " << c.Body;
    } catch (const song::TScoreError& error) {
      EXPECT_EQ(error.File, "test.score") << c.Body;
      EXPECT_EQ(error.Line, c.Line + 3) << c.Body;
      EXPECT_EQ(error.Message, c.Message) << c.Body;
      EXPECT_EQ(std::string(error.what()), "test.score:" + std::to_string(c.Line + 3) + ": " + c.Message);
    }
  }
}

// Errors inside an included file name that file; a file that includes itself is caught.
TEST(ScoreParser, IncludedFilesReportTheirOwnLines) {
  const std::filesystem::path dir = std::filesystem::path(KELVO_BUILD_DIR) / "test_song_scores";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "main.score") << "tempo 100\ninclude parts.score\n";
  std::ofstream(dir / "parts.score") << "# parts\ninstrument bass bass\n\ninstrument bass bass\n";
  std::ofstream(dir / "loop.score") << "include loop.score\n";
  try {
    song::ParseScoreFile((dir / "main.score").string());
    ADD_FAILURE() << "no error";
  } catch (const song::TScoreError& error) {
    EXPECT_EQ(error.File, (dir / "parts.score").string());
    EXPECT_EQ(error.Line, 4);
    EXPECT_EQ(error.Message, "instrument 'bass' is already defined");
  }
  try {
    song::ParseScoreFile((dir / "loop.score").string());
    ADD_FAILURE() << "no error";
  } catch (const song::TScoreError& error) {
    EXPECT_EQ(error.Line, 1);
    EXPECT_EQ(error.Message, "file includes itself: " + (dir / "loop.score").string());
  }
  try {
    song::ParseScoreFile((dir / "absent.score").string());
    ADD_FAILURE() << "no error";
  } catch (const song::TScoreError& error) {
    EXPECT_EQ(error.Message, "cannot open score file");
  }
  std::filesystem::remove_all(dir);
}

// ---- Synthesis building blocks ---------------------------------------------------------------

namespace {

// Amplitude of the component at hz in signal (Goertzel over the whole signal).
double Amplitude(const std::vector<double>& signal, double hz, double rate) {
  const double w = 2.0 * std::numbers::pi * hz / rate;
  const double coefficient = 2.0 * std::cos(w);
  double s1 = 0.0, s2 = 0.0;
  for (const double x : signal) {
    const double s0 = x + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(signal.size());
}

std::vector<double> Sine(double hz, std::size_t count, double rate) {
  std::vector<double> out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate);
  return out;
}

}  // namespace

// A 4999 Hz sawtooth has its 9th harmonic at 44991 Hz, which a naive sawtooth folds down
// to 891 Hz. The band-limited oscillator keeps the fundamental and suppresses the fold.
TEST(SynthBlocks, SawtoothIsBandLimited) {
  const double hz = 4999.0;
  const std::size_t count = 44100;
  std::vector<double> blep(count), naive(count);
  song::TOscillator oscillator;
  oscillator.SetFrequency(hz, kRate);
  double phase = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    blep[i] = oscillator.Saw();
    naive[i] = 2.0 * phase - 1.0;
    phase += hz / kRate;
    phase -= std::floor(phase);
  }
  const double fold = 9.0 * hz - kRate;
  ASSERT_NEAR(fold, 891.0, 1e-9);
  EXPECT_NEAR(Amplitude(blep, hz, kRate), 2.0 / std::numbers::pi, 0.08);
  EXPECT_NEAR(Amplitude(naive, fold, kRate), 2.0 / (9.0 * std::numbers::pi), 0.01);
  EXPECT_LT(20.0 * std::log10(Amplitude(blep, fold, kRate) / Amplitude(naive, fold, kRate)), -20.0);
}

TEST(SynthBlocks, FastSineMatchesTheLibrary) {
  double worst = 0.0;
  for (int i = -40000; i <= 40000; ++i) {
    const double cycles = i * 0.000731;
    worst = std::max(worst, std::abs(song::SinCycles(cycles) - std::sin(2.0 * std::numbers::pi * cycles)));
  }
  EXPECT_LT(worst, 1e-6);
}

// The envelope never steps, reaches full level in about the attack time, and its
// release falls by 60 dB in the release time.
TEST(SynthBlocks, EnvelopeIsSmoothAndKeepsItsTimes) {
  const double attack = 0.05, release = 0.4;
  song::TEnvelope envelope(attack, 0.3, 0.5, release, kRate);
  double previous = 0.0, biggestStep = 0.0;
  std::size_t peakAt = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(2.5 * kRate); ++i) {
    const double level = envelope.Next();
    biggestStep = std::max(biggestStep, std::abs(level - previous));
    if (level >= 1.0 && peakAt == 0) peakAt = i;
    previous = level;
  }
  EXPECT_NEAR(peakAt / kRate, attack, attack * 0.3);
  EXPECT_LT(biggestStep, 3.0 / (attack * kRate));
  EXPECT_NEAR(previous, 0.5, 0.005);  // decayed to the sustain level
  envelope.Release();
  const double start = envelope.LevelNow();
  std::size_t frames = 0;
  while (envelope.Next() > start * 1e-3) ++frames;
  EXPECT_NEAR(frames / kRate, release, release * 0.05);
}

// Two poles with Q 0.5: flat well below the cutoff, -6 dB at it, and above it the
// response of 1 / (1 + w^2) with w the pre-warped frequency ratio of the bilinear
// transform (about -43 dB a decade up at this rate).
TEST(SynthBlocks, StateVariableLowPassResponse) {
  const auto gainAt = [](double hz) {
    song::TStateVariableFilter filter;
    filter.Set(1000.0, 0.0, kRate);
    const std::vector<double> input = Sine(hz, 44100, kRate);
    std::vector<double> output;
    for (const double x : input) output.push_back(filter.Low(x));
    // skip the settling of the first tenth of a second
    output.erase(output.begin(), output.begin() + 4410);
    return 20.0 * std::log10(Amplitude(output, hz, kRate));
  };
  EXPECT_NEAR(gainAt(100.0), 0.0, 0.3);
  EXPECT_NEAR(gainAt(1000.0), -6.02, 0.5);
  const double warped = std::tan(std::numbers::pi * 10000.0 / kRate) / std::tan(std::numbers::pi * 1000.0 / kRate);
  EXPECT_NEAR(gainAt(10000.0), -20.0 * std::log10(1.0 + warped * warped), 0.5);
}

// Every kind of instrument sounds, stays finite and bounded, starts from silence without
// a step and has died away by the end of what it wrote: no clicks at either end.
TEST(SynthBlocks, EveryVoiceStartsAndEndsCleanly) {
  const std::vector<std::string> kinds = {"pad",  "pluck", "keys", "bass",  "lead",    "bell", "waves",  "riser",
                                          "kick", "snare", "rim",  "hat",   "openhat", "clap", "shaker", "crash"};
  std::string text = "tempo 120\n";
  for (const std::string& kind : kinds) text += "instrument " + kind + "_voice " + kind + "\n";
  const song::TScore score = song::ParseScoreText(text, "voices.score");
  ASSERT_EQ(score.Instruments.size(), kinds.size());
  const std::size_t frames = static_cast<std::size_t>(25.0 * kRate);
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
    const song::TNote note{k, 0.5, 1.0, 60.0, 1.0};  // starts a quarter of a second in
    const song::TFrameRange range =
        song::RenderNote(song::TVoiceSetup{score, k, kRate}, note, 60.0, 99, song::TStereoSpan{left, right});
    const std::size_t start = static_cast<std::size_t>(0.25 * kRate);
    ASSERT_EQ(range.Begin, start) << kinds[k];
    ASSERT_GT(range.End, start + 100) << kinds[k];
    ASSERT_LT(range.End, frames) << kinds[k] << " did not finish within 24.75 s";
    double peak = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
      ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << kinds[k];
      if (i < range.Begin || i >= range.End) {
        ASSERT_TRUE(left[i] == 0.0f && right[i] == 0.0f) << kinds[k] << " " << i;
      }
      peak = std::max({peak, double{std::abs(left[i])}, double{std::abs(right[i])}});
    }
    EXPECT_GT(peak, 0.01) << kinds[k];
    EXPECT_LT(peak, 2.0) << kinds[k];
    EXPECT_LT(std::max(std::abs(left[start]), std::abs(right[start])), 0.05 * peak) << kinds[k] << " starts with a step";
    double tail = 0.0;
    for (std::size_t i = range.End - static_cast<std::size_t>(0.005 * kRate); i < range.End; ++i) {
      tail = std::max({tail, double{std::abs(left[i])}, double{std::abs(right[i])}});
    }
    EXPECT_LT(tail, 2e-3 * peak) << kinds[k] << " is cut off";
  }
}

// The reverb is silent through its pre-delay, then rings with two different sides and
// dies away.
TEST(SynthBlocks, ReverbTailIsWideAndDecays) {
  const std::size_t frames = static_cast<std::size_t>(4.0 * kRate);
  std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
  left[0] = 1.0f;
  right[0] = 1.0f;
  song::TReverbSettings settings;
  song::ApplyReverb({left, right}, settings, kRate);
  const auto energy = [&](double from, double to) {
    double sum = 0.0;
    for (std::size_t i = static_cast<std::size_t>(from * kRate); i < static_cast<std::size_t>(to * kRate); ++i) {
      sum += double{left[i]} * left[i] + double{right[i]} * right[i];
    }
    return Db(sum);
  };
  for (std::size_t i = 0; i < static_cast<std::size_t>(0.9 * settings.PreDelaySeconds * kRate); ++i) {
    ASSERT_EQ(left[i], 0.0f) << i;
  }
  EXPECT_GT(energy(0.5, 1.0), energy(0.0, 0.5) - 25.0);
  EXPECT_LT(energy(3.0, 3.5), energy(0.0, 0.5) - 40.0);
  double cross = 0.0, l2 = 0.0, r2 = 0.0;
  for (std::size_t i = 0; i < frames; ++i) {
    cross += double{left[i]} * right[i];
    l2 += double{left[i]} * left[i];
    r2 += double{right[i]} * right[i];
  }
  EXPECT_LT(cross / std::sqrt(l2 * r2), 0.6);
}

// The first echo comes back on the left after the delay time, the second on the right
// after twice that, each one quieter.
TEST(SynthBlocks, PingPongDelayAlternatesSides) {
  const std::size_t frames = static_cast<std::size_t>(2.0 * kRate);
  std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
  left[0] = 1.0f;
  right[0] = 1.0f;
  song::TDelaySettings settings;
  song::ApplyPingPongDelay({left, right}, settings, kRate);
  const std::size_t delay = static_cast<std::size_t>(std::lround(settings.DelaySeconds * kRate));
  const auto peak = [](const std::vector<float>& channel, std::size_t from, std::size_t to) {
    double p = 0.0;
    for (std::size_t i = from; i < to; ++i) p = std::max(p, double{std::abs(channel[i])});
    return p;
  };
  EXPECT_EQ(peak(left, 0, delay), 0.0);
  EXPECT_EQ(peak(right, 0, 2 * delay), 0.0);
  const double first = peak(left, delay, delay + 400);
  const double second = peak(right, 2 * delay, 2 * delay + 400);
  EXPECT_GT(first, 0.01);
  EXPECT_GT(second, 0.0);
  EXPECT_LT(second, first);
  EXPECT_EQ(peak(right, delay, delay + 400), 0.0);
}
