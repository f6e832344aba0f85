// Frame pacing with a fake clock: the 16 ms step, the once-a-second report, the end of the
// run at the 86th report, rounding and a clock that steps back.
#include <gtest/gtest.h>

#include <vector>

#include "demo/pacer.hpp"

namespace {

// A clock that stands still unless the test moves it.
class TFakeClock : public IFrameClock {
 public:
  double NowMs() override {
    ++Readings;
    return Now;
  }
  double Now = 1000000;
  int Readings = 0;
};

struct TCounting {
  std::vector<double> FrameTimes;
  std::function<void(double)> Draw() {
    return [this](double frameTime) { FrameTimes.push_back(frameTime); };
  }
};

TEST(ElapsedMs, RoundsTheAbsoluteDifferenceToTheNearestMillisecond) {
  EXPECT_EQ(ElapsedMs(0, 15.4), 15);
  EXPECT_EQ(ElapsedMs(0, 15.5), 16);
  EXPECT_EQ(ElapsedMs(100, 84.5), 16);
  EXPECT_EQ(ElapsedMs(5, 5), 0);
}

TEST(FramePacer, DrawsOnlyOnce16MillisecondsHavePassed) {
  TFakeClock clock;
  TFramePacer pacer(clock);
  TCounting counting;
  clock.Now += 15;
  EXPECT_FALSE(pacer.Step(counting.Draw()).Drew);
  clock.Now += 0.4;  // 15.4 rounds down
  EXPECT_FALSE(pacer.Step(counting.Draw()).Drew);
  clock.Now += 0.1;  // 15.5 rounds up
  auto pass = pacer.Step(counting.Draw());
  EXPECT_TRUE(pass.Drew);
  EXPECT_DOUBLE_EQ(pass.FrameTime, 0.016);
  ASSERT_EQ(counting.FrameTimes.size(), 1u);
  // The next frame is measured from the reading taken when this one was drawn.
  clock.Now += 15;
  EXPECT_FALSE(pacer.Step(counting.Draw()).Drew);
  clock.Now += 25;
  pass = pacer.Step(counting.Draw());
  EXPECT_TRUE(pass.Drew);
  EXPECT_DOUBLE_EQ(pass.FrameTime, 0.040);
}

TEST(FramePacer, ALateFrameGetsTheWholeTimeSinceThePreviousOne) {
  TFakeClock clock;
  TFramePacer pacer(clock);
  TCounting counting;
  clock.Now += 250;
  auto pass = pacer.Step(counting.Draw());
  EXPECT_TRUE(pass.Drew);
  EXPECT_DOUBLE_EQ(pass.FrameTime, 0.25);
}

TEST(FramePacer, ReportsTheFramesOfEachSecond) {
  TFakeClock clock;
  TFramePacer pacer(clock);
  TCounting counting;
  int reports = 0;
  std::int32_t lastCount = -1;
  for (int ms = 0; ms < 1000; ms += 20) {
    clock.Now += 20;
    auto pass = pacer.Step(counting.Draw());
    if (pass.Reported) {
      ++reports;
      lastCount = pass.ReportedFrames;
    }
  }
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(lastCount, 50);
  EXPECT_EQ(FormatFrameReport(50), "  50 fps");
  EXPECT_EQ(FormatFrameReport(7), "   7 fps");
  EXPECT_EQ(FormatFrameReport(12345), "12345 fps");
}

TEST(FramePacer, TheRunEndsInThePassOfThe86thReport) {
  TFakeClock clock;
  TFramePacer pacer(clock);
  TCounting counting;
  int reports = 0;
  for (int pass = 0; pass < 100000; ++pass) {
    clock.Now += 250;
    auto result = pacer.Step(counting.Draw());
    if (result.Reported) ++reports;
    if (result.Finished) {
      EXPECT_TRUE(result.Reported);
      break;
    }
  }
  EXPECT_EQ(reports, 86);
  EXPECT_EQ(counting.FrameTimes.size(), 86u * 4u);
}

TEST(FramePacer, AClockThatStepsBackCountsAsElapsedTime) {
  TFakeClock clock;
  TFramePacer pacer(clock);
  TCounting counting;
  clock.Now -= 20;
  auto pass = pacer.Step(counting.Draw());
  EXPECT_TRUE(pass.Drew);
  EXPECT_DOUBLE_EQ(pass.FrameTime, 0.020);
  clock.Now -= 2000;
  EXPECT_TRUE(pacer.Step(counting.Draw()).Reported);
}

TEST(FramePacer, ReadsTheClockTwoToFiveTimesAPass) {
  TFakeClock clock;
  TFramePacer pacer(clock);
  TCounting counting;
  EXPECT_EQ(clock.Readings, 2);
  clock.Readings = 0;
  pacer.Step(counting.Draw());
  EXPECT_EQ(clock.Readings, 2);  // no frame, no report
  clock.Readings = 0;
  clock.Now += 1000;
  pacer.Step(counting.Draw());
  EXPECT_EQ(clock.Readings, 5);  // a frame and a report
}

}  // namespace
