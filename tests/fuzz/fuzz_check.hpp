// What the fuzz targets share: a check that reports a broken promise of a reader on stderr
// and aborts, so that libFuzzer records the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool condition, const char* promise) {
  if (condition) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}
