// uFatal: how the demo reports a failure and ends. Every failure is fatal: a log line on
// stdout, a flush, and _exit with a fixed status, so no destructor runs while the audio
// worker may still be writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// The exit statuses of the demo (kExitOk, kExitAudioDevice, ...) are shared facts.
#include "base/facts.hpp"

// A unit's log line: "[<unit>] <text>" (with an empty text, the prefix alone).
std::string UnitLine(std::string_view unit, std::string_view text);

// Writes one whole line (a line feed is appended) to stdout in a single call, so lines
// from the two threads never interleave.
void WriteLine(std::string_view line);

// Flushes stdout and ends the process at once with the status.
[[noreturn]] void Terminate(int status);

// What must be over before the process ends, run by Terminate on whichever thread ends it: a
// system whose calls must not be cut off midway lets the one under way finish (waiting a
// bounded time), or hands back what it holds. A few hooks (kMaxBeforeTerminate), run in the
// order they were first set; setting one already set does nothing. A hook returns and never
// ends the process itself; one beyond the limit is a failed internal check.
inline constexpr int kMaxBeforeTerminate = 4;
void SetBeforeTerminate(void (*hook)());

// Writes the line, then ends the process with the status.
[[noreturn]] void FatalLine(std::string_view line, int status);

// A failed internal check: "<message> (<unit>, line <line>)" and status 217.
[[noreturn]] void AssertionFailed(std::string_view message, std::string_view unit, int line);

inline void Assert(bool condition, std::string_view message, std::string_view unit, int line) {
  if (!condition) AssertionFailed(message, unit, line);
}

// A failed index or range check: "Runtime error 201" and status 201.
[[noreturn]] void RangeError();

inline std::size_t CheckIndex(std::size_t index, std::size_t count) {
  if (index >= count) RangeError();
  return index;
}

// Converts between integer types, ending the process with a range error when the value
// does not fit the target type.
template <class To, class From>
constexpr To Narrow(From value) {
  static_assert(std::is_integral_v<To> && std::is_integral_v<From>);
  if (!std::in_range<To>(value)) RangeError();
  return static_cast<To>(value);
}
