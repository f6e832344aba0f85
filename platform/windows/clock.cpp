// uClock on Windows: the performance counter for the monotonic clocks (GetTickCount64 moves
// in steps of 10 to 16 ms, too coarse for the sun, boat and water), the system clock for the
// wall clock, and a sleep on a high-resolution waitable timer, since Sleep rounds up to the
// system's 15.6 ms tick and the player's 5 ms polls would stretch threefold (see clock.hpp).
#include "platform/clock.hpp"

#include <windows.h>

#include <chrono>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// Counts of the performance counter in the unit a second is divided by; split into whole
// seconds and the rest, so no run time overflows.
std::int64_t CounterIn(std::int64_t perSecond) {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);  // never fails on Windows XP and later
    return value.QuadPart > 0 ? value.QuadPart : 1;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart / frequency * perSecond + now.QuadPart % frequency * perSecond / frequency;
}

// The calling thread's timer: high resolution where the system has it (Windows 10 1803 and
// later), else an ordinary one.
HANDLE ThreadTimer() {
  thread_local HANDLE timer = [] {
    HANDLE made = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (made == nullptr) made = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    return made;
  }();
  return timer;
}

}  // namespace

double WallMilliseconds() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint64_t TickMilliseconds() { return static_cast<std::uint64_t>(CounterIn(1000)); }

std::int64_t MonotonicMicroseconds() { return CounterIn(1000000); }

void SleepMicroseconds(std::int64_t duration) {
  if (duration <= 0) return;
  HANDLE timer = ThreadTimer();
  LARGE_INTEGER due{};
  due.QuadPart = -duration * 10;  // relative, in 100 ns units
  if (timer != nullptr && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(timer, INFINITE);
    return;
  }
  Sleep(static_cast<DWORD>((duration + 999) / 1000));
}
