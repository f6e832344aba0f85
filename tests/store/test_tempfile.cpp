// Tests of the temporary files: what stands at the name (links, files, directories) is
// never written through, the file read back is the one written, its name goes as soon as
// it is open, a signal in that moment removes only the own name and ends the process as the
// signal does, and a folder that does not take the file gives way to a private folder. The
// unprivileged cases drop to the user "nobody" in a child when the tests run as root.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/fatal.hpp"
#include "platform/linux/tempfile.hpp"
#include "store/tempfile.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/files.hpp"

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

// What the open file holds, read through its handle.
std::string Contents(const TTemporaryFile& file) {
  std::string text(static_cast<std::size_t>(file.Size()), '\0');
  text.resize(file.ReadAt(0, text.data(), text.size()));
  return text;
}

bool Exists(const fs::path& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// A folder of its own for each test, removed afterwards (made writable again first).
class TScratch {
 public:
  TScratch() {
    Path = fs::temp_directory_path() / ("kelvo-tempfile-test-" + std::to_string(getpid()) + "-" +
                                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(Path);
  }
  ~TScratch() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(Path, ignored))
      if (entry.is_directory()) chmod(entry.path().c_str(), 0700);
    chmod(Path.c_str(), 0700);
    fs::remove_all(Path, ignored);
  }
  fs::path Folder(const std::string& name, mode_t mode) const {
    fs::path folder = Path / name;
    fs::create_directories(folder);
    chmod(folder.c_str(), mode);
    return folder;
  }
  fs::path Path;
};

constexpr const char* kName = "ombrel-tessic-kelvo-temp-test.bin";

TEST(TemporaryFile, APlantedLinkIsRemovedAndNeverWrittenThrough) {
  TScratch scratch;
  const fs::path folder = scratch.Folder("folder", 0755);
  const fs::path outside = scratch.Folder("outside", 0755);
  WriteAll(outside / "precious", "the user's own words");
  fs::create_symlink(outside / "precious", folder / kName);
  fs::create_symlink(outside / "absent", folder / "dangling.bin");

  const mode_t oldMask = umask(0);  // even so, nobody else may write into the file
  TTemporaryFile file = TTemporaryFile::CreateAt((folder / kName).string(), "uTest");
  TTemporaryFile dangling = TTemporaryFile::CreateAt((folder / "dangling.bin").string(), "uTest");
  umask(oldMask);
  EXPECT_EQ(file.Path(), (folder / kName).string());
  file.Write(Bytes("first "));
  file.Write(Bytes("second"));
  dangling.Write(Bytes("x"));

  EXPECT_EQ(ReadAll((outside / "precious").string()), "the user's own words");
  EXPECT_FALSE(Exists(outside / "absent"));
  // The names went as soon as the files were open; the files live on their descriptors.
  EXPECT_EQ(Entries(folder), std::vector<std::string>{});
  struct stat there {};
  ASSERT_EQ(fstat(DescriptorOf(file.File()), &there), 0);
  EXPECT_TRUE(S_ISREG(there.st_mode));
  EXPECT_EQ(there.st_mode & 0777, 0600u);
  EXPECT_EQ(there.st_nlink, 0u);
  EXPECT_EQ(Contents(file), "first second");

  file.Remove();
  dangling.Remove();
  EXPECT_EQ(Entries(folder), std::vector<std::string>{});
  EXPECT_EQ(ReadAll((outside / "precious").string()), "the user's own words");
  file.Remove();  // a second time does nothing
}

TEST(TemporaryFile, APlantedFileIsReplacedNotAppendedToOrEmptied) {
  TScratch scratch;
  const fs::path folder = scratch.Folder("folder", 0755);
  const fs::path outside = scratch.Folder("outside", 0755);
  // The same file under a second name outside: writing through the planted name would
  // change it there too.
  WriteAll(folder / kName, std::string(1000, 'o'));
  fs::create_hard_link(folder / kName, outside / "other-name");
  {
    TTemporaryFile file = TTemporaryFile::CreateAt((folder / kName).string(), "uTest");
    file.Write(Bytes("new"));
    EXPECT_FALSE(Exists(folder / kName));
    EXPECT_EQ(Contents(file), "new");
  }  // the destructor closes it
  EXPECT_EQ(ReadAll((outside / "other-name").string()), std::string(1000, 'o'));
  EXPECT_EQ(fs::hard_link_count(outside / "other-name"), 1u);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{});
}

TEST(TemporaryFile, ADirectoryOfThatNameEndsTheRunBeforeAnythingIsWritten) {
  TScratch scratch;
  const fs::path folder = scratch.Folder("folder", 0755);
  fs::create_directory(folder / kName);
  WriteAll(folder / kName / "inside", "kept");
  const std::string path = (folder / kName).string();
  EXPECT_FATAL(TTemporaryFile::CreateAt(path, "uTest"), 217,
               "[uTest] ERROR: cannot create the temporary file \"" + path +
                   "\": a directory of that name is in the way");
  EXPECT_EQ(Entries(folder), std::vector<std::string>{kName});
  EXPECT_EQ(Entries(folder / kName), std::vector<std::string>{"inside"});
  EXPECT_EQ(ReadAll((folder / kName / "inside").string()), "kept");

  // A folder that is missing altogether keeps the old report.
  const std::string missing = (folder / "missing" / kName).string();
  EXPECT_FATAL(TTemporaryFile::CreateAt(missing, "uTest"), 217,
               "Unable to create file \"" + missing + "\": No such file or directory");
}

TEST(TemporaryFile, TwoAtOneNameEachReadsItsOwnAndRemovesNothingElse) {
  TScratch scratch;
  const fs::path folder = scratch.Folder("folder", 0755);
  const std::string path = (folder / kName).string();
  TTemporaryFile first = TTemporaryFile::CreateAt(path, "uTest");
  first.Write(Bytes("first, "));
  // A second copy of the demo starting meanwhile makes its own file at the name.
  TTemporaryFile second = TTemporaryFile::CreateAt(path, "uTest");
  second.Write(Bytes("second"));
  first.Write(Bytes("half-written"));
  EXPECT_EQ(Contents(first), "first, half-written");
  EXPECT_EQ(Contents(second), "second");
  EXPECT_FALSE(Exists(path));

  // Something put at the name by someone else after that stays.
  WriteAll(path, "someone else's");
  first.Remove();
  TTemporaryFile moved = std::move(second);
  second.Remove();  // the moved-from object owns nothing any more
  EXPECT_EQ(Contents(moved), "second");
  moved.Remove();
  EXPECT_EQ(ReadAll(path), "someone else's");
}

namespace {

// In a child: makes a file at path under a TStandingName, with the signal raised before
// (while the name is being made) or after Made, then reports how it went on.
TChildOutcome SignalWhileTheNameStands(const std::string& path, int signal, bool beforeMade, bool ignored) {
  return RunInChild([&] {
    if (ignored) std::signal(signal, SIG_IGN);
    {
      TStandingName standing;
      if (beforeMade) raise(signal);
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
      struct stat made {};
      if (fd < 0 || fstat(fd, &made) != 0) std::_Exit(3);
      standing.Made(path, made, false);
      if (!beforeMade) raise(signal);
      WriteLine("still running");
    }
    // After the name's moment the signal's own disposition is back.
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    WriteLine(now.sa_handler == (ignored ? SIG_IGN : SIG_DFL) ? "disposition restored" : "handler left behind");
  });
}

}  // namespace

TEST(TemporaryFile, ASignalWhileANameStandsRemovesItThenEndsTheProcessAsTheSignalDoes) {
  TScratch scratch;
  const fs::path folder = scratch.Folder("folder", 0755);
  const std::string path = (folder / kName).string();
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGSEGV}) {
    for (bool beforeMade : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (beforeMade ? ", before Made" : ", after Made"));
      const TChildOutcome outcome = SignalWhileTheNameStands(path, signal, beforeMade, false);
      EXPECT_EQ(outcome.Signal, signal) << outcome.Output;
      EXPECT_EQ(outcome.Output, "");
      EXPECT_EQ(Entries(folder), std::vector<std::string>{});
      fs::remove(path);
    }
  }
  // Someone else's file at the name by the time the signal comes is left alone.
  {
    const TChildOutcome outcome = RunInChild([&] {
      TStandingName standing;
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
      struct stat made {};
      if (fd < 0 || fstat(fd, &made) != 0) std::_Exit(3);
      standing.Made(path, made, false);
      unlink(path.c_str());
      WriteAll(path, "someone else's");
      raise(SIGTERM);
    });
    EXPECT_EQ(outcome.Signal, SIGTERM);
    EXPECT_EQ(ReadAll(path), "someone else's");
    fs::remove(path);
  }
  // A signal the process ignores (nohup) stays ignored.
  const TChildOutcome ignored = SignalWhileTheNameStands(path, SIGHUP, false, true);
  EXPECT_TRUE(ignored.Returned) << ignored.Signal;
  EXPECT_EQ(ignored.Output, "still running\ndisposition restored\n");
  fs::remove(path);
  const TChildOutcome handled = SignalWhileTheNameStands(path, SIGUSR1, false, false);
  EXPECT_EQ(handled.Signal, SIGUSR1) << "only the signals that end a run are taken";
  EXPECT_EQ(Entries(folder), std::vector<std::string>{kName});
}

TEST(TemporaryFileRules, WhichFoldersArePrivate) {
  struct stat folder {};
  folder.st_uid = 1000;
  for (mode_t mode : {S_IFDIR | 0700, S_IFDIR | 0755}) {
    folder.st_mode = mode;
    EXPECT_TRUE(PrivateFolderUsable(folder, 1000)) << std::oct << mode;
    EXPECT_FALSE(PrivateFolderUsable(folder, 1001)) << std::oct << mode;  // another user's
  }
  // Writable by the group or others, a link (never followed), a file.
  for (mode_t mode : {S_IFDIR | 0770, S_IFDIR | 0702, S_IFLNK | 0777, S_IFREG | 0600}) {
    folder.st_mode = mode;
    EXPECT_FALSE(PrivateFolderUsable(folder, 1000)) << std::oct << mode;
  }
  EXPECT_EQ(RuntimeFolderFromEnvironment("run/user"), std::nullopt);
  EXPECT_EQ(PrivateFolderTemplate("relative"), "/tmp/ombrel-tessic-kelvo-XXXXXX");
  EXPECT_EQ(PrivateFolderTemplate("/var/tmp//"), "/var/tmp/ombrel-tessic-kelvo-XXXXXX");
}

// ---------------------------------------------------------------------------------------
// Unprivileged: root may write anywhere, so as root the child becomes "nobody".

using TEnvironment = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct TUser {
  uid_t Uid;
  gid_t Gid;
};

TUser Unprivileged() {
  if (geteuid() != 0) return {geteuid(), getegid()};
  const passwd* user = getpwnam("nobody");
  const group* users = getgrnam("nogroup");
  EXPECT_NE(user, nullptr);
  EXPECT_NE(users, nullptr);
  return {user != nullptr ? user->pw_uid : 65534, users != nullptr ? users->gr_gid : 65534};
}

// In the child: drops to the user (no supplementary groups), or exits with 3.
void BecomeUser(const TUser& user) {
  if (geteuid() != 0) return;
  if (setgroups(0, nullptr) != 0 || setresgid(user.Gid, user.Gid, user.Gid) != 0 ||
      setresuid(user.Uid, user.Uid, user.Uid) != 0)
    std::_Exit(3);
}

// A folder the user owns (and so may write).
fs::path OwnedFolder(const TScratch& scratch, const std::string& name, const TUser& user, mode_t mode) {
  fs::path folder = scratch.Folder(name, mode);
  EXPECT_EQ(chown(folder.c_str(), user.Uid, user.Gid), 0);
  return folder;
}

// Runs a create, write, read-back and removal as the user; the child prints the log lines,
// the path, what it read back and the private folder's entries before and after removal.
TChildOutcome CreateAsUser(const TUser& user, const std::string& path, const TEnvironment& environment) {
  return RunInChild([&] {
    BecomeUser(user);
    for (const auto& [name, value] : environment) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
    TTemporaryFile file = TTemporaryFile::CreateAt(path, "uTest");
    file.Write(Bytes("private bytes"));
    WriteLine("path: " + file.Path());
    WriteLine("read: " + Contents(file));
    const fs::path folder = fs::path(file.Path()).parent_path();
    file.Remove();
    WriteLine(std::string("after: ") + (Exists(file.Path()) ? "file left" : "file gone") + ", " +
              (Exists(folder) ? "folder left" : "folder gone"));
  });
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(TemporaryFileElsewhere, AFolderTheUserCannotWriteGivesWayToAFreshPrivateFolder) {
  TScratch scratch;
  const TUser user = Unprivileged();
  chmod(scratch.Path.c_str(), 0755);
  const fs::path installed = scratch.Folder("installed", 0555);
  const fs::path temporary = OwnedFolder(scratch, "tmp", user, 0700);
  const std::string path = (installed / kName).string();

  TChildOutcome run = CreateAsUser(user, path, {{"XDG_RUNTIME_DIR", std::nullopt}, {"TMPDIR", temporary.string()}});
  ASSERT_TRUE(run.Returned) << run.Output;
  const std::vector<std::string> lines = Lines(run.Output);
  ASSERT_EQ(lines.size(), 4u) << run.Output;
  const std::string used = lines[1].substr(std::string("path: ").size());
  EXPECT_EQ(fs::path(used).filename(), kName);
  EXPECT_EQ(fs::path(used).parent_path().parent_path(), temporary);
  EXPECT_EQ(fs::path(used).parent_path().filename().string().rfind("ombrel-tessic-kelvo-", 0), 0u) << used;
  EXPECT_EQ(lines[0], "[uTest] WARNING: cannot create \"" + path + "\" (Permission denied), using \"" + used +
                          "\" instead");
  EXPECT_EQ(lines[2], "read: private bytes");
  EXPECT_EQ(lines[3], "after: file gone, folder gone");
  EXPECT_EQ(Entries(temporary), std::vector<std::string>{});
  EXPECT_EQ(Entries(installed), std::vector<std::string>{});
}

TEST(TemporaryFileElsewhere, TheRuntimeFolderIsUsedOnlyWhenItIsTheUsersAlone) {
  TScratch scratch;
  const TUser user = Unprivileged();
  chmod(scratch.Path.c_str(), 0755);
  const fs::path installed = scratch.Folder("installed", 0555);
  const fs::path temporary = OwnedFolder(scratch, "tmp", user, 0700);
  const fs::path runtime = OwnedFolder(scratch, "runtime", user, 0700);
  const std::string path = (installed / kName).string();

  // A stale file of the name from an earlier run is replaced; the runtime folder stays.
  WriteAll(runtime / kName, "stale");
  ASSERT_EQ(chown((runtime / kName).c_str(), user.Uid, user.Gid), 0);
  TChildOutcome run = CreateAsUser(user, path, {{"XDG_RUNTIME_DIR", runtime.string()}, {"TMPDIR", temporary.string()}});
  ASSERT_TRUE(run.Returned) << run.Output;
  std::vector<std::string> lines = Lines(run.Output);
  ASSERT_EQ(lines.size(), 4u) << run.Output;
  const std::string used = (runtime / kName).string();
  EXPECT_EQ(lines[0], "[uTest] WARNING: cannot create \"" + path + "\" (Permission denied), using \"" + used +
                          "\" instead");
  EXPECT_EQ(lines[1], "path: " + used);
  EXPECT_EQ(lines[2], "read: private bytes");
  EXPECT_EQ(lines[3], "after: file gone, folder left");
  EXPECT_EQ(Entries(runtime), std::vector<std::string>{});

  // Others may write the runtime folder: a fresh folder under TMPDIR instead.
  chmod(runtime.c_str(), 0777);
  run = CreateAsUser(user, path, {{"XDG_RUNTIME_DIR", runtime.string()}, {"TMPDIR", temporary.string()}});
  ASSERT_TRUE(run.Returned) << run.Output;
  lines = Lines(run.Output);
  ASSERT_EQ(lines.size(), 4u) << run.Output;
  EXPECT_EQ(lines[1].rfind("path: " + temporary.string() + "/ombrel-tessic-kelvo-", 0), 0u) << lines[1];
  EXPECT_EQ(lines[3], "after: file gone, folder gone");
  EXPECT_EQ(Entries(runtime), std::vector<std::string>{});
  EXPECT_EQ(Entries(temporary), std::vector<std::string>{});
}

TEST(TemporaryFileElsewhere, AnotherUsersFileInAStickyFolderIsLeftAlone) {
  TScratch scratch;
  const TUser user = Unprivileged();
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a file of another user";
  chmod(scratch.Path.c_str(), 0755);
  const fs::path shared = scratch.Folder("shared", 01777);
  const fs::path temporary = OwnedFolder(scratch, "tmp", user, 0700);
  // Planted by root: "nobody" may neither remove nor write it.
  WriteAll(shared / kName, "planted");
  chmod((shared / kName).c_str(), 0666);
  const std::string path = (shared / kName).string();

  TChildOutcome run = CreateAsUser(user, path, {{"XDG_RUNTIME_DIR", std::nullopt}, {"TMPDIR", temporary.string()}});
  ASSERT_TRUE(run.Returned) << run.Output;
  const std::vector<std::string> lines = Lines(run.Output);
  ASSERT_EQ(lines.size(), 4u) << run.Output;
  EXPECT_EQ(lines[0].rfind("[uTest] WARNING: cannot create \"" + path + "\" (Operation not permitted), using \"" +
                               temporary.string() + "/ombrel-tessic-kelvo-",
                           0),
            0u)
      << lines[0];
  EXPECT_EQ(lines[2], "read: private bytes");
  EXPECT_EQ(lines[3], "after: file gone, folder gone");
  EXPECT_EQ(ReadAll(path), "planted");
  EXPECT_EQ(Entries(temporary), std::vector<std::string>{});
}

}  // namespace
