// uImage: the running executable's own file. Its path places the temporary files; its bytes
// hold the resource store, which the store reader finds as a section (ELF or PE) of the
// mapped image. A mapping is read-only, private and lives as long as its object; the
// system may be told that a range will be read soon or not again, so that the pages of
// entries already loaded leave the resident memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The running executable's path, as the system reports it (UTF-8 on every system). A
// system that cannot tell ends the demo with one line and status 217.
std::string ExecutablePath();

// The folder that holds the running executable, with its trailing separator.
std::string ExecutableDirectory();

// Where a path's folder part ends: the position just past the last separator of the system
// ('/' everywhere, '\\' too on Windows), or 0 when the path has none.
std::size_t FolderPartLength(const std::string& path);

// A range of memory in whole pages: the pages a range touches (Covering), or those that
// hold nothing but it (Inside; empty when there is none), for pages of pageSize bytes.
struct TPageRange {
  std::uintptr_t Begin = 0;
  std::uintptr_t End = 0;
  bool Empty() const { return Begin >= End; }
};
TPageRange PagesCovering(std::span<const std::uint8_t> range, std::uintptr_t pageSize);
TPageRange PagesInside(std::span<const std::uint8_t> range, std::uintptr_t pageSize);

struct TMappingHandle;  // the system's mapping, defined by each system's implementation

class TMappedFile {
 public:
  // Maps the whole file at path read-only; on failure returns nothing and sets error to
  // "cannot open|read|map <path>: <the system's words>".
  static std::optional<TMappedFile> Open(const std::string& path, std::string& error);
  // Maps the running executable's own file (whatever its path leads to by now).
  static std::optional<TMappedFile> OpenSelf(std::string& error);

  TMappedFile(TMappedFile&& other) noexcept;
  TMappedFile& operator=(TMappedFile&& other) noexcept;
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;
  ~TMappedFile();

  std::span<const std::uint8_t> Bytes() const { return Bytes_; }
  // The range (inside Bytes) will be read soon: start reading it from disk now.
  void Prefetch(std::span<const std::uint8_t> range) const;
  // The range will not be read again: the pages that hold nothing else may leave memory.
  void Release(std::span<const std::uint8_t> range) const;

 private:
  TMappedFile() = default;
  std::span<const std::uint8_t> Bytes_;
  TMappingHandle* Handle_ = nullptr;
};
