// uPlatformFile: the system's part of the demo's temporary files. A file is created new and
// exclusively at a path (whatever stood at the name is removed first, never followed if it
// is a link), is reachable afterwards only through this process's open handle, and is gone
// however the process ends: its name is removed as soon as it is open where the system
// allows it (and a catchable signal removes it in the instant it stands), or the system
// deletes it when its last handle closes. Where the executable's folder does not take the
// file, the system's private folders are tried in turn. The policy (which folder first, the
// log lines, what is fatal) is the caller's.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct TFileHandle;  // the system's open file, defined by each system's implementation

class TPlatformFile {
 public:
  // How an attempt to create the file ended.
  enum class TResult {
    Created,       // the file is open and its name gone (or going with the handle)
    Directory,     // a directory of that name is in the way
    Unremovable,   // what stands at the name cannot be removed (Error says why)
    TryElsewhere,  // the folder does not take the file: no permission, read-only, full
    Failed,        // anything else (Error says why)
  };
  struct TAttempt {
    TResult Result = TResult::Failed;
    std::string Error;  // the system's words for the error, where there is one
  };

  TPlatformFile();
  TPlatformFile(TPlatformFile&& other) noexcept;
  TPlatformFile& operator=(TPlatformFile&& other) noexcept;
  TPlatformFile(const TPlatformFile&) = delete;
  TPlatformFile& operator=(const TPlatformFile&) = delete;
  ~TPlatformFile();

  // Clears the name and creates the file there exclusively (path in UTF-8).
  TAttempt Create(const std::string& path);
  bool IsOpen() const;
  // Appends all the bytes; false (with the system's words in error) when they cannot be.
  bool Write(std::span<const std::uint8_t> bytes, std::string& error);
  // Reads up to count bytes at offset through the open handle; returns how many arrived
  // (0 at the end, and on an error).
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const;
  // The file's size through the open handle.
  std::uint64_t Size() const;
  // A name by which a library that opens files by name reaches this very file, where the
  // system has one ("/proc/self/fd/N" on Linux); empty where it has none, and such a
  // library is given ReadAt instead.
  std::string LibraryPath() const;
  // Closes the handle; the file goes with it. Later calls do nothing.
  void Close();
  // The system's own handle (null when closed), for that system's tests alone.
  const TFileHandle* SystemHandle() const { return Handle_; }

 private:
  TFileHandle* Handle_ = nullptr;
};

// The system's private folders for the demo's files when the executable's folder does not
// take them, in the order they are tried. place is called with each folder (with its
// trailing separator) and returns true once the file is made there; a folder made only for
// the file is removed again after place returns (where the system allows that while the
// file is open). Returns false when no folder took the file, with the last failure
// ("<folder or path>: <why>") in lastFailure.
bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure);
