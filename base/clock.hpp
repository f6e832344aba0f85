// uTextFiles: the tick count the sun, boat and water animate from: milliseconds of the
// monotonic clock, never going back, with the time of day where that clock cannot be read.
#pragma once

#include <cstdint>

// Milliseconds of the monotonic clock (time of day where that clock cannot be read).
std::uint64_t GetTickCount64();
