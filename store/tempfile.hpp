// uTempFile: a temporary file that nobody else can turn against the user and that no end of
// the run leaves behind. The file goes beside the running executable first: whatever stands
// at the name (a file, a symbolic link) is removed, the file is created new and
// exclusively, never through a link, and from then on it is reached only through this
// process's open handle (its name is gone at once, or goes with the handle, as the system
// allows), so not even a killed process leaves it behind. A folder that does not take the
// file gives way to the system's private folder with one warning line; anything else ends
// the demo with one line and status 217.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/tempfile.hpp"
#include "store/store.hpp"

class TTemporaryFile {
 public:
  // The file of that name beside the running executable (or in the private folder).
  static TTemporaryFile Create(std::string_view fileName, std::string_view unit);
  // The same at a given path; its folder part is where the file goes first.
  static TTemporaryFile CreateAt(const std::string& path, std::string_view unit);

  TTemporaryFile(TTemporaryFile&& other) noexcept = default;
  TTemporaryFile& operator=(TTemporaryFile&& other) noexcept = default;
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;
  ~TTemporaryFile() = default;

  // Where the file lies, for the log lines.
  const std::string& Path() const { return Path_; }
  // Appends the bytes. A failed write removes the file and ends the demo.
  void Write(std::span<const std::uint8_t> bytes);
  // Appends a store entry's content, decompressed block by block. Damaged stored data
  // removes the file and ends the demo with one "[uStore] ERROR: ..." line.
  void WriteEntry(const TResourceEntry& entry);
  // Reads up to count bytes at offset of this very file, whatever its name leads to by now;
  // returns how many arrived.
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    return File_.ReadAt(offset, buffer, count);
  }
  std::uint64_t Size() const { return File_.Size(); }
  // The file as the system holds it, for that system's tests.
  const TPlatformFile& File() const { return File_; }
  // Closes the file, which then goes. Later calls do nothing.
  void Remove() { File_.Close(); }

 private:
  TTemporaryFile(TPlatformFile file, std::string path);

  TPlatformFile File_;
  std::string Path_;  // where the file was made
};
