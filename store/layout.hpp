// uStore: the fixed numbers of the store blob's layout (see store.hpp), one place for the
// reader and the packer, and the bounds check every offset read from a file goes through.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr char kMagic[8] = {'K', 'E', 'L', 'V', 'O', 'R', 'E', 'S'};
inline constexpr std::uint32_t kVersion = 2;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kRecordSize = 48;
inline constexpr std::size_t kDataAlignment = 64;

// True when [offset, offset + size) lies inside a region of the given length.
inline bool Inside(std::uint64_t offset, std::uint64_t size, std::uint64_t length) {
  return offset <= length && size <= length - offset;
}
