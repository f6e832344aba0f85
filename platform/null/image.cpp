// uImage of the null system: the program's file is the path it was started by, and a file
// is "mapped" by reading it whole into memory with the standard library
// (platform/memory_image.cpp, added by system.cmake; see image.hpp).
#include "base/fatal.hpp"
#include "platform/memory_image.hpp"
#include "platform/null/image.hpp"

namespace {

std::string& ProgramPath() {
  static std::string path;
  return path;
}

}  // namespace

void RememberProgramPath(const std::string& path) { ProgramPath() = path; }

std::string ExecutablePath() {
  if (ProgramPath().empty()) FatalLine("Cannot find the executable's path (no program name)", kExitAssertion);
  return ProgramPath();
}

std::size_t FolderPartLength(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

bool ReadProgramImage(std::vector<std::uint8_t>& bytes, std::string& error) {
  return ReadWholeFile(ExecutablePath(), bytes, error);
}
