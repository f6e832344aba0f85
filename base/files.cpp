// uTextFiles: text conversion, tick count, the executable's folder and whole-file reads
// (see textfiles.hpp).
#include "base/files.hpp"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <fstream>
#include <system_error>

#include "base/fatal.hpp"

std::string ToLatin1(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) {
    auto code = static_cast<std::uint32_t>(c);
    bytes.push_back(code < 256 ? static_cast<char>(static_cast<unsigned char>(code)) : '?');
  }
  return bytes;
}

std::uint64_t GetTickCount64() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  }
  timeval day{};
  gettimeofday(&day, nullptr);
  return static_cast<std::uint64_t>(day.tv_sec) * 1000u +
         static_cast<std::uint64_t>(day.tv_usec) / 1000u;
}

std::string ExecutableDirectory() {
  std::string path(PATH_MAX, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) FatalLine("Cannot find the executable's path (/proc/self/exe)", kExitAssertion);
  path.resize(static_cast<std::size_t>(length));
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

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
