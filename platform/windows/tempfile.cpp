// uPlatformFile on Windows: the demo's temporary files with wide paths throughout. What
// stands at the name is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or
// junction is removed, never what it leads to; where the handle leads elsewhere all the
// same, nothing is deleted and the file goes to the private folder) and deleted through
// that handle; the file is then created new (CREATE_NEW) shared for deletion only, so
// nobody else can read or write it, and with FILE_FLAG_DELETE_ON_CLOSE, so the system
// deletes it when its handle closes however the process ends (TerminateProcess and a crash
// included). Where the file system allows it (NTFS on Windows 10 and later) its name is
// removed at once with POSIX semantics through a second handle (see CreateNamelessFile in
// tempfile_steps.hpp), as on Linux: the folder shows nothing, a second run beside it is not
// in its way and a private folder made for it goes at once. The private folder is the user's temporary folder,
// then a fresh folder inside it (see tempfile.hpp).
#include "platform/tempfile.hpp"

#include <windows.h>

#include <utility>

#include "platform/windows/tempfile_steps.hpp"
#include "platform/windows/wide.hpp"

struct TFileHandle {
  HANDLE File = INVALID_HANDLE_VALUE;
  std::uint64_t End = 0;  // where the next write goes
};

namespace {

// How often the name is cleared again when something keeps reappearing at it.
constexpr int kAttempts = 16;

// FILE_DISPOSITION_INFO_EX and its flags (Windows 10 1607 and later), declared here so the
// headers' Windows version need not claim it.
constexpr int kFileDispositionInfoEx = 21;
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct TDispositionInfoEx {
  DWORD Flags;
};

// Marks the open file or link for deletion: its name goes at once where POSIX semantics are
// available, else when the last handle closes. A read-only attribute does not stand in the
// way (as a file's mode does not on Linux).
bool DeleteThroughHandle(HANDLE handle, DWORD& error) {
  TDispositionInfoEx posix{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(handle, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileDispositionInfoEx), &posix,
                                 sizeof posix)) {
    return true;
  }
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO classic{TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &classic, sizeof classic)) return true;
  error = GetLastError();
  return false;
}

TPlatformFile::TAttempt Outcome(TPlatformFile::TResult result, DWORD error = 0) {
  TPlatformFile::TAttempt attempt;
  attempt.Result = result;
  if (error != 0) attempt.Error = ErrorWords(error);
  return attempt;
}

// What an error of clearing or creating the name means for the attempt.
TPlatformFile::TResult ResultOf(TTempFileStep step, TPlatformFile::TResult fatal) {
  return step == TTempFileStep::TryElsewhere ? TPlatformFile::TResult::TryElsewhere : fatal;
}

enum class TCleared { Free, Removed, Directory, Stop };

// The path a handle leads to, with links and junctions resolved ("" where it cannot tell).
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  auto read = [&] {
    return GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  };
  DWORD length = read();
  if (length >= path.size()) {
    path.resize(length + 1);
    length = read();
  }
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  CharUpperBuffW(path.data(), length);  // names compare without regard to case
  return path;
}

// True when the handle opened at path is what stands at that name itself, not what a link
// there leads to: its final path is its folder's final path and its own name. (Windows
// opens a link as itself when asked to; a file system that cannot, as Wine's over a Unix
// symbolic link, would otherwise have the link's target deleted.)
bool OpenedItself(HANDLE handle, const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return false;
  HANDLE folder = CreateFileW(path.substr(0, separator + 1).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  std::wstring expected = FinalPath(folder);
  CloseHandle(folder);
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  std::wstring name = path.substr(separator + 1);
  CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
  const std::wstring actual = FinalPath(handle);
  return !actual.empty() && actual == expected + name;
}

// Removes whatever stands at the name (a link itself, never its target); a real directory
// is left alone.
TCleared ClearName(const std::wstring& path, TPlatformFile::TAttempt& stop) {
  HANDLE there = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (there == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return TCleared::Free;
    const TTempFileStep step = StepAfterWindowsError(error);
    if (step == TTempFileStep::Retry) return TCleared::Removed;
    stop = Outcome(ResultOf(step, TPlatformFile::TResult::Unremovable), error);
    return TCleared::Stop;
  }
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool known = GetFileInformationByHandleEx(there, FileAttributeTagInfo, &tag, sizeof tag) != 0;
  if (known && (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    CloseHandle(there);
    stop = Outcome(TPlatformFile::TResult::Directory);
    return TCleared::Directory;
  }
  if (!OpenedItself(there, path)) {
    CloseHandle(there);
    stop = Outcome(TPlatformFile::TResult::TryElsewhere);
    stop.Error = "a link stands at the name and cannot be removed without following it";
    return TCleared::Stop;
  }
  DWORD error = 0;
  const bool deleted = DeleteThroughHandle(there, error);
  CloseHandle(there);
  if (deleted) return TCleared::Removed;
  stop = Outcome(ResultOf(StepAfterWindowsError(error), TPlatformFile::TResult::Unremovable), error);
  return TCleared::Stop;
}

// The system's calls of CreateNamelessFile (tempfile_steps.hpp) for one path.
struct TNamelessCalls {
  using THandle = HANDLE;
  const std::wstring& Path;
  DWORD Error = 0;  // of CreateData, when it fails

  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  HANDLE CreateData() {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};  // no child process inherits it
    HANDLE file = CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, &security,
                              CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) Error = GetLastError();
    return file;
  }
  HANDLE OpenForDeletion() const {
    // Reading attributes is not shared or refused by the data handle's sharing; SameFile
    // needs it.
    return CreateFileW(Path.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  static bool SameFile(HANDLE data, HANDLE name) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return GetFileInformationByHandle(data, &a) && GetFileInformationByHandle(name, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
  }
  static void MarkPosixDelete(HANDLE name) {
    TDispositionInfoEx posix{kDispositionDelete | kDispositionPosixSemantics};
    SetFileInformationByHandle(name, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileDispositionInfoEx), &posix,
                               sizeof posix);
  }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};

// A fresh folder's name inside the temporary folder: the process id and the performance
// counter, tried again while taken.
std::wstring FreshFolderName(unsigned attempt) {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  wchar_t name[64];
  swprintf(name, sizeof name / sizeof name[0], L"ombrel-tessic-kelvo-%lx-%llx-%x", GetCurrentProcessId(),
           static_cast<unsigned long long>(counter.QuadPart), attempt);
  return name;
}

}  // namespace

TPlatformFile::TAttempt TPlatformFile::Create(const std::string& path) {
  Close();
  const std::wstring wide = SystemPath(path);
  DWORD lastError = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    TAttempt stop;
    switch (ClearName(wide, stop)) {
      case TCleared::Directory:
      case TCleared::Stop:
        return stop;
      case TCleared::Free:
      case TCleared::Removed:
        break;
    }
    TNamelessCalls calls{wide};
    HANDLE file = CreateNamelessFile(calls);
    if (file != INVALID_HANDLE_VALUE) {
      Handle_ = new TFileHandle{file, 0};
      return Outcome(TResult::Created);
    }
    const DWORD error = calls.Error;
    const TTempFileStep step = StepAfterWindowsError(error);
    if (step == TTempFileStep::Retry) {
      lastError = error;
      continue;
    }
    return Outcome(ResultOf(step, TResult::Failed), error);
  }
  // Something keeps reappearing at the name: this folder does not take the file.
  return Outcome(TResult::TryElsewhere, lastError);
}

bool TPlatformFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
  if (Handle_ == nullptr) {
    error = ErrorWords(ERROR_INVALID_HANDLE);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(Handle_->End);
    at.OffsetHigh = static_cast<DWORD>(Handle_->End >> 32);
    DWORD written = 0;
    if (!WriteFile(Handle_->File, bytes.data() + done, chunk, &written, &at) || written == 0) {
      error = ErrorWords(GetLastError());
      return false;
    }
    done += written;
    Handle_->End += written;
  }
  return true;
}

std::size_t TPlatformFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  if (Handle_ == nullptr) return 0;
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t position = offset + done;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    DWORD read = 0;
    if (!ReadFile(Handle_->File, static_cast<std::uint8_t*>(buffer) + done, chunk, &read, &at) || read == 0) break;
    done += read;
  }
  return done;
}

std::uint64_t TPlatformFile::Size() const {
  LARGE_INTEGER size{};
  if (Handle_ == nullptr || !GetFileSizeEx(Handle_->File, &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

void TPlatformFile::Close() {
  if (Handle_ == nullptr) return;
  CloseHandle(Handle_->File);
  delete Handle_;
  Handle_ = nullptr;
}

bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure) {
  // The user's own temporary folder (%TEMP%, under the profile and closed to other users).
  std::wstring temporary(MAX_PATH + 1, L'\0');
  DWORD length = GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
  if (length > temporary.size()) {
    temporary.resize(length);
    length = GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
  }
  if (length == 0 || length > temporary.size()) {
    lastFailure = "the temporary folder: " + ErrorWords(GetLastError());
    return false;
  }
  temporary.resize(length);
  if (temporary.back() != L'\\') temporary += L'\\';
  const std::string temporaryUtf8 = DisplayPath(temporary);
  std::string failure;
  if (place(temporaryUtf8, failure)) return true;
  lastFailure = failure;

  // A fresh folder of its own inside it, where another run's file of the same name is not
  // in the way.
  for (unsigned attempt = 0; attempt < 16; ++attempt) {
    const std::wstring folder = temporary + FreshFolderName(attempt);
    if (!CreateDirectoryW(SystemPath(Utf8FromWide(folder)).c_str(), nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_ALREADY_EXISTS) continue;
      lastFailure = temporaryUtf8 + ": " + ErrorWords(error);
      return false;
    }
    const std::string folderUtf8 = DisplayPath(folder) + "\\";
    const bool placed = place(folderUtf8, failure);
    const std::wstring systemFolder = SystemPath(DisplayPath(folder));
    // Gone at once where the file's name went (POSIX semantics).
    if (!RemoveDirectoryW(systemFolder.c_str()) && placed) {
      // The file's name stands until its handle closes (no POSIX semantics here): the
      // folder is marked to go when this process ends, which removes it if the file went
      // first.
      HANDLE handle = CreateFileW(systemFolder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_DELETE_ON_CLOSE,
                                  nullptr);
      static_cast<void>(handle);  // held until the process ends
    }
    if (placed) return true;
    lastFailure = failure;
    return false;
  }
  lastFailure = temporaryUtf8 + ": " + ErrorWords(ERROR_ALREADY_EXISTS);
  return false;
}

// Libraries that open files by name would open them through the C runtime's narrow (code
// page) paths; they are given the open handle instead.
std::string TPlatformFile::LibraryPath() const { return {}; }
