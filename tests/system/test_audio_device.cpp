// Tests of the player against real ALSA devices: a name ALSA cannot open, a channel count
// the device refuses, the demo itself playing the song through "default" for twenty seconds
// (no underrun, and the sink's recording matches the song's opening seconds), and the demo
// whose sound server is killed during the harbour scene and started again (the pictures go
// on, a few lines say so, and the song comes back where the clock says).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "audio/alsa.hpp"
#include "platform/loglines.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/xclient.hpp"

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

namespace {

using TSteady = std::chrono::steady_clock;

// When a recording's first frame was recorded: the recorder writes in real time, so the
// frames it holds now were recorded up to now.
TSteady::time_point FirstFrameTime(const std::string& path) {
  struct stat info {};
  const TSteady::time_point now = TSteady::now();
  if (stat(path.c_str(), &info) != 0) return now;
  const double seconds = static_cast<double>(info.st_size - 44) / 4.0 / kRate;
  return now - std::chrono::duration_cast<TSteady::duration>(std::chrono::duration<double>(seconds));
}

double SecondsBetween(TSteady::time_point from, TSteady::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

bool SoundServerAnswers() {
  TDemoProcess pactl("sh", {"-c", "exec pactl info >/dev/null 2>&1"});
  const TExitResult result = pactl.WaitExit(5s);
  return result.Exited && result.Code == 0;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

// Where a window of a recording sits in the song near the frame expected for it: the offset
// (in frames, from the expected one) and the correlation there.
struct TPlace {
  long Offset = 0;
  double Correlation = 0;
  bool Loud = false;
};

TPlace PlaceNear(const std::vector<float>& recorded, std::size_t at, std::size_t length, const std::vector<float>& song,
                 std::size_t expected, long search) {
  TPlace place;
  if (at + length > recorded.size()) return place;
  const std::vector<float> heard(recorded.begin() + static_cast<std::ptrdiff_t>(at),
                                 recorded.begin() + static_cast<std::ptrdiff_t>(at + length));
  // The song around the expected frame, looping.
  const std::size_t songFrames = song.size();
  std::vector<float> around;
  for (long i = -search; i < static_cast<long>(length) + search; ++i) {
    around.push_back(song[static_cast<std::size_t>((static_cast<long>(expected + songFrames) + i) %
                                                   static_cast<long>(songFrames))]);
  }
  constexpr std::size_t kFactor = 16;
  const std::vector<float> aroundCoarse = Decimate(around, kFactor);
  const std::size_t coarse = BestOffset(aroundCoarse, Decimate(heard, kFactor), 0, aroundCoarse.size());
  const std::size_t from = coarse * kFactor >= 2 * kFactor ? coarse * kFactor - 2 * kFactor : 0;
  const std::size_t best = BestOffset(around, heard, from, coarse * kFactor + 2 * kFactor);
  place.Offset = static_cast<long>(best) - search;
  place.Correlation = CorrelationAt(around, best, heard);
  const std::vector<float> songPart(around.begin() + static_cast<std::ptrdiff_t>(best),
                                    around.begin() + static_cast<std::ptrdiff_t>(best + length));
  place.Loud = Rms(heard) > 0.25 * Rms(songPart);
  return place;
}

}  // namespace

TEST(DemoAudio, ASoundServerKilledAndStartedAgainHasTheSongBackWhereTheClockIs) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const char* harness = std::getenv("KELVO_HEADLESS_PID");
  ASSERT_NE(harness, nullptr) << "the harness does not offer to restart its sound server";
  const pid_t harnessPid = static_cast<pid_t>(std::atoi(harness));
  const std::string folder = std::filesystem::temp_directory_path() / ("kelvo-server-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string beforePath = folder + "/before.wav";
  const std::string afterPaths[] = {folder + "/after-1.wav", folder + "/after-2.wav"};

  // The song from its start, to know when the clock of the song began.
  std::optional<TSinkRecorder> before(std::in_place, beforePath);
  const TSteady::time_point beforeStart = FirstFrameTime(beforePath);
  TXClient x;
  TDemoProcess demo(std::string(KELVO_BUILD_DIR) + "/kelvo", {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, 120s)) << demo.Output();
  ASSERT_TRUE(x.FindClientWindow(10s));
  // The harbour scene shows from about 3.8 s on.
  std::this_thread::sleep_for(7s);
  before->Stop();
  before.reset();

  const std::size_t reportsAtKill = Count(demo.Output(), " fps");
  ASSERT_EQ(kill(harnessPid, SIGUSR1), 0);
  std::this_thread::sleep_for(3s);
  const std::size_t reportsAtRestart = Count(demo.Output(), " fps");
  ASSERT_EQ(kill(harnessPid, SIGUSR2), 0);
  const TSteady::time_point restarted = TSteady::now();
  const TSteady::time_point deadline = restarted + 30s;
  while (!SoundServerAnswers()) {
    ASSERT_LT(TSteady::now(), deadline) << "the sound server did not come back";
    std::this_thread::sleep_for(20ms);
  }
  const TSteady::time_point answered = TSteady::now();
  std::vector<TSteady::time_point> afterStarts;
  {
    TSinkRecorder first(afterPaths[0]);
    afterStarts.push_back(FirstFrameTime(afterPaths[0]));
    TSinkRecorder second(afterPaths[1]);
    afterStarts.push_back(FirstFrameTime(afterPaths[1]));
    std::this_thread::sleep_for(5s);
  }

  // The pictures went on all the while, and Escape still ends the run.
  EXPECT_TRUE(demo.WaitExit(0ms).TimedOut) << demo.Output();
  EXPECT_GE(reportsAtRestart, reportsAtKill + 2) << "no frame-rate reports while the server was away";
  EXPECT_GE(Count(demo.Output(), " fps"), reportsAtRestart + 4);
  x.SendKey(9);
  const TExitResult result = demo.WaitExit(10s);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, kExitOk);

  // A few lines about the sound: that it went, that it is back, perhaps an underrun.
  const std::string output = demo.Output();
  const std::size_t soundLines = Count(output, "[uALSA]") - 2;  // the two set-up lines
  std::cout << "sound lines after the set-up: " << soundLines << "\n";
  EXPECT_LE(soundLines, 4u) << output;
  EXPECT_EQ(Count(output, "[uALSA] WARNING: the sound device went away ("), 1u) << output;
  EXPECT_EQ(Count(output, "[uALSA] INFO: the sound device is back after "), 1u) << output;
  RecordProperty("sound_lines", std::to_string(soundLines));

  // When the song's clock began: where its opening lies in the first recording.
  const TWavSamples song = ReadWav16(std::string(KELVO_RES_DIR) + "/SONG.wav");
  const std::vector<float> songMono = Mono(song, 0, song.Frames());
  const TSongMatch opening = MatchSong(song, ReadWav16(beforePath));
  const TSteady::time_point songStart =
      beforeStart + std::chrono::duration_cast<TSteady::duration>(
                        std::chrono::duration<double>(static_cast<double>(opening.Start) / kRate));

  // In the recordings after the return: the first tenth of a second that holds the song near
  // the place the clock gives (within a quarter second), then two seconds at that place.
  std::string seen;
  double bestBack = 1e9;
  long bestOffset = 0;
  double bestCorrelation = 0;
  for (std::size_t r = 0; r < 2; ++r) {
    const TWavSamples recording = ReadWav16(afterPaths[r]);
    const std::vector<float> recorded = Mono(recording, 0, recording.Frames());
    auto expectedAt = [&](std::size_t frame) {
      const double seconds =
          SecondsBetween(songStart, afterStarts[r]) + static_cast<double>(frame) / kRate;
      return static_cast<std::size_t>(seconds * kRate) % songMono.size();
    };
    constexpr std::size_t kBlock = kRate / 10;
    for (std::size_t at = 0; at + 3 * kRate < recorded.size(); at += kBlock) {
      const TPlace place = PlaceNear(recorded, at, 2 * kBlock, songMono, expectedAt(at), kRate / 4);
      if (!place.Loud || place.Correlation < 0.8) continue;
      // From there on it is the song at the clock's place: two seconds a little later.
      const TPlace held = PlaceNear(recorded, at + 2 * kBlock, 2 * kRate, songMono, expectedAt(at + 2 * kBlock), kRate / 4);
      const double back = SecondsBetween(answered, afterStarts[r]) + static_cast<double>(at) / kRate;
      seen += " recording " + std::to_string(r + 1) + ": song from " + std::to_string(back) +
              " s after the server answered (" +
              std::to_string(back + SecondsBetween(restarted, answered)) + " s after it was started again), then " +
              std::to_string(1000.0 * static_cast<double>(held.Offset) / kRate) +
              " ms from the clock's place, correlation " + std::to_string(held.Correlation) + ";";
      if (held.Correlation > 0.8 && held.Loud && back < bestBack) {
        bestBack = back;
        bestOffset = held.Offset;
        bestCorrelation = held.Correlation;
      }
      break;
    }
  }
  std::cout << "after the return:" << seen << "\n";
  EXPECT_LT(bestBack, 2.0) << seen;
  EXPECT_LT(std::abs(1000.0 * static_cast<double>(bestOffset) / kRate), 100.0) << seen;
  EXPECT_GT(bestCorrelation, 0.8) << seen;
  RecordProperty("seconds_to_song", std::to_string(bestBack));
  RecordProperty("server_start_seconds", std::to_string(SecondsBetween(restarted, answered)));
  RecordProperty("offset_ms", std::to_string(1000.0 * static_cast<double>(bestOffset) / kRate));
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
