// vclock: the virtual clock of a film, a 60 Hz display with vertical sync, as pure
// arithmetic. Virtual time V is an integer count of nanoseconds on the demo's main thread;
// every clock read the demo makes returns V and then costs 10 us, the display refreshes at
// s_k = k * 50/3 ms (rounded down to the nanosecond), and a buffer swap waits for the first
// retrace after V. The film's frame j is the screen during [s_(j+1), s_(j+2)).
#pragma once

#include <cstdint>

namespace vclock {

inline constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
inline constexpr std::int64_t kNanosPerMilli = 1'000'000;
// The retrace period is exactly 50'000'000 / 3 ns.
inline constexpr std::int64_t kPeriodNumerator = 50'000'000;
inline constexpr std::int64_t kPeriodDenominator = 3;
inline constexpr std::int64_t kFramesPerSecond = 60;
// What one clock read by the demo's own code costs in virtual time.
inline constexpr std::int64_t kReadCost = 10'000;
// The fixed epochs the clocks read at V = 0.
inline constexpr std::int64_t kRealtimeEpochSeconds = 1'767'225'600;  // 2026-01-01 00:00:00 UTC
inline constexpr std::int64_t kMonotonicEpochSeconds = 100'000;
inline constexpr std::int64_t kSampleRate = 44'100;
// Audio samples per film frame (44100 / 60).
inline constexpr std::int64_t kSamplesPerFrame = kSampleRate / kFramesPerSecond;

// The instant of retrace k (k >= 0).
std::int64_t RetraceTime(std::int64_t k);

// The first retrace strictly after v: where a swap made at v lands.
std::int64_t NextRetrace(std::int64_t v);

// How many retraces k >= 1 come strictly before v: the film's length in frames for a run
// that ends at v (frame j needs its retrace s_(j+1) inside the run).
std::int64_t FramesBefore(std::int64_t v);

// The film frame that a swap landing on retrace k shows first.
inline std::int64_t FilmFrameOfRetrace(std::int64_t k) { return k - 1; }

// Seconds and nanoseconds of a clock reading at V = v, from an epoch in whole seconds.
struct TReading {
  std::int64_t Seconds = 0;
  std::int64_t Nanos = 0;
};
TReading ReadingAt(std::int64_t epochSeconds, std::int64_t v);

// Samples of the song to drop (positive) or silence to put first (negative) so that the
// song's first sample, played at virtual time `playback`, lands at its instant in the film
// (film time t is V = s_1 + t), rounded to the nearest sample.
std::int64_t AudioLeadSamples(std::int64_t playback);

// The main thread's clock: reads return V and advance it when the demo itself reads, a
// swap waits for the next retrace.
class TVirtualClock {
 public:
  std::int64_t Now() const { return V; }
  // A read by the demo's own code: returns V, then V advances by one read's cost.
  std::int64_t Read();
  // A swap: V moves to the next retrace; returns that retrace's number.
  std::int64_t Swap();

 private:
  std::int64_t V = 0;
};

// How many copies of the frame on screen to add to a film that has `written` frames, now that
// the screen changes (or the run ends) at film frame `end`, in a film of at most `limit`
// frames (negative: no limit). The first frame drawn also fills the frames before it, as
// the screen shows nothing else there.
std::int64_t FramesToFill(std::int64_t written, std::int64_t end, std::int64_t limit);

}  // namespace vclock
