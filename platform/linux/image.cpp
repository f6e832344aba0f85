// uImage on Linux: the executable's path as /proc/self/exe gives it, and files mapped with
// mmap (see image.hpp).
#include "platform/image.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "base/fatal.hpp"

namespace {

// The running executable, whatever its path leads to by now.
constexpr const char* kSelfPath = "/proc/self/exe";

std::uintptr_t PageSize() { return static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

struct TMappingHandle {};

std::string ExecutablePath() {
  std::string path(PATH_MAX, '\0');
  ssize_t length = readlink(kSelfPath, path.data(), path.size());
  if (length <= 0) FatalLine("Cannot find the executable's path (/proc/self/exe)", kExitAssertion);
  path.resize(static_cast<std::size_t>(length));
  return path;
}

std::size_t FolderPartLength(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::optional<TMappedFile> TMappedFile::Open(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size <= 0) {
    close(fd);
    error = "cannot read " + path;
    return std::nullopt;
  }
  auto length = static_cast<std::size_t>(info.st_size);
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) {
    error = "cannot map " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  TMappedFile file;
  file.Bytes_ = {static_cast<const std::uint8_t*>(mapped), length};
  return file;
}

std::optional<TMappedFile> TMappedFile::OpenSelf(std::string& error) { return Open(kSelfPath, error); }

TMappedFile::TMappedFile(TMappedFile&& other) noexcept
    : Bytes_(std::exchange(other.Bytes_, {})), Handle_(std::exchange(other.Handle_, nullptr)) {}

TMappedFile& TMappedFile::operator=(TMappedFile&& other) noexcept {
  if (this != &other) {
    if (!Bytes_.empty()) munmap(const_cast<std::uint8_t*>(Bytes_.data()), Bytes_.size());
    Bytes_ = std::exchange(other.Bytes_, {});
    Handle_ = std::exchange(other.Handle_, nullptr);
  }
  return *this;
}

TMappedFile::~TMappedFile() {
  if (!Bytes_.empty()) munmap(const_cast<std::uint8_t*>(Bytes_.data()), Bytes_.size());
}

void TMappedFile::Prefetch(std::span<const std::uint8_t> range) const {
  const TPageRange pages = PagesCovering(range, PageSize());
  madvise(reinterpret_cast<void*>(pages.Begin), pages.End - pages.Begin, MADV_WILLNEED);
}

void TMappedFile::Release(std::span<const std::uint8_t> range) const {
  // Only the pages that hold nothing but this range: its neighbours may still be read.
  const TPageRange pages = PagesInside(range, PageSize());
  if (!pages.Empty()) madvise(reinterpret_cast<void*>(pages.Begin), pages.End - pages.Begin, MADV_DONTNEED);
}
