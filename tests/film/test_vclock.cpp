// The film's virtual 60 Hz clock: retraces, where swaps land, the frames a run fills, the
// clock readings and the song's placement, with hand-computed values (the demo's own pacer
// on this clock is tested with the opening's schedule).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "film/vclock.hpp"

namespace {

using namespace vclock;

constexpr std::int64_t kMs = 1'000'000;

TEST(VirtualClock, RetracesAreExactSixtiethsRoundedDown) {
  EXPECT_EQ(RetraceTime(0), 0);
  EXPECT_EQ(RetraceTime(1), 16'666'666);
  EXPECT_EQ(RetraceTime(2), 33'333'333);
  EXPECT_EQ(RetraceTime(3), 50'000'000);
  EXPECT_EQ(RetraceTime(60), 1'000'000'000);
  // No drift over a whole run.
  EXPECT_EQ(RetraceTime(5160), 86'000'000'000);
  EXPECT_EQ(RetraceTime(5161), 86'016'666'666);
}

TEST(VirtualClock, SwapLandsOnTheFirstRetraceStrictlyAfter) {
  EXPECT_EQ(NextRetrace(0), 1);  // s_0 = 0 is not after 0
  EXPECT_EQ(NextRetrace(16 * kMs), 1);
  EXPECT_EQ(NextRetrace(16'666'665), 1);
  EXPECT_EQ(NextRetrace(16'666'666), 2);  // a swap on a retrace waits for the next one
  EXPECT_EQ(NextRetrace(33'333'332), 2);
  EXPECT_EQ(NextRetrace(33'333'333), 3);
  EXPECT_EQ(NextRetrace(49'999'999), 3);
  EXPECT_EQ(NextRetrace(50'000'000), 4);
  EXPECT_EQ(NextRetrace(86'000'000'000), 5161);

  TVirtualClock clock;
  EXPECT_EQ(clock.Read(), 0);
  EXPECT_EQ(clock.Read(), 10'000);  // each read costs 10 us
  EXPECT_EQ(clock.Now(), 20'000);
  EXPECT_EQ(clock.Now(), 20'000);  // looking costs nothing
  EXPECT_EQ(clock.Swap(), 1);
  EXPECT_EQ(clock.Now(), 16'666'666);
  EXPECT_EQ(clock.Swap(), 2);  // straight away again: the next retrace
  EXPECT_EQ(clock.Now(), 33'333'333);
  EXPECT_EQ(clock.Read(), 33'333'333);
  EXPECT_EQ(clock.Now(), 33'343'333);
}

TEST(VirtualClock, RunFillsTheFramesWhoseRetraceItReaches) {
  EXPECT_EQ(FramesBefore(0), 0);
  EXPECT_EQ(FramesBefore(16'666'666), 0);  // frame 0 starts at s_1, not before it
  EXPECT_EQ(FramesBefore(16'666'667), 1);
  EXPECT_EQ(FramesBefore(1'000'000'000), 59);
  EXPECT_EQ(FramesBefore(1'000'000'001), 60);
  EXPECT_EQ(FramesBefore(86'010'000'000), 5160);
  EXPECT_EQ(FilmFrameOfRetrace(1), 0);
  EXPECT_EQ(FilmFrameOfRetrace(26), 25);

  // Copies of the frame on screen: up to the next screen's frame, never past the limit.
  EXPECT_EQ(FramesToFill(0, 0, -1), 0);
  EXPECT_EQ(FramesToFill(0, 3, -1), 3);  // the first frame also fills the frames before it
  EXPECT_EQ(FramesToFill(3, 5, -1), 2);  // a skipped retrace shows the frame twice
  EXPECT_EQ(FramesToFill(3, 5, 4), 1);
  EXPECT_EQ(FramesToFill(4, 5, 4), 0);
  EXPECT_EQ(FramesToFill(5, 3, -1), 0);
  EXPECT_EQ(FramesToFill(0, 600, 600), 600);
}

TEST(VirtualClock, ReadingsAreWholeSecondEpochsPlusV) {
  TReading start = ReadingAt(kRealtimeEpochSeconds, 0);
  EXPECT_EQ(start.Seconds, 1'767'225'600);
  EXPECT_EQ(start.Nanos, 0);
  TReading later = ReadingAt(kMonotonicEpochSeconds, 86'016'666'666);
  EXPECT_EQ(later.Seconds, 100'086);
  EXPECT_EQ(later.Nanos, 16'666'666);
  TReading edge = ReadingAt(kMonotonicEpochSeconds, 999'999'999);
  EXPECT_EQ(edge.Seconds, 100'000);
  EXPECT_EQ(edge.Nanos, 999'999'999);
}

TEST(VirtualClock, SongStartsAtTheVirtualInstantOfPlayback) {
  // Playback at V = 0: the first 16.666666 ms of song (735.0 samples) precede frame 0.
  EXPECT_EQ(AudioLeadSamples(0), 735);
  // At V = 20 us: 16.646666 ms = 734.1 samples.
  EXPECT_EQ(AudioLeadSamples(20'000), 734);
  EXPECT_EQ(AudioLeadSamples(RetraceTime(1)), 0);
  // Playback after the first retrace: silence first, 1 ms = 44.1 samples.
  EXPECT_EQ(AudioLeadSamples(RetraceTime(1) + kMs), -44);
  EXPECT_EQ(AudioLeadSamples(RetraceTime(1) + 11'338), -1);  // 0.50000 samples rounds away
  EXPECT_EQ(AudioLeadSamples(RetraceTime(1) + 11'337), 0);
  EXPECT_EQ(kSamplesPerFrame, 735);
}

}  // namespace
