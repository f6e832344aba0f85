// uTempFile: where the demo's temporary files go, what is said about it and what ends the
// run (see tempfile.hpp); the system's part is platform/tempfile.hpp.
#include "store/tempfile.hpp"

#include <utility>

#include "base/fatal.hpp"
#include "platform/image.hpp"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string NameOf(const std::string& path) { return path.substr(FolderPartLength(path)); }

}  // namespace

TTemporaryFile TTemporaryFile::Create(std::string_view fileName, std::string_view unit) {
  return CreateAt(ExecutableDirectory() + std::string(fileName), unit);
}

TTemporaryFile TTemporaryFile::CreateAt(const std::string& path, std::string_view unit) {
  const std::string prefix = UnitLine(unit, "");
  TPlatformFile file;
  const TPlatformFile::TAttempt first = file.Create(path);
  switch (first.Result) {
    case TPlatformFile::TResult::Created:
      return TTemporaryFile(std::move(file), path);
    case TPlatformFile::TResult::Directory:
      FatalLine(prefix + "ERROR: cannot create the temporary file " + Quoted(path) +
                    ": a directory of that name is in the way",
                kExitAssertion);
    case TPlatformFile::TResult::Unremovable:
      FatalLine(prefix + "ERROR: cannot remove " + Quoted(path) + " to create the temporary file there: " +
                    first.Error,
                kExitAssertion);
    case TPlatformFile::TResult::Failed:
      FatalLine("Unable to create file " + Quoted(path) + ": " + first.Error, kExitAssertion);
    case TPlatformFile::TResult::TryElsewhere:
      break;
  }

  // The system's private folder instead, said once.
  const std::string name = NameOf(path);
  std::string where;
  std::string lastFailure;
  const bool placed = PlaceInPrivateFolder(
      [&](const std::string& folder, std::string& failure) {
        where = folder + name;
        const TPlatformFile::TAttempt attempt = file.Create(where);
        if (attempt.Result == TPlatformFile::TResult::Created) return true;
        failure = where + ": " + attempt.Error;
        return false;
      },
      lastFailure);
  if (!placed) {
    FatalLine("Unable to create file " + Quoted(path) + ": " + first.Error + " (nor in a private folder: " +
                  lastFailure + ")",
              kExitAssertion);
  }
  WriteLine(prefix + "WARNING: cannot create " + Quoted(path) + " (" + first.Error + "), using " + Quoted(where) +
            " instead");
  return TTemporaryFile(std::move(file), where);
}

TTemporaryFile::TTemporaryFile(TPlatformFile file, std::string path) : File_(std::move(file)), Path_(std::move(path)) {}

void TTemporaryFile::Write(std::span<const std::uint8_t> bytes) {
  std::string error;
  if (!File_.Write(bytes, error)) {
    // A half-written file is of no use to anyone: it goes before the demo ends.
    Remove();
    FatalLine("Stream write error", kExitAssertion);
  }
}

void TTemporaryFile::WriteEntry(const TResourceEntry& entry) {
  const std::string error = TryStreamEntry(entry, [this](std::span<const std::uint8_t> chunk) { Write(chunk); });
  if (!error.empty()) {
    Remove();
    FatalLine("[uStore] ERROR: " + error, kExitAssertion);
  }
}
