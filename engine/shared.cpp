// uShared: scene index, text conversion, tick count and the executable's folder.
#include "engine/shared.hpp"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

std::int32_t SceneIndex = 0;

void OutOfMemory() { FatalLine("Out of memory", kExitAssertion); }

void AdvanceSceneIndex() {
  if (SceneIndex == INT32_MAX) RangeError();
  ++SceneIndex;
}

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
