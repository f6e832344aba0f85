// uSchedule: when the sixteen pictures and the harbour first appear on a 60 Hz display with
// vertical sync, the display a film of the demo is made on. The demo's own frame pacing
// (uPacer), renderer walk (uKelvo) and pause renderers (uVoidRenderer) run against a
// virtual clock: the main thread's time V in nanoseconds, each clock reading costs 10 us,
// and a buffer swap waits for the next retrace. The song's opening is written on these
// instants. Depends on uPacer, uKelvo, uEntry and uVoidRenderer.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/pacer.hpp"

// The virtual display's arithmetic, in nanoseconds of V.
inline constexpr std::int64_t kClockReadCostNs = 10'000;
// The wall clock's reading at V = 0 (2026-01-01 00:00:00 UTC), in milliseconds.
inline constexpr std::int64_t kVirtualWallEpochMs = 1'767'225'600'000;

// Retrace k, exactly k / 60 s after V = 0, rounded down to the nanosecond.
std::int64_t RetraceNs(std::int64_t k);
// The first retrace strictly after v: where a buffer swap at v lands.
std::int64_t NextRetraceNs(std::int64_t v);
// The wall clock's millisecond reading at v.
std::int64_t WallMsAt(std::int64_t v);

// V itself: reads advance it, a swap moves it to the next retrace.
class TVirtualDisplay {
 public:
  // Returns V, then lets the reading cost its 10 us.
  std::int64_t Read();
  // Waits for the next retrace and returns it.
  std::int64_t Swap();
  std::int64_t Now() const { return V; }

 private:
  std::int64_t V = 0;
};

// The frame loop's wall clock on the virtual display.
class TVirtualWallClock : public IFrameClock {
 public:
  explicit TVirtualWallClock(TVirtualDisplay& display) : Display(display) {}
  double NowMs() override;

 private:
  TVirtualDisplay& Display;
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
