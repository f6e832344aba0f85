// uTextFiles: the tick count (see clock.hpp).
#include "base/clock.hpp"

#include <sys/time.h>

#include <ctime>

std::uint64_t GetTickCount64() {
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
