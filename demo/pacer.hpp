// uPacer: the pacing of the frame loop, apart from X and GL so it can be driven by a fake
// clock. A frame is drawn once at least 16 ms have passed since the last one; a report of
// the frames drawn is due once at least 1000 ms have passed since the last report; the run
// is over in the pass that makes the 86th report. Elapsed time is the absolute difference
// of two wall-clock readings, rounded to the nearest millisecond.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/facts.hpp"

// The wall clock the loop reads, in milliseconds.
class IFrameClock {
 public:
  virtual ~IFrameClock() = default;
  virtual double NowMs() = 0;
};

// The local wall clock with millisecond resolution.
class TWallClock : public IFrameClock {
 public:
  double NowMs() override;
};

// Whole milliseconds between two readings, whichever comes first.
std::int64_t ElapsedMs(double from, double to);

// kFrameIntervalMs, kReportIntervalMs and kReportsPerRun are shared facts (base/facts.hpp).

class TFramePacer {
 public:
  // Reads the clock twice: the reference of frames, then that of reports.
  explicit TFramePacer(IFrameClock& clock);

  struct TPass {
    bool Drew = false;
    double FrameTime = 0;        // seconds, when Drew
    bool Reported = false;
    std::int32_t ReportedFrames = 0;  // frames since the previous report, when Reported
    bool Finished = false;       // this pass made the last report of the run
  };

  // One pass of the loop: draws through drawFrame(frame time in seconds) when a frame is
  // due, then tells whether a report is due and whether the run is over.
  TPass Step(const std::function<void(double)>& drawFrame);

 private:
  IFrameClock& Clock;
  double LastFrame = 0;
  double LastReport = 0;
  std::int32_t Frames = 0;
  std::int32_t Seconds = 0;
};

// The report line (without its carriage return): the frame count right-aligned in four
// columns, then " fps".
std::string FormatFrameReport(std::int32_t frames);
