// uImage in memory: files read whole into a buffer the mapping owns (see memory_image.hpp).
#include "platform/memory_image.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  std::uint8_t chunk[65536];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || bytes.empty()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

std::optional<TMappedFile> TMappedFile::Open(const std::string& path, std::string& error) {
  auto handle = std::make_unique<TMappingHandle>();
  if (!ReadWholeFile(path, handle->Bytes, error)) return std::nullopt;
  TMappedFile mapped;
  mapped.Bytes_ = handle->Bytes;
  mapped.Handle_ = handle.release();
  return mapped;
}

std::optional<TMappedFile> TMappedFile::OpenSelf(std::string& error) {
  auto handle = std::make_unique<TMappingHandle>();
  if (!ReadProgramImage(handle->Bytes, error)) return std::nullopt;
  TMappedFile mapped;
  mapped.Bytes_ = handle->Bytes;
  mapped.Handle_ = handle.release();
  return mapped;
}

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
