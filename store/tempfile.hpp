// uTempFile: a temporary file that nobody else can turn against the user and that no end of
// the run leaves behind. Whatever stands at the name (a file, a symbolic link) is removed
// first and the file is created new and exclusively, never through a link; its name is
// removed again as soon as the file is open, so readers open it through this process's own
// descriptor (/proc/self/fd/N) and not even SIGKILL leaves it behind. A folder that does not
// take the file gives way to a private folder ($XDG_RUNTIME_DIR when it is the user's own,
// else a fresh folder under $TMPDIR or /tmp, removed as soon as the file in it is open) with
// one warning line. For the instant a name stands, a catchable signal removes it (only while
// it names what this process made) and then ends the process as that signal does.
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
  // Closes the file, which then goes (its name went when it was made). Later calls do
  // nothing.
  void Remove();

 private:
  TTemporaryFile(int fd, std::string path);

  int Fd_ = -1;
  std::string Path_;  // where the file was made; the name no longer stands
};

// A name that stands for a moment: a file between its creation and the removal of its name,
// or a private folder until it is removed. Construct it before the name is made and call
// Made once it stands; until it is destroyed (after the name is gone, or when making it
// failed) a catchable signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT; not those the process ignores) removes the name if it still
// leads to what was made, restores the signal's disposition and raises it again. A signal
// that comes before Made is kept until Made or the destructor, which then do the same.
// Main thread only; at most two at a time (a file and the folder it lies in).
struct TNameSlot;
class TStandingName {
 public:
  TStandingName();
  ~TStandingName();
  TStandingName(const TStandingName&) = delete;
  TStandingName& operator=(const TStandingName&) = delete;

  // The name now stands and leads to what identity describes.
  void Made(const std::string& path, const struct stat& identity, bool folder);

 private:
  TNameSlot* Slot_ = nullptr;
};
