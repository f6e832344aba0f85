// uTempFile: exclusive creation, reading through the descriptor and guarded removal of the
// demo's temporary files (see tempfile.hpp).
#include "store/tempfile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "base/fatal.hpp"
#include "base/files.hpp"

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
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd >= 0) {
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
      return TTemporaryFile(first.Fd, path, {});
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
  auto warnAndKeep = [&](const TAttempt& attempt, const std::string& where, std::string madeFolder) {
    WriteLine(prefix + "WARNING: cannot create " + Quoted(path) + " (" + ErrorText(first.Error) +
              "), using " + Quoted(where) + " instead");
    return TTemporaryFile(attempt.Fd, where, std::move(madeFolder));
  };
  std::string lastFailure;
  if (std::optional<std::string> runtime = RuntimeFolderFromEnvironment(std::getenv("XDG_RUNTIME_DIR"))) {
    struct stat folder {};
    if (lstat(runtime->c_str(), &folder) == 0 && PrivateFolderUsable(folder, geteuid())) {
      const std::string where = Joined(*runtime, name);
      const TAttempt attempt = TryCreate(where);
      if (attempt.Outcome == TOutcome::Created) return warnAndKeep(attempt, where, {});
      lastFailure = where + ": " + ErrorText(attempt.Error);
    }
  }
  std::vector<std::string> templates = {PrivateFolderTemplate(std::getenv("TMPDIR"))};
  if (templates.front() != PrivateFolderTemplate(nullptr)) templates.push_back(PrivateFolderTemplate(nullptr));
  for (std::string folderTemplate : templates) {
    if (mkdtemp(folderTemplate.data()) == nullptr) {
      lastFailure = FolderOf(folderTemplate) + ": " + ErrorText(errno);
      continue;
    }
    const std::string where = Joined(folderTemplate, name);
    const TAttempt attempt = TryCreate(where);
    if (attempt.Outcome == TOutcome::Created) return warnAndKeep(attempt, where, folderTemplate);
    lastFailure = where + ": " + ErrorText(attempt.Error);
    rmdir(folderTemplate.c_str());
  }
  FatalLine("Unable to create file " + Quoted(path) + ": " + ErrorText(first.Error) + " (nor in a private folder: " +
                lastFailure + ")",
            kExitAssertion);
}

TTemporaryFile::TTemporaryFile(int fd, std::string path, std::string madeFolder)
    : Fd_(fd), Path_(std::move(path)), MadeFolder_(std::move(madeFolder)) {}

TTemporaryFile::TTemporaryFile(TTemporaryFile&& other) noexcept
    : Fd_(std::exchange(other.Fd_, -1)),
      Path_(std::move(other.Path_)),
      MadeFolder_(std::exchange(other.MadeFolder_, {})) {}

TTemporaryFile& TTemporaryFile::operator=(TTemporaryFile&& other) noexcept {
  if (this != &other) {
    Remove();
    Fd_ = std::exchange(other.Fd_, -1);
    Path_ = std::move(other.Path_);
    MadeFolder_ = std::exchange(other.MadeFolder_, {});
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
  if (Fd_ >= 0) {
    // Only this process's own file goes: a name that meanwhile leads to another file (a
    // second copy of the demo that replaced it, or anything planted) stays as it is.
    struct stat own {};
    struct stat there {};
    if (fstat(Fd_, &own) == 0 && lstat(Path_.c_str(), &there) == 0 && own.st_dev == there.st_dev &&
        own.st_ino == there.st_ino) {
      unlink(Path_.c_str());
    }
    close(Fd_);
    Fd_ = -1;
  }
  if (!MadeFolder_.empty()) {
    rmdir(MadeFolder_.c_str());
    MadeFolder_.clear();
  }
}
