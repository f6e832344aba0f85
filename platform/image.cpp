// uImage: the parts of the executable's image that are the same on every system (see
// image.hpp).
#include "platform/image.hpp"

std::string ExecutableDirectory() {
  const std::string path = ExecutablePath();
  const std::size_t folder = FolderPartLength(path);
  return folder == 0 ? std::string("./") : path.substr(0, folder);
}

TPageRange PagesCovering(std::span<const std::uint8_t> range, std::uintptr_t pageSize) {
  const auto begin = reinterpret_cast<std::uintptr_t>(range.data());
  return {begin / pageSize * pageSize, begin + range.size()};
}

TPageRange PagesInside(std::span<const std::uint8_t> range, std::uintptr_t pageSize) {
  const auto begin = reinterpret_cast<std::uintptr_t>(range.data());
  const auto end = begin + range.size();
  return {(begin + pageSize - 1) / pageSize * pageSize, end / pageSize * pageSize};
}
