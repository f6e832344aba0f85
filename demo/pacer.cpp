// uPacer: frame pacing with a clock seam (see pacer.hpp).
#include "demo/pacer.hpp"

#include "platform/clock.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/fatal.hpp"

double TWallClock::NowMs() {
  return WallMilliseconds();
}

std::int64_t ElapsedMs(double from, double to) {
  return static_cast<std::int64_t>(std::floor(std::fabs(to - from) + 0.5));
}

TFramePacer::TFramePacer(IFrameClock& clock) : Clock(clock) {
  LastFrame = Clock.NowMs();
  LastReport = Clock.NowMs();
}

TFramePacer::TPass TFramePacer::Step(const std::function<void(double)>& drawFrame) {
  TPass pass;
  if (ElapsedMs(LastFrame, Clock.NowMs()) >= kFrameIntervalMs) {
    if (Frames == INT32_MAX) RangeError();
    ++Frames;
    // The frame time covers everything since the previous frame's reference reading.
    pass.FrameTime = static_cast<double>(ElapsedMs(LastFrame, Clock.NowMs())) / 1000.0;
    LastFrame = Clock.NowMs();
    pass.Drew = true;
    drawFrame(pass.FrameTime);
  }
  if (ElapsedMs(LastReport, Clock.NowMs()) >= kReportIntervalMs) {
    pass.Reported = true;
    pass.ReportedFrames = Frames;
    Frames = 0;
    LastReport = Clock.NowMs();
    ++Seconds;
  }
  pass.Finished = Seconds >= kReportsPerRun;
  return pass;
}

std::string FormatFrameReport(std::int32_t frames) {
  char text[32];
  std::snprintf(text, sizeof text, "%4d fps", frames);
  return text;
}
