// uPlatformFile on the web: the page has no file system of its own, so a temporary file is
// a buffer in the module's memory (platform/memory_file.cpp, added by system.cmake),
// reachable only through its handle and gone when it is closed or the page goes. Every
// folder takes it; the private one only names it (see tempfile.hpp).
#include "platform/memory_file.hpp"

bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure) {
  return place("/tmp/", lastFailure);
}
