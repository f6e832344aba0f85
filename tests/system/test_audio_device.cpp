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
#include "base/loglines.hpp"
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

namespace {

// Where the song's opening sits in a recording of the sink and how well the recording
// matches the song from there on.
struct TSongMatch {
  std::size_t Start = 0;     // the recording's frame where the song begins
  std::size_t Compared = 0;  // frames compared
  double Correlation = 0;
  bool Loud = false;         // not (nearly) silent against the song
};

TSongMatch MatchSong(const TWavSamples& song, const TWavSamples& recording) {
  TSongMatch match;
  // Where the song's opening four seconds sit in the recording: a coarse search on block
  // averages, then the exact frame nearby.
  constexpr std::size_t kFactor = 16;
  const std::vector<float> recorded = Mono(recording, 0, recording.Frames());
  const std::vector<float> opening = Mono(song, 0, 4 * kRate);
  const std::vector<float> recordedCoarse = Decimate(recorded, kFactor);
  const std::size_t coarse = BestOffset(recordedCoarse, Decimate(opening, kFactor), 0, recordedCoarse.size());
  const std::size_t from = coarse * kFactor >= 2 * kFactor ? coarse * kFactor - 2 * kFactor : 0;
  match.Start = BestOffset(recorded, opening, from, coarse * kFactor + 2 * kFactor);

  // From there on the recording is the song: loud, and matching its first fifteen seconds
  // (everything up to the end of the recording that the demo certainly played).
  match.Compared = std::min<std::size_t>(15 * kRate, recorded.size() - match.Start);
  if (match.Compared <= static_cast<std::size_t>(10 * kRate)) return match;
  const std::vector<float> songPart = Mono(song, 0, match.Compared);
  const std::vector<float> heard(recorded.begin() + static_cast<std::ptrdiff_t>(match.Start),
                                 recorded.begin() + static_cast<std::ptrdiff_t>(match.Start + match.Compared));
  match.Loud = Rms(heard) > 0.25 * Rms(songPart);
  match.Correlation = CorrelationAt(recorded, match.Start, songPart);
  return match;
}

}  // namespace

TEST(DemoAudio, SongPlaysThroughDefaultForTwentySecondsWithoutUnderrun) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  // Two recorders of the same sink: on a busy machine a recorder can lose or repeat a
  // block of its own (seen under PipeWire's PulseAudio server at a load of 5 on 2 cores),
  // while whatever the demo loses or garbles is in both recordings.
  TSinkRecorder recorder, second;
  TDemoProcess demo(std::string(KELVO_BUILD_DIR) + "/kelvo", {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, 120s)) << demo.Output();
  std::this_thread::sleep_for(20s);
  const TExitResult early = demo.WaitExit(0ms);
  EXPECT_TRUE(early.TimedOut) << "the demo ended early:\n" << demo.Output();
  demo.Kill();
  const std::string paths[] = {recorder.Stop(), second.Stop()};

  const std::string output = demo.Output();
  EXPECT_NE(output.find("\n[uALSA] using audio device: default; samplerate: 44100; channels: 2; format: "
                        "SND_PCM_FORMAT_S16\n[uALSA] INFO: ALSA setup done\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("underrun"), std::string::npos) << output;
  EXPECT_EQ(output.find("[uALSA] ERROR"), std::string::npos) << output;
  EXPECT_EQ(output.find("[uALSA] WARNING"), std::string::npos) << output;

  const TWavSamples song = ReadWav16(std::string(KELVO_RES_DIR) + "/SONG.wav");
  TSongMatch best;
  std::string seen;
  for (const std::string& path : paths) {
    const TWavSamples recording = ReadWav16(path);
    ASSERT_EQ(recording.SampleRate, kRate);
    ASSERT_EQ(recording.Channels, 2);
    ASSERT_GT(recording.Frames(), static_cast<std::size_t>(20 * kRate));
    const TSongMatch match = MatchSong(song, recording);
    seen += " song at frame " + std::to_string(match.Start) + ", correlation " + std::to_string(match.Correlation) +
            (match.Loud ? "" : ", (nearly) silent") + ";";
    if (match.Loud && match.Correlation > best.Correlation) best = match;
  }
  EXPECT_GT(best.Compared, static_cast<std::size_t>(10 * kRate)) << "the song started too late:" << seen;
  EXPECT_TRUE(best.Loud) << "the recordings are (nearly) silent:" << seen;
  EXPECT_GT(best.Correlation, 0.95) << "neither recording matches the song:" << seen;
  RecordProperty("song_start_frame", std::to_string(best.Start));
  RecordProperty("correlation", std::to_string(best.Correlation));
  std::cout << "recordings:" << seen << "\n";
}
