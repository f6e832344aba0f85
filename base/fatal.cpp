// uFatal: failure reports and process end (see fatal.hpp).
#include "base/fatal.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
// Filled in order, each slot once; Terminate reads them on any thread.
std::atomic<void (*)()> BeforeTerminate[kMaxBeforeTerminate]{};
}  // namespace

void SetBeforeTerminate(void (*hook)()) {
  for (auto& slot : BeforeTerminate) {
    void (*expected)() = nullptr;
    if (slot.compare_exchange_strong(expected, hook) || expected == hook) return;
  }
  AssertionFailed("too many hooks before the end", "uFatal", __LINE__);
}

std::string UnitLine(std::string_view unit, std::string_view text) {
  std::string line;
  line.reserve(unit.size() + text.size() + 3);
  line.append("[").append(unit).append("] ").append(text);
  return line;
}

void WriteLine(std::string_view line) {
  std::string whole;
  whole.reserve(line.size() + 1);
  whole.append(line);
  whole.push_back('\n');
  std::fwrite(whole.data(), 1, whole.size(), stdout);
  // Where the C library buffers more than a line (Windows' has no line buffering), the line
  // still leaves now.
  std::fflush(stdout);
}

void Terminate(int status) {
  std::fflush(stdout);
  for (auto& slot : BeforeTerminate) {
    if (void (*hook)() = slot.load()) hook();
  }
  // At once: no exit handlers, no destructors of static objects (C's _Exit).
  std::_Exit(status);
}

void FatalLine(std::string_view line, int status) {
  WriteLine(line);
  Terminate(status);
}

void AssertionFailed(std::string_view message, std::string_view unit, int line) {
  std::string text(message);
  text += " (";
  text += unit;
  text += ", line ";
  text += std::to_string(line);
  text += ")";
  FatalLine(text, kExitAssertion);
}

void RangeError() { FatalLine("Runtime error 201", kExitRangeError); }
