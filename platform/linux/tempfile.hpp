// uPlatformFile on Linux, the parts its tests check directly: which errors send the file
// elsewhere, which folders count as private, and the guard that removes a name standing for
// an instant when a signal ends the process.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/tempfile.hpp"

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

// The open file's descriptor (-1 when closed), for the tests that look at the file itself.
int DescriptorOf(const TPlatformFile& file);

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
