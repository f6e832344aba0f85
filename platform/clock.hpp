// uClock: the two clocks the demo reads. The wall clock paces the frame loop; the
// monotonic tick count animates the sun, boat and water and never goes back (where the
// system cannot read a monotonic clock it falls back to the time of day).
#pragma once

#include <cstdint>

// The local wall clock in whole milliseconds (as a double, the frame pacer's unit).
double WallMilliseconds();

// Milliseconds of the monotonic clock (time of day where that clock cannot be read).
std::uint64_t TickMilliseconds();

// Microseconds of the monotonic clock, and a sleep of the calling thread: the player's
// timekeeping.
std::int64_t MonotonicMicroseconds();
void SleepMicroseconds(std::int64_t duration);
