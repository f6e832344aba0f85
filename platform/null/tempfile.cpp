// uPlatformFile of the null system: temporary files in memory (platform/memory_file.cpp,
// added by system.cmake). Creating one never fails for its folder, so no private folder is
// needed; the one "folder" offered is the empty one (see tempfile.hpp).
#include "platform/memory_file.hpp"

bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure) {
  return place(std::string(), lastFailure);
}
