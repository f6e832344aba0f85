// Tests of the player against real ALSA devices: a name ALSA cannot open, a channel count
// the device refuses, and the demo itself playing the song through "default" for twenty seconds (no underrun, and
// the sink's recording matches the song's opening seconds).
// Depends on GoogleTest, kelvo_audio, the harness support (scripts/headless), the built
// demo and the generated res/SONG.wav.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "audio/alsa.hpp"
#include "engine/loglines.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/harness.hpp"

namespace {

using namespace std::chrono_literals;

constexpr int kRate = 44100;
const std::string kSetupLinePrefix = "[uALSA] using audio device: ";

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The mono mix (left plus right) of frames [first, first + count) of a recording.
std::vector<float> Mono(const TWavSamples& wav, std::size_t first, std::size_t count) {
  std::vector<float> mono;
  const std::size_t end = std::min(wav.Frames(), first + count);
  for (std::size_t i = first; i < end; ++i) {
    mono.push_back(static_cast<float>(wav.Samples[2 * i]) + static_cast<float>(wav.Samples[2 * i + 1]));
  }
  return mono;
}

// Averages of blocks of `factor` samples: a cheap low-pass and decimation for the coarse search.
std::vector<float> Decimate(const std::vector<float>& x, std::size_t factor) {
  std::vector<float> out(x.size() / factor);
  for (std::size_t i = 0; i < out.size(); ++i) {
    float sum = 0;
    for (std::size_t k = 0; k < factor; ++k) sum += x[i * factor + k];
    out[i] = sum / static_cast<float>(factor);
  }
  return out;
}

// Normalised correlation of pattern with signal[at, at + pattern.size()).
double CorrelationAt(const std::vector<float>& signal, std::size_t at, const std::vector<float>& pattern) {
  double dot = 0, signalEnergy = 0, patternEnergy = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const double s = signal[at + i], p = pattern[i];
    dot += s * p;
    signalEnergy += s * s;
    patternEnergy += p * p;
  }
  if (signalEnergy <= 0 || patternEnergy <= 0) return 0;
  return dot / std::sqrt(signalEnergy * patternEnergy);
}

// The offset in signal, among [from, to], where pattern correlates best.
std::size_t BestOffset(const std::vector<float>& signal, const std::vector<float>& pattern, std::size_t from,
                       std::size_t to) {
  std::size_t best = from;
  double bestValue = -2;
  to = std::min(to, signal.size() - pattern.size());
  for (std::size_t at = from; at <= to; ++at) {
    const double value = CorrelationAt(signal, at, pattern);
    if (value > bestValue) {
      bestValue = value;
      best = at;
    }
  }
  return best;
}

double Rms(const std::vector<float>& x) {
  double sum = 0;
  for (float v : x) sum += static_cast<double>(v) * v;
  return x.empty() ? 0 : std::sqrt(sum / static_cast<double>(x.size()));
}

}  // namespace

TEST(AlsaDevice, UnopenableNameEndsWithTheCantOpenLine) {
  TChildOutcome outcome = RunInChild([] {
    TALSAConfig config{"kelvo-no-such-device", kRate, 2, 2};
    TALSA player(config);
  });
  ASSERT_TRUE(outcome.Exited) << outcome.Output;
  EXPECT_EQ(outcome.Status, 110);
  const std::vector<std::string> lines = SplitLines(outcome.Output);
  ASSERT_EQ(lines.size(), 2u) << outcome.Output;
  EXPECT_EQ(lines[0], kSetupLinePrefix + "kelvo-no-such-device; samplerate: 44100; channels: 2; format: SND_PCM_FORMAT_S16");
  const std::string prefix = "[uALSA] ERROR: can't open PCM Device \"kelvo-no-such-device\": ";
  EXPECT_TRUE(lines[1].starts_with(prefix)) << lines[1];
  EXPECT_GT(lines[1].size(), prefix.size()) << "no ALSA error text";
}

TEST(AlsaDevice, RefusedChannelCountEndsWithItsLine) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  auto openWithThousandChannels = [] {
    TALSAConfig config{"default", kRate, 1000, 2};
    TALSA player(config);
  };
  EXPECT_FATAL(openWithThousandChannels(), 110, "[uALSA] ERROR: Can't set channels number: Invalid argument");
}

TEST(DemoAudio, SongPlaysThroughDefaultForTwentySecondsWithoutUnderrun) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TSinkRecorder recorder;
  TDemoProcess demo(std::string(KELVO_BUILD_DIR) + "/kelvo", {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, 120s)) << demo.Output();
  std::this_thread::sleep_for(20s);
  const TExitResult early = demo.WaitExit(0ms);
  EXPECT_TRUE(early.TimedOut) << "the demo ended early:\n" << demo.Output();
  demo.Kill();
  const std::string path = recorder.Stop();

  const std::string output = demo.Output();
  EXPECT_NE(output.find("\n[uALSA] using audio device: default; samplerate: 44100; channels: 2; format: "
                        "SND_PCM_FORMAT_S16\n[uALSA] INFO: ALSA setup done\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("underrun"), std::string::npos) << output;
  EXPECT_EQ(output.find("[uALSA] ERROR"), std::string::npos) << output;
  EXPECT_EQ(output.find("[uALSA] WARNING"), std::string::npos) << output;

  const TWavSamples song = ReadWav16(std::string(KELVO_RES_DIR) + "/SONG.wav");
  const TWavSamples recording = ReadWav16(path);
  ASSERT_EQ(recording.SampleRate, kRate);
  ASSERT_EQ(recording.Channels, 2);
  ASSERT_GT(recording.Frames(), static_cast<std::size_t>(20 * kRate));

  // Where the song's opening four seconds sit in the recording: a coarse search on block
  // averages, then the exact frame nearby.
  constexpr std::size_t kFactor = 16;
  const std::vector<float> recorded = Mono(recording, 0, recording.Frames());
  const std::vector<float> opening = Mono(song, 0, 4 * kRate);
  const std::vector<float> recordedCoarse = Decimate(recorded, kFactor);
  const std::size_t coarse = BestOffset(recordedCoarse, Decimate(opening, kFactor), 0, recordedCoarse.size());
  const std::size_t from = coarse * kFactor >= 2 * kFactor ? coarse * kFactor - 2 * kFactor : 0;
  const std::size_t start = BestOffset(recorded, opening, from, coarse * kFactor + 2 * kFactor);

  // From there on the recording is the song: loud, and matching its first fifteen seconds
  // (everything up to the end of the recording that the demo certainly played).
  const std::size_t compare = std::min<std::size_t>(15 * kRate, recorded.size() - start);
  ASSERT_GT(compare, static_cast<std::size_t>(10 * kRate)) << "the song started too late: frame " << start;
  const std::vector<float> songPart = Mono(song, 0, compare);
  const std::vector<float> heard(recorded.begin() + static_cast<std::ptrdiff_t>(start),
                                 recorded.begin() + static_cast<std::ptrdiff_t>(start + compare));
  EXPECT_GT(Rms(heard), 0.25 * Rms(songPart)) << "the recording is (nearly) silent";
  const double correlation = CorrelationAt(recorded, start, songPart);
  EXPECT_GT(correlation, 0.95) << "the recording does not match the song (song starts at frame " << start << ")";
  RecordProperty("song_start_frame", std::to_string(start));
  RecordProperty("correlation", std::to_string(correlation));
  std::cout << "song starts at " << static_cast<double>(start) / kRate << " s of the recording; correlation "
            << correlation << "\n";
}
