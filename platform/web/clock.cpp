// uClock on the web: the page's wall clock (Date) and its high-resolution clock
// (performance.now, monotonic); a sleep gives the other tasks and the browser their turn
// (see clock.hpp).
#include "platform/clock.hpp"

#include <emscripten.h>

#include <cmath>

#include "platform/web/tasks.hpp"

EM_JS(double, kelvo_date_now, (), { return Date.now(); });

double WallMilliseconds() { return std::floor(kelvo_date_now()); }

std::uint64_t TickMilliseconds() { return static_cast<std::uint64_t>(emscripten_get_now()); }

std::int64_t MonotonicMicroseconds() { return static_cast<std::int64_t>(emscripten_get_now() * 1000.0); }

void SleepMicroseconds(std::int64_t duration) {
  const double until = emscripten_get_now() + static_cast<double>(duration) / 1000.0;
  if (InTask()) {
    // A task waits by letting the main thread (and through it the browser) go on.
    do YieldTask();
    while (emscripten_get_now() < until);
    return;
  }
  emscripten_sleep(static_cast<unsigned>(std::ceil(static_cast<double>(duration) / 1000.0)));
}
