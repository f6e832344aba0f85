// uTextFiles: whole-file reads (see files.hpp).
#include "base/files.hpp"

#include <fstream>
#include <system_error>

#include "base/fatal.hpp"

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  // Files under /proc name no size: the size only saves growing the vector.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error) bytes.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<std::size_t>(in.gcount());
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (!in) break;
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}
