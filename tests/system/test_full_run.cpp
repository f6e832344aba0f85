// The whole demo, from start to its natural end, with the sound it plays recorded.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>

#include "base/facts.hpp"
#include "platform/loglines.hpp"
#include "tests/support/harness.hpp"

using namespace std::chrono_literals;

namespace {

TEST(DemoFullRun, RunsToThe86thReportAndEndsCleanly) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const std::string build = KELVO_BUILD_DIR;
  TSinkRecorder recorder;
  TDemoProcess demo(build + "/kelvo", {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, 60s)) << demo.Output();
  auto mapped = std::chrono::steady_clock::now();
  TExitResult result = demo.WaitExit(150s);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - mapped).count();
  std::string wav = recorder.Stop();
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, kExitOk);
  std::string output = demo.Output();
  std::size_t reports = 0;
  for (std::size_t at = output.find(" fps\r"); at != std::string::npos; at = output.find(" fps\r", at + 1)) ++reports;
  EXPECT_EQ(reports, static_cast<std::size_t>(kReportsPerRun));
  EXPECT_GE(seconds, 85.5);
  EXPECT_EQ(output.find("underrun"), std::string::npos) << "the music broke up";
  for (std::string_view name : {kTemporarySongFileName, kTemporaryFontName})
    EXPECT_FALSE(std::filesystem::exists(build + "/" + std::string(name))) << name << " was left behind";

  // Sound in every second from the window's mapping to the end.
  TWavSamples samples = ReadWav16(wav);
  ASSERT_EQ(samples.Channels, 2);
  std::size_t second = static_cast<std::size_t>(samples.SampleRate);
  std::size_t seconds_recorded = samples.Frames() / second;
  EXPECT_GE(seconds_recorded, 85u);
  std::size_t silent = 0;
  // The recorder started before the demo; skip the start-up seconds before the music.
  std::size_t first = 0;
  while (first < seconds_recorded) {
    double energy = 0;
    for (std::size_t i = first * second * 2; i < (first + 1) * second * 2; ++i)
      energy += static_cast<double>(samples.Samples[i]) * samples.Samples[i];
    if (std::sqrt(energy / (second * 2)) > 100) break;
    ++first;
  }
  // Windows of five seconds: a bar of rest is music, a dead stretch is not.
  for (std::size_t s = first; s + 5 < seconds_recorded; s += 5) {
    double energy = 0;
    for (std::size_t i = s * second * 2; i < (s + 5) * second * 2; ++i)
      energy += static_cast<double>(samples.Samples[i]) * samples.Samples[i];
    if (std::sqrt(energy / (5 * second * 2)) < 30) ++silent;
  }
  EXPECT_EQ(silent, 0u) << "five-second stretches of silence after the music started at " << first;
  EXPECT_LT(first, 30u) << "the music never started";
  std::filesystem::remove(wav);
}

}  // namespace
