// uClock on Windows: the performance counter for the monotonic clocks (GetTickCount64 moves
// in steps of 10 to 16 ms, too coarse for the sun, boat and water), the precise system time
// for the wall clock (the frame loop draws once 16 ms have passed: a clock that moves in
// 15.6 ms steps would hold every frame to 31 ms), and a sleep on a high-resolution waitable
// timer, since Sleep rounds up to the system's 15.6 ms tick and the player's 5 ms polls would
// stretch threefold (see clock.hpp).
#include "platform/clock.hpp"

#include <windows.h>


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

// The system time to the microsecond (Windows 8 and later), else to the tick. Looked up, so
// the program starts where it is missing.
using TReadSystemTime = void(WINAPI*)(FILETIME*);
TReadSystemTime SystemTimeFunction() {
  static const TReadSystemTime function = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto precise = kernel != nullptr ? reinterpret_cast<TReadSystemTime>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")))
                                     : nullptr;
    return precise != nullptr ? precise : &GetSystemTimeAsFileTime;
  }();
  return function;
}

// 100 ns units from 1601 to 1970.
constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ull;

}  // namespace

double WallMilliseconds() {
  FILETIME now{};
  SystemTimeFunction()(&now);
  const std::uint64_t units = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return static_cast<double>((units - kUnixEpochInFileTime) / 10000);
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
