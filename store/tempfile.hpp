// uTempFile: a temporary file that nobody else can turn against the user. Whatever stands at
// the name (a file, a symbolic link) is removed first and the file is created new and
// exclusively, never through a link; readers open it through this process's own
// descriptor (/proc/self/fd/N), so bytes that someone swapped in under the name are never
// parsed; removal unlinks the name only while it still names this process's file. A folder
// that does not take the file gives way to a private folder ($XDG_RUNTIME_DIR when it is
// the user's own, else a fresh folder under $TMPDIR or /tmp) with one warning line.
// Depends on uTextFiles (the executable's folder), uStore (entries), uFatal and POSIX files.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "store/store.hpp"

// What an error of removing or creating a file at the name means for the attempt.
enum class TTemporaryFileStep {
  Retry,          // something appeared at the name meanwhile: clear it again
  TryElsewhere,   // the folder does not take the file (no permission, read-only, full, or
                  // a name another user holds in a sticky folder): use the private folder
  Fatal,          // anything else: the demo ends with the error
};
TTemporaryFileStep StepAfterError(int error);

// True when a folder, as lstat describes it, may hold this user's private files: a real
// directory (not a link) owned by the user that neither group nor others may write.
bool PrivateFolderUsable(const struct stat& folder, uid_t user);

// $XDG_RUNTIME_DIR when it is set to an absolute path, else nothing.
std::optional<std::string> RuntimeFolderFromEnvironment(const char* value);

// The mkdtemp template of a fresh private folder: under $TMPDIR when it is an absolute
// path, else under /tmp.
std::string PrivateFolderTemplate(const char* temporaryDirectory);

class TTemporaryFile {
 public:
  // The file of that name beside the running executable (or in the private folder).
  static TTemporaryFile Create(std::string_view fileName, std::string_view unit);
  // The same at a given path; its folder part is where the file goes first.
  static TTemporaryFile CreateAt(const std::string& path, std::string_view unit);

  TTemporaryFile(TTemporaryFile&& other) noexcept;
  TTemporaryFile& operator=(TTemporaryFile&& other) noexcept;
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;
  ~TTemporaryFile();

  // Where the file lies, for the log lines.
  const std::string& Path() const { return Path_; }
  // The path through which readers open this very file: "/proc/self/fd/N".
  std::string ReadPath() const;
  // Appends the bytes. A failed write removes the file and ends the demo.
  void Write(std::span<const std::uint8_t> bytes);
  // Appends a store entry's content, decompressed block by block. Damaged stored data
  // removes the file and ends the demo with one "[uStore] ERROR: ..." line.
  void WriteEntry(const TResourceEntry& entry);
  // Unlinks the name if it still names this file, closes it and removes a private folder
  // this object made. Later calls do nothing.
  void Remove();

 private:
  TTemporaryFile(int fd, std::string path, std::string madeFolder);

  int Fd_ = -1;
  std::string Path_;
  std::string MadeFolder_;  // a folder made for this file, removed with it
};
