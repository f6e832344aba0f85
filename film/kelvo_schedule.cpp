// kelvo-schedule: prints when each of the sixteen pictures and the harbour first appear on a
// 60 Hz display with vertical sync (the display a film of the demo is made on), in song
// time, beside the hits of the old opening (one every 250 ms, the harbour's crash at 4 s).
// With --score it prints the opening's time anchors for resources/score/opening.score; with
// --print-constants the figures of a run that the scripts need (as NAME=VALUE lines a shell
// can read), so that they come from the demo's own code.
// Usage: kelvo-schedule [--score | --print-constants]
#include <cstdio>
#include <cstring>

#include "platform/loglines.hpp"
#include "demo/entry.hpp"
#include "demo/pacer.hpp"
#include "film/schedule.hpp"
#include "film/vclock.hpp"

namespace {

double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

// Seconds with all nine decimals: the anchors are exact to the nanosecond.
void PrintSeconds(std::int64_t ns) {
  std::printf("%lld.%09lld", static_cast<long long>(ns / 1'000'000'000), static_cast<long long>(ns % 1'000'000'000));
}

void PrintScore(const TOpeningSchedule& schedule) {
  std::printf(
      "# The opening's time: each eighth of bars 1 and 2 starts at the instant its picture first\n"
      "# appears on a 60 Hz display, and bar 3 (the harbour theme) at the harbour's; the song runs\n"
      "# at its tempo from there. Written by kelvo-schedule --score from the demo's own pacing;\n"
      "# the song's tests recompute it.\n");
  for (std::size_t n = 0; n < schedule.PictureNs.size(); ++n) {
    std::printf("time %g=", 1.0 + static_cast<double>(n) / 8.0);
    PrintSeconds(schedule.PictureSongNs(n));
    std::printf("\n");
  }
  std::printf("time 3=");
  PrintSeconds(schedule.HarbourSongNs());
  std::printf("\n");
}

// The run's length in seconds (the demo ends at its 86th once-a-second report), the film's
// frames a second and the song's samples a frame, and the log line of the mapped window.
void PrintConstants() {
  std::printf("run_seconds=%d\n", static_cast<int>(kReportsPerRun));
  std::printf("frames_per_second=%lld\n", static_cast<long long>(vclock::kFramesPerSecond));
  std::printf("samples_per_frame=%lld\n", static_cast<long long>(vclock::kSamplesPerFrame));
  std::printf("mapped_window_line='%.*s'\n", static_cast<int>(kMappedWindowLine.size()), kMappedWindowLine.data());
}

void PrintTable(const TOpeningSchedule& schedule) {
  std::printf("playback starts at V = %.3f ms; least margin before a retrace %.3f ms\n", Ms(schedule.PlaybackNs),
              Ms(schedule.SmallestMarginNs));
  std::printf("%-8s %5s %12s %12s %12s\n", "shows", "frame", "at (ms)", "old hit (ms)", "old offset");
  for (std::size_t n = 0; n < schedule.PictureNs.size(); ++n) {
    const double old = 1000.0 * kPictureSeconds * static_cast<double>(n);
    const double at = Ms(schedule.PictureSongNs(n));
    std::printf("arte%-4zu %5d %12.3f %12.3f %+12.3f\n", n + 1, schedule.PictureFrame.at(n), at, old, old - at);
  }
  const double old = 1000.0 * kPictureSeconds * kPictureCount;
  const double at = Ms(schedule.HarbourSongNs());
  std::printf("%-8s %5d %12.3f %12.3f %+12.3f\n", "harbour", schedule.HarbourFrame, at, old, old - at);
}

}  // namespace

int main(int argc, char** argv) {
  const bool score = argc == 2 && std::strcmp(argv[1], "--score") == 0;
  const bool constants = argc == 2 && std::strcmp(argv[1], "--print-constants") == 0;
  if (argc > 2 || (argc == 2 && !score && !constants)) {
    std::fprintf(stderr, "usage: kelvo-schedule [--score | --print-constants]\n");
    return 2;
  }
  if (constants) {
    PrintConstants();
    return 0;
  }
  const TOpeningSchedule schedule = ComputeOpeningSchedule();
  if (score) {
    PrintScore(schedule);
  } else {
    PrintTable(schedule);
  }
  return 0;
}
