// uTextFiles: the greeting text and its one-byte form, the monotonic tick count, the
// executable's own folder, reading a file whole and reading little-endian fields from bytes.
// Depends on the C++ standard library and POSIX.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The greeting text the scroller moves across the harbour scene.
extern const wchar_t GreetingText[];

// One byte per character: code units below 256 keep their value, every other one
// becomes '?'.
std::string ToLatin1(std::wstring_view text);

// Milliseconds of the monotonic clock (time of day where that clock cannot be read).
std::uint64_t GetTickCount64();

// The directory that holds the running executable, with its trailing '/'.
std::string ExecutableDirectory();

// The bytes of a whole file, or nothing when it cannot be opened or read to its end.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path);

// Little-endian fields of a file format, read from bytes (at least 2 or 4 of them).
inline std::uint16_t LittleEndian16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}
inline std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}
