// uPlatformFile on Linux: exclusive creation without following links, the name removed as
// soon as the file is open (read through the descriptor from then on), the private folders
// ($XDG_RUNTIME_DIR when it is the user's alone, else a fresh folder under $TMPDIR or /tmp),
// and the signal guard for the instant a name stands (see platform/tempfile.hpp and
// platform/linux/tempfile.hpp).
#include "platform/linux/tempfile.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <algorithm>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "base/fatal.hpp"

namespace {

// How often the name is cleared again when something keeps reappearing at it.
constexpr int kAttempts = 16;

// The file is only ever the user's: nobody else may write into it between our write and
// our read, whatever the umask lets through.
constexpr mode_t kFileMode = 0600;

std::string ErrorText(int error) { return std::strerror(error); }

enum class TOutcome { Created, Directory, Unremovable, TryElsewhere, Failed };

struct TCreation {
  TOutcome Outcome = TOutcome::Failed;
  int Fd = -1;
  int Error = 0;
};

TCreation Result(TOutcome outcome, int error) {
  TCreation attempt;
  attempt.Outcome = outcome;
  attempt.Error = error;
  return attempt;
}

// ---------------------------------------------------------------------------------------
// Names that stand for a moment. Between creating a file (or a private folder) and removing
// its name again, a catchable signal removes the name before the signal ends the process.
// The handler makes only async-signal-safe calls (lstat, unlink, rmdir, sigaction, raise)
// and touches only lock-free atomics and the fixed slots below.

constexpr int kCleanedSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
                                   SIGSEGV, SIGBUS,  SIGFPE, SIGILL,  SIGABRT};
constexpr std::size_t kSignalCount = std::size(kCleanedSignals);

// A slot's state: free, being created (the name may stand, its identity is not known yet),
// standing (Path names this file or folder), or kDeferredBase + the signal that came while
// it was being created.
enum : int { kFree = 0, kCreating = 1, kStanding = 2, kDeferredBase = 1000 };

}  // namespace

// One name that stands for a moment (see TStandingName).
struct TNameSlot {
  std::atomic<int> State{kFree};
  char Path[4096] = {};
  dev_t Device = 0;
  ino_t Inode = 0;
  bool Folder = false;
};
static_assert(std::atomic<int>::is_always_lock_free);

namespace {

// A file and the private folder it lies in.
TNameSlot gSlots[2];
struct sigaction gPrevious[kSignalCount];
bool gHandled[kSignalCount] = {};
int gGuards = 0;  // main thread only

// Removes a standing name while it still names what this process made.
void RemoveIfStillOurs(const TNameSlot& slot) {
  struct stat there {};
  if (lstat(slot.Path, &there) != 0 || there.st_dev != slot.Device || there.st_ino != slot.Inode) return;
  if (slot.Folder) {
    rmdir(slot.Path);
  } else {
    unlink(slot.Path);
  }
}

// Files first, then the folder they lie in.
void RemoveStandingNames() {
  for (bool folders : {false, true}) {
    for (const TNameSlot& slot : gSlots) {
      if (slot.Folder == folders && slot.State.load() == kStanding) RemoveIfStillOurs(slot);
    }
  }
}

// The disposition the signal had before, and the signal again: the process ends as it
// would have without the demo's handler (same status, a core where the system makes one).
void RestoreAndRaise(int signal) {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (kCleanedSignals[i] == signal && gHandled[i]) sigaction(signal, &gPrevious[i], nullptr);
  }
  raise(signal);
}

void OnSignal(int signal) {
  const int savedErrno = errno;
  // A name being created has no identity yet: its creator removes it and raises the signal
  // once it has one (the handler may run on another thread meanwhile).
  bool deferred = false;
  for (TNameSlot& slot : gSlots) {
    int expected = kCreating;
    if (slot.State.compare_exchange_strong(expected, kDeferredBase + signal)) deferred = true;
  }
  if (!deferred) {
    RemoveStandingNames();
    RestoreAndRaise(signal);
  }
  errno = savedErrno;
}

void InstallHandlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction previous {};
    gHandled[i] = false;
    if (sigaction(kCleanedSignals[i], nullptr, &previous) != 0) continue;
    // An ignored signal (nohup, a parent that ignores SIGPIPE) stays ignored.
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
    struct sigaction ours {};
    ours.sa_handler = OnSignal;
    sigemptyset(&ours.sa_mask);
    for (int other : kCleanedSignals) sigaddset(&ours.sa_mask, other);
    ours.sa_flags = SA_RESTART;
    gPrevious[i] = previous;
    gHandled[i] = sigaction(kCleanedSignals[i], &ours, nullptr) == 0;
  }
}

void RestoreHandlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (gHandled[i]) sigaction(kCleanedSignals[i], &gPrevious[i], nullptr);
    gHandled[i] = false;
  }
}

// A signal that came while a name was being created: the names go, then the signal.
void HandleDeferred(int previousState) {
  if (previousState < kDeferredBase) return;
  RemoveStandingNames();
  RestoreAndRaise(previousState - kDeferredBase);
}

// True when the name still leads to the file or folder described by own.
bool NamesThis(const std::string& path, const struct stat& own) {
  struct stat there {};
  return lstat(path.c_str(), &there) == 0 && own.st_dev == there.st_dev && own.st_ino == there.st_ino;
}


// Clears the name (never following a link) and creates the file there exclusively.
TCreation TryCreate(const std::string& path) {
  int lastError = EEXIST;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    struct stat there {};
    if (lstat(path.c_str(), &there) == 0) {
      if (S_ISDIR(there.st_mode)) return Result(TOutcome::Directory, EISDIR);
      if (unlink(path.c_str()) != 0) {
        const int error = errno;
        if (error == ENOENT) continue;  // gone already
        if (error == EISDIR) return Result(TOutcome::Directory, error);
        switch (StepAfterError(error)) {
          case TTemporaryFileStep::Retry: lastError = error; continue;
          case TTemporaryFileStep::TryElsewhere: return Result(TOutcome::TryElsewhere, error);
          case TTemporaryFileStep::Fatal: return Result(TOutcome::Unremovable, error);
        }
      }
    } else if (errno != ENOENT) {
      const int error = errno;
      if (StepAfterError(error) == TTemporaryFileStep::TryElsewhere) return Result(TOutcome::TryElsewhere, error);
      return Result(TOutcome::Failed, error);
    }
    TStandingName standing;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd >= 0) {
      // The name goes at once: everything is read through the descriptor, and a run that
      // ends in any way (even SIGKILL) leaves nothing behind.
      struct stat own {};
      if (fstat(fd, &own) == 0) {
        standing.Made(path, own, false);
        if (NamesThis(path, own)) unlink(path.c_str());
      }
      TCreation created = Result(TOutcome::Created, 0);
      created.Fd = fd;
      return created;
    }
    const int error = errno;
    switch (StepAfterError(error)) {
      case TTemporaryFileStep::Retry: lastError = error; continue;
      case TTemporaryFileStep::TryElsewhere: return Result(TOutcome::TryElsewhere, error);
      case TTemporaryFileStep::Fatal: return Result(TOutcome::Failed, error);
    }
  }
  // Something keeps reappearing at the name: this folder does not take the file.
  return Result(TOutcome::TryElsewhere, lastError);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

TTemporaryFileStep StepAfterError(int error) {
  switch (error) {
    case EEXIST:
    case EINTR:
      return TTemporaryFileStep::Retry;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOSPC:
    case EDQUOT:
      return TTemporaryFileStep::TryElsewhere;
    default:
      return TTemporaryFileStep::Fatal;
  }
}

bool PrivateFolderUsable(const struct stat& folder, uid_t user) {
  return S_ISDIR(folder.st_mode) && folder.st_uid == user && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<std::string> RuntimeFolderFromEnvironment(const char* value) {
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

std::string PrivateFolderTemplate(const char* temporaryDirectory) {
  std::string base = temporaryDirectory != nullptr && temporaryDirectory[0] == '/' ? temporaryDirectory : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return Joined(base, "ombrel-tessic-kelvo-XXXXXX");
}

struct TFileHandle {
  int Fd = -1;
};

int DescriptorOf(const TPlatformFile& file) { return file.IsOpen() ? file.SystemHandle()->Fd : -1; }

TPlatformFile::TAttempt TPlatformFile::Create(const std::string& path) {
  Close();
  const TCreation creation = TryCreate(path);
  TAttempt attempt;
  if (creation.Error != 0) attempt.Error = ErrorText(creation.Error);
  switch (creation.Outcome) {
    case TOutcome::Created:
      Handle_ = new TFileHandle{creation.Fd};
      attempt.Result = TResult::Created;
      break;
    case TOutcome::Directory: attempt.Result = TResult::Directory; break;
    case TOutcome::Unremovable: attempt.Result = TResult::Unremovable; break;
    case TOutcome::TryElsewhere: attempt.Result = TResult::TryElsewhere; break;
    case TOutcome::Failed: attempt.Result = TResult::Failed; break;
  }
  return attempt;
}

bool TPlatformFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
  if (Handle_ == nullptr) {
    error = ErrorText(EBADF);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(Handle_->Fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = ErrorText(n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t TPlatformFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  if (Handle_ == nullptr) return 0;
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(Handle_->Fd, static_cast<std::uint8_t*>(buffer) + done, count - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::uint64_t TPlatformFile::Size() const {
  struct stat info {};
  if (Handle_ == nullptr || fstat(Handle_->Fd, &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

std::string TPlatformFile::LibraryPath() const {
  return Handle_ == nullptr ? std::string() : "/proc/self/fd/" + std::to_string(Handle_->Fd);
}

void TPlatformFile::Close() {
  // The name went when the file was made; the file itself goes with its last descriptor.
  if (Handle_ != nullptr) {
    close(Handle_->Fd);
    delete Handle_;
    Handle_ = nullptr;
  }
}

bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure) {
  // The user's runtime folder when it is really theirs.
  if (std::optional<std::string> runtime = RuntimeFolderFromEnvironment(std::getenv("XDG_RUNTIME_DIR"))) {
    struct stat folder {};
    if (lstat(runtime->c_str(), &folder) == 0 && PrivateFolderUsable(folder, geteuid())) {
      if (place(Joined(*runtime, ""), lastFailure)) return true;
    }
  }
  // Else a fresh folder, removed as soon as the file in it is made (its name is gone by then).
  std::vector<std::string> templates = {PrivateFolderTemplate(std::getenv("TMPDIR"))};
  if (templates.front() != PrivateFolderTemplate(nullptr)) templates.push_back(PrivateFolderTemplate(nullptr));
  for (std::string folderTemplate : templates) {
    TStandingName standingFolder;
    if (mkdtemp(folderTemplate.data()) == nullptr) {
      lastFailure = FolderOf(folderTemplate) + ": " + ErrorText(errno);
      continue;
    }
    struct stat made {};
    if (lstat(folderTemplate.c_str(), &made) == 0) standingFolder.Made(folderTemplate, made, true);
    const bool placed = place(Joined(folderTemplate, ""), lastFailure);
    rmdir(folderTemplate.c_str());
    if (placed) return true;
  }
  return false;
}

TStandingName::TStandingName() {
  if (gGuards++ == 0) InstallHandlers();
  for (TNameSlot& slot : gSlots) {
    if (slot.State.load() == kFree) {
      Slot_ = &slot;
      break;
    }
  }
  Assert(Slot_ != nullptr, "more than two temporary names at once", "uTempFile", __LINE__);
  Slot_->State.store(kCreating);
}

void TStandingName::Made(const std::string& path, const struct stat& identity, bool folder) {
  TNameSlot& slot = *Slot_;
  const std::size_t length = std::min(path.size(), sizeof slot.Path - 1);
  std::memcpy(slot.Path, path.data(), length);
  slot.Path[length] = '\0';
  slot.Device = identity.st_dev;
  slot.Inode = identity.st_ino;
  slot.Folder = folder;
  HandleDeferred(slot.State.exchange(kStanding));
}

TStandingName::~TStandingName() {
  HandleDeferred(Slot_->State.exchange(kFree));
  if (--gGuards == 0) RestoreHandlers();
}
