// The virtual 60 Hz display and the opening's schedule on it: where retraces fall and where
// a swap lands (hand-computed), what the demo's pacing does on such a display, and the
// instants at which the pictures and the harbour first show.
#include <gtest/gtest.h>

#include <vector>

#include "demo/entry.hpp"
#include "film/schedule.hpp"
#include "base/renderer.hpp"

namespace {

constexpr std::int64_t kMs = 1'000'000;

// The frame loop's clock on the virtual display: whole milliseconds of the wall clock, each
// reading costing its 10 us (the retrace arithmetic itself is tested with the film's clock).
TEST(VirtualDisplay, TheFrameClockShowsWholeMillisecondsAndCostsAReading) {
  EXPECT_EQ(WallMsAt(0), 1'767'225'600'000);
  EXPECT_EQ(WallMsAt(999'999), 1'767'225'600'000);
  EXPECT_EQ(WallMsAt(16 * kMs), 1'767'225'600'016);
  EXPECT_EQ(WallMsAt(86'000 * kMs + 999'999), 1'767'225'686'000);
  vclock::TVirtualClock clocked;
  TVirtualWallClock clock(clocked);
  EXPECT_EQ(clock.NowMs(), 1'767'225'600'000.0);
  EXPECT_EQ(clocked.Now(), 10'000);
}

// The demo's own pacer on the display: while drawing is ahead of the display it draws
// every 16 ms of its clock (frame n at 16n ms) yet each swap waits for its retrace; from
// frame 25 on it draws right after each retrace. No retrace is ever skipped, and the frame
// times are those of a 60 Hz display: 16 or 17 ms, 60 frames in every second.
TEST(VirtualDisplay, TheDemosPacerLocksOntoTheRetrace) {
  vclock::TVirtualClock display;
  TVirtualWallClock clock(display);
  TFramePacer pacer(clock);
  std::vector<double> frameTimes;
  std::vector<std::int64_t> drawnAt, shownAt;
  auto draw = [&](double frameTime) {
    frameTimes.push_back(frameTime);
    drawnAt.push_back(display.Now());
    shownAt.push_back(vclock::RetraceTime(display.Swap()));
  };
  while (shownAt.size() < 24 + 600) pacer.Step(draw);

  for (std::size_t i = 0; i < shownAt.size(); ++i) ASSERT_EQ(shownAt[i], vclock::RetraceTime(static_cast<std::int64_t>(i) + 1)) << i;
  for (std::size_t n = 1; n <= 24; ++n) {
    EXPECT_EQ(frameTimes[n - 1], 0.016) << n;
    EXPECT_EQ(drawnAt[n - 1] / kMs, static_cast<std::int64_t>(16 * n)) << n;
  }
  // Frame 25 is drawn right at the retrace of frame 24 (400 ms), after four readings: the
  // rest of frame 24's pass (the report's), the one that finds it due, and its two own.
  EXPECT_EQ(drawnAt[24], 400 * kMs + 40'000);
  for (std::size_t i = 24; i < frameTimes.size(); ++i) {
    EXPECT_TRUE(frameTimes[i] == 0.016 || frameTimes[i] == 0.017) << i << ": " << frameTimes[i];
  }
  double second = 0;
  for (std::size_t i = 24; i < 84; ++i) second += frameTimes[i];
  EXPECT_NEAR(second, 1.0, 0.0015);
}

// Worked by hand from the model: playback starts after the loop's two first readings; the
// first picture shows with the first frame; the first pause counts frame times of 16 ms and
// reaches 0.25 s in frame 16, whose swap shows the second picture at its retrace.
TEST(OpeningSchedule, FirstPicturesFromTheModel) {
  const TOpeningSchedule schedule = ComputeOpeningSchedule();
  EXPECT_EQ(schedule.PlaybackNs, 20'000);
  ASSERT_EQ(schedule.PictureNs.size(), static_cast<std::size_t>(kPictureCount));
  EXPECT_EQ(schedule.PictureFrame[0], 1);
  EXPECT_EQ(schedule.PictureNs[0], vclock::RetraceTime(1));
  EXPECT_EQ(schedule.PictureFrame[1], 16);
  EXPECT_EQ(schedule.PictureNs[1], vclock::RetraceTime(16));
  EXPECT_EQ(schedule.PictureSongNs(1), vclock::RetraceTime(16) - 20'000);
}

// Each picture shows at the retrace of the frame that first draws it, and its pause counts
// the frame times from that frame on (the frame of a change counts twice), so every later
// picture lasts its 0.25 s less one frame: 14 or 15 frames, never fewer, never more.
TEST(OpeningSchedule, EveryPictureOnARetraceAndTheHarbourLast) {
  const TOpeningSchedule schedule = ComputeOpeningSchedule();
  std::vector<std::int64_t> shows = schedule.PictureNs;
  std::vector<std::int32_t> frames = schedule.PictureFrame;
  shows.push_back(schedule.HarbourNs);
  frames.push_back(schedule.HarbourFrame);
  for (std::size_t n = 0; n < shows.size(); ++n) EXPECT_EQ(shows[n], vclock::RetraceTime(frames[n])) << n;
  for (std::size_t n = 1; n < shows.size(); ++n) {
    const std::int32_t lasted = frames[n] - frames[n - 1];
    EXPECT_GE(lasted, 14) << n;
    EXPECT_LE(lasted, 15) << n;
  }
  // The harbour comes well before the old crash at 4 s.
  EXPECT_GT(schedule.HarbourSongNs(), 3'700 * kMs);
  EXPECT_LT(schedule.HarbourSongNs(), 3'900 * kMs);
  // The drawing of a frame never comes near its retrace: the harbour's few readings in its
  // first frame cannot move that frame's swap.
  EXPECT_GT(schedule.SmallestMarginNs, 100'000);
}

TEST(OpeningSchedule, LeavesTheSceneIndexAsItFoundIt) {
  SceneIndex = 7;
  ComputeOpeningSchedule();
  EXPECT_EQ(SceneIndex, 7);
  SceneIndex = 0;
}

}  // namespace
