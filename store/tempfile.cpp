// uTempFile: exclusive creation, reading through the descriptor and guarded removal of the
// demo's temporary files (see tempfile.hpp).
#include "store/tempfile.hpp"

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
#include "platform/image.hpp"

namespace {

// How often the name is cleared again when something keeps reappearing at it.
constexpr int kAttempts = 16;

// The file is only ever the user's: nobody else may write into it between our write and
// our read, whatever the umask lets through.
constexpr mode_t kFileMode = 0600;

std::string ErrorText(int error) { return std::strerror(error); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

enum class TOutcome { Created, Directory, Unremovable, TryElsewhere, Failed };

struct TAttempt {
  TOutcome Outcome = TOutcome::Failed;
  int Fd = -1;
  int Error = 0;
};

TAttempt Result(TOutcome outcome, int error) {
  TAttempt attempt;
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
TAttempt TryCreate(const std::string& path) {
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
      TAttempt created = Result(TOutcome::Created, 0);
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

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

TTemporaryFile TTemporaryFile::Create(std::string_view fileName, std::string_view unit) {
  return CreateAt(ExecutableDirectory() + std::string(fileName), unit);
}

TTemporaryFile TTemporaryFile::CreateAt(const std::string& path, std::string_view unit) {
  const std::string prefix = "[" + std::string(unit) + "] ";
  const TAttempt first = TryCreate(path);
  switch (first.Outcome) {
    case TOutcome::Created:
      return TTemporaryFile(first.Fd, path);
    case TOutcome::Directory:
      FatalLine(prefix + "ERROR: cannot create the temporary file " + Quoted(path) +
                    ": a directory of that name is in the way",
                kExitAssertion);
    case TOutcome::Unremovable:
      FatalLine(prefix + "ERROR: cannot remove " + Quoted(path) + " to create the temporary file there: " +
                    ErrorText(first.Error),
                kExitAssertion);
    case TOutcome::Failed:
      FatalLine("Unable to create file " + Quoted(path) + ": " + ErrorText(first.Error), kExitAssertion);
    case TOutcome::TryElsewhere:
      break;
  }

  // The private folder: the user's runtime folder when it is really theirs, else a fresh one.
  const std::string name = NameOf(path);
  auto warnAndKeep = [&](const TAttempt& attempt, const std::string& where) {
    WriteLine(prefix + "WARNING: cannot create " + Quoted(path) + " (" + ErrorText(first.Error) +
              "), using " + Quoted(where) + " instead");
    return TTemporaryFile(attempt.Fd, where);
  };
  std::string lastFailure;
  if (std::optional<std::string> runtime = RuntimeFolderFromEnvironment(std::getenv("XDG_RUNTIME_DIR"))) {
    struct stat folder {};
    if (lstat(runtime->c_str(), &folder) == 0 && PrivateFolderUsable(folder, geteuid())) {
      const std::string where = Joined(*runtime, name);
      const TAttempt attempt = TryCreate(where);
      if (attempt.Outcome == TOutcome::Created) return warnAndKeep(attempt, where);
      lastFailure = where + ": " + ErrorText(attempt.Error);
    }
  }
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
    const std::string where = Joined(folderTemplate, name);
    const TAttempt attempt = TryCreate(where);
    // The file's name is gone already: the folder goes with it.
    rmdir(folderTemplate.c_str());
    if (attempt.Outcome == TOutcome::Created) return warnAndKeep(attempt, where);
    lastFailure = where + ": " + ErrorText(attempt.Error);
  }
  FatalLine("Unable to create file " + Quoted(path) + ": " + ErrorText(first.Error) + " (nor in a private folder: " +
                lastFailure + ")",
            kExitAssertion);
}

TTemporaryFile::TTemporaryFile(int fd, std::string path) : Fd_(fd), Path_(std::move(path)) {}

TTemporaryFile::TTemporaryFile(TTemporaryFile&& other) noexcept
    : Fd_(std::exchange(other.Fd_, -1)), Path_(std::move(other.Path_)) {}

TTemporaryFile& TTemporaryFile::operator=(TTemporaryFile&& other) noexcept {
  if (this != &other) {
    Remove();
    Fd_ = std::exchange(other.Fd_, -1);
    Path_ = std::move(other.Path_);
  }
  return *this;
}

TTemporaryFile::~TTemporaryFile() { Remove(); }

std::string TTemporaryFile::ReadPath() const { return "/proc/self/fd/" + std::to_string(Fd_); }

void TTemporaryFile::Write(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(Fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A half-written file is of no use to anyone: it goes before the demo ends.
      Remove();
      FatalLine("Stream write error", kExitAssertion);
    }
    done += static_cast<std::size_t>(n);
  }
}

void TTemporaryFile::WriteEntry(const TResourceEntry& entry) {
  const std::string error = TryStreamEntry(entry, [this](std::span<const std::uint8_t> chunk) { Write(chunk); });
  if (!error.empty()) {
    Remove();
    FatalLine("[uStore] ERROR: " + error, kExitAssertion);
  }
}

void TTemporaryFile::Remove() {
  // The name went when the file was made; the file itself goes with its last descriptor.
  if (Fd_ >= 0) {
    close(Fd_);
    Fd_ = -1;
  }
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
