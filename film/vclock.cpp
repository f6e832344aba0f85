// vclock: the arithmetic of the 60 Hz virtual display (see vclock.hpp).
#include "film/vclock.hpp"

#include <algorithm>

namespace vclock {

std::int64_t RetraceTime(std::int64_t k) { return k * kPeriodNumerator / kPeriodDenominator; }

// s_k > v  <=>  floor(k * N / D) >= v + 1  <=>  k * N >= D * (v + 1).
std::int64_t NextRetrace(std::int64_t v) {
  if (v < 0) return 0;
  std::int64_t needed = kPeriodDenominator * (v + 1);
  return (needed + kPeriodNumerator - 1) / kPeriodNumerator;
}

// s_k < v  <=>  floor(k * N / D) <= v - 1  <=>  k * N < D * v.
std::int64_t FramesBefore(std::int64_t v) {
  if (v <= 0) return 0;
  return (kPeriodDenominator * v - 1) / kPeriodNumerator;
}

TReading ReadingAt(std::int64_t epochSeconds, std::int64_t v) {
  return {epochSeconds + v / kNanosPerSecond, v % kNanosPerSecond};
}

std::int64_t AudioLeadSamples(std::int64_t playback) {
  // (s_1 - playback) seconds of song fall before the film's start.
  std::int64_t lead = RetraceTime(1) - playback;
  std::int64_t scaled = lead * kSampleRate;
  std::int64_t half = kNanosPerSecond / 2;
  return scaled >= 0 ? (scaled + half) / kNanosPerSecond : -((-scaled + half) / kNanosPerSecond);
}

std::int64_t TVirtualClock::Read() {
  std::int64_t now = V;
  V += kReadCost;
  return now;
}

std::int64_t TVirtualClock::Swap() {
  std::int64_t k = NextRetrace(V);
  V = RetraceTime(k);
  return k;
}

std::int64_t FramesToFill(std::int64_t written, std::int64_t end, std::int64_t limit) {
  if (limit >= 0) end = std::min(end, limit);
  return std::max<std::int64_t>(0, end - written);
}

}  // namespace vclock
