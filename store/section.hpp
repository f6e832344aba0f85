// uStore: where a section lies in a program's file, whatever the file's container format:
// the numbers every format's reader gives and every format's editor takes, each already
// checked against the file's bytes by the reader that found them.
#pragma once

#include <cstdint>

struct TImageSection {
  std::uint64_t HeaderOffset = 0;  // file offset of the section's header record
  std::uint64_t Offset = 0;        // file offset of its contents
  std::uint64_t Size = 0;          // the size of its contents
};
