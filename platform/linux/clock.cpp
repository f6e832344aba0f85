// uClock on Linux: clock_gettime and the time of day (see clock.hpp).
#include "platform/clock.hpp"

#include <sys/time.h>

#include <chrono>
#include <ctime>
#include <thread>

double WallMilliseconds() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint64_t TickMilliseconds() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  }
  timeval day{};
  gettimeofday(&day, nullptr);
  return static_cast<std::uint64_t>(day.tv_sec) * 1000u +
         static_cast<std::uint64_t>(day.tv_usec) / 1000u;
}

std::int64_t MonotonicMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMicroseconds(std::int64_t duration) { std::this_thread::sleep_for(std::chrono::microseconds(duration)); }
