// uSchedule: when the sixteen pictures and the harbour first appear on a 60 Hz display with
// vertical sync, the display a film of the demo is made on. The demo's own frame pacing
// (uPacer), renderer walk (uKelvo) and pause renderers (uVoidRenderer) run against a
// virtual clock: the main thread's time V in nanoseconds, each clock reading costs 10 us,
// and a buffer swap waits for the next retrace. The song's opening is written on these
// instants.
#pragma once

#include <cstdint>
#include <vector>

#include "demo/pacer.hpp"
#include "film/vclock.hpp"

// The wall clock's millisecond reading at V = v.
std::int64_t WallMsAt(std::int64_t v);

// The frame loop's wall clock on the virtual display.
class TVirtualWallClock : public IFrameClock {
 public:
  explicit TVirtualWallClock(vclock::TVirtualClock& display) : Display(display) {}
  double NowMs() override;

 private:
  vclock::TVirtualClock& Display;
};

struct TOpeningSchedule {
  std::int64_t PlaybackNs = 0;             // V when playback starts (the window is mapped)
  std::vector<std::int64_t> PictureNs;     // retrace at which picture 1, 2 ... 16 first shows
  std::int64_t HarbourNs = 0;              // retrace at which the harbour first shows
  std::vector<std::int32_t> PictureFrame;  // the drawn frame (1 = first) that first shows it
  std::int32_t HarbourFrame = 0;
  // The least time left before the next retrace when a frame's drawing was done: the
  // harbour's renderers read the clock a few more times in their frame, 10 us each, and
  // that cannot move a swap while this margin is far larger.
  std::int64_t SmallestMarginNs = 0;

  // Song time (since the first sample) of picture n (0-based) and of the harbour.
  std::int64_t PictureSongNs(std::size_t n) const { return PictureNs.at(n) - PlaybackNs; }
  std::int64_t HarbourSongNs() const { return HarbourNs - PlaybackNs; }
};

// Runs the demo's pacing and pauses on the virtual display until the harbour first shows.
// Leaves the process-wide scene index as it found it.
TOpeningSchedule ComputeOpeningSchedule();
