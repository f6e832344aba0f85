// uImage: the parts of the executable's image that are the same on every system (see
// image.hpp).
#include "platform/image.hpp"

std::string ExecutableDirectory() {
  const std::string path = ExecutablePath();
  const std::size_t folder = FolderPartLength(path);
  return folder == 0 ? std::string("./") : path.substr(0, folder);
}
