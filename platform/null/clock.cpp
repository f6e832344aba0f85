// uClock of the null system: the standard library's steady and system clocks (see clock.hpp).
#include "platform/clock.hpp"

#include <chrono>
#include <thread>

double WallMilliseconds() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint64_t TickMilliseconds() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::int64_t MonotonicMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMicroseconds(std::int64_t duration) { std::this_thread::sleep_for(std::chrono::microseconds(duration)); }
