// uImage of the null system: the program's file is the path it was started by, and a file
// is "mapped" by reading it whole into memory with the standard library; nothing is told to
// the system about ranges read soon or no more (see image.hpp).
#include "platform/image.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "base/fatal.hpp"
#include "platform/null/image.hpp"

namespace {

std::string& ProgramPath() {
  static std::string path;
  return path;
}

}  // namespace

struct TMappingHandle {
  std::vector<std::uint8_t> Bytes;
};

void RememberProgramPath(const std::string& path) { ProgramPath() = path; }

std::string ExecutablePath() {
  if (ProgramPath().empty()) FatalLine("Cannot find the executable's path (no program name)", kExitAssertion);
  return ProgramPath();
}

std::size_t FolderPartLength(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::optional<TMappedFile> TMappedFile::Open(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  auto handle = std::make_unique<TMappingHandle>();
  handle->Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad() || handle->Bytes.empty()) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  TMappedFile file;
  file.Bytes_ = handle->Bytes;
  file.Handle_ = handle.release();
  return file;
}

std::optional<TMappedFile> TMappedFile::OpenSelf(std::string& error) { return Open(ExecutablePath(), error); }

TMappedFile::TMappedFile(TMappedFile&& other) noexcept
    : Bytes_(std::exchange(other.Bytes_, {})), Handle_(std::exchange(other.Handle_, nullptr)) {}

TMappedFile& TMappedFile::operator=(TMappedFile&& other) noexcept {
  if (this != &other) {
    delete Handle_;
    Bytes_ = std::exchange(other.Bytes_, {});
    Handle_ = std::exchange(other.Handle_, nullptr);
  }
  return *this;
}

TMappedFile::~TMappedFile() { delete Handle_; }

void TMappedFile::Prefetch(std::span<const std::uint8_t>) const {}

void TMappedFile::Release(std::span<const std::uint8_t>) const {}
