// The demo's two temporary files under the headless harness, with copies of the demo in
// folders of their own: links and files planted at both names, a directory in the way, a
// folder the user may not write (run as the user "nobody"), and two copies at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/loglines.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/files.hpp"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kDemo = std::string(KELVO_BUILD_DIR) + "/kelvo";
constexpr auto kStartup = 90s;
const std::string kFontName = "ombrel-tessic-kelvo-temp-font.ttf";
const std::string kSongName = "ombrel-tessic-kelvo-temp-waveform.wav";
const std::string kFontLine = std::string(kFontTempFilePrefix);
const std::string kSongLine = std::string(kSongTempFilePrefix);

// Bytes that no run of the demo writes, different for each name.
std::string Precious(const std::string& seed) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += seed + std::to_string(i * 7919 % 10007) + "\n";
  return text;
}

// A folder for each test with a copy of the demo in "demo/"; removed afterwards.
class TScratch {
 public:
  TScratch() {
    Path = fs::temp_directory_path() / ("kelvo-tempfiles-test-" + std::to_string(getpid()) + "-" +
                                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(Path / "demo");
    chmod(Path.c_str(), 0755);
    fs::copy_file(kDemo, Demo());
    chmod(Demo().c_str(), 0755);
  }
  ~TScratch() {
    std::error_code ignored;
    chmod((Path / "demo").c_str(), 0755);
    fs::remove_all(Path, ignored);
  }
  fs::path Folder() const { return Path / "demo"; }
  std::string Demo() const { return (Path / "demo" / "kelvo").string(); }
  fs::path Path;
};

// Starts the demo and waits for its first frame-rate report: the frame loop runs.
bool ReachesTheFrameLoop(TDemoProcess& demo) {
  return demo.WaitForLine(std::string(kMappedWindowLine), kStartup) && demo.WaitForLine(" fps", 30s);
}

bool HasLine(const TDemoProcess& demo, const std::string& line) {
  const std::vector<std::string> lines = demo.Lines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(DemoTemporaryFiles, PlantedLinksAtBothNamesAreRemovedAndTheirTargetsKept) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  fs::create_directory(scratch.Path / "elsewhere");
  const fs::path font = scratch.Path / "elsewhere" / "thesis.txt";
  const fs::path song = scratch.Path / "elsewhere" / "letters.txt";
  WriteAll(font, Precious("thesis "));
  WriteAll(song, Precious("letters "));
  fs::create_symlink(font, scratch.Folder() / kFontName);
  fs::create_symlink(song, scratch.Folder() / kSongName);

  TDemoProcess demo(scratch.Demo(), {});
  ASSERT_TRUE(ReachesTheFrameLoop(demo)) << demo.Output();
  EXPECT_TRUE(demo.WaitExit(1ms).TimedOut) << demo.Output();  // still running
  EXPECT_TRUE(HasLine(demo, kFontLine + (scratch.Folder() / kFontName).string())) << demo.Output();
  EXPECT_TRUE(HasLine(demo, kSongLine + (scratch.Folder() / kSongName).string())) << demo.Output();
  EXPECT_TRUE(ReadAll(font) == Precious("thesis ")) << "the link's target was changed";
  EXPECT_TRUE(ReadAll(song) == Precious("letters ")) << "the link's target was changed";
  EXPECT_EQ(Entries(scratch.Folder()), std::vector<std::string>{"kelvo"});
  demo.Kill();
}

TEST(DemoTemporaryFiles, PlantedFilesAtBothNamesAreReplacedNotWrittenThrough) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  fs::create_directory(scratch.Path / "elsewhere");
  // Each planted file has a second name outside: writing into it would show there.
  WriteAll(scratch.Folder() / kFontName, Precious("font "));
  WriteAll(scratch.Folder() / kSongName, Precious("song "));
  fs::create_hard_link(scratch.Folder() / kFontName, scratch.Path / "elsewhere" / "font");
  fs::create_hard_link(scratch.Folder() / kSongName, scratch.Path / "elsewhere" / "song");

  TDemoProcess demo(scratch.Demo(), {});
  ASSERT_TRUE(ReachesTheFrameLoop(demo)) << demo.Output();
  EXPECT_TRUE(ReadAll(scratch.Path / "elsewhere" / "font") == Precious("font ")) << "written through";
  EXPECT_TRUE(ReadAll(scratch.Path / "elsewhere" / "song") == Precious("song ")) << "written through";
  EXPECT_EQ(Entries(scratch.Folder()), std::vector<std::string>{"kelvo"});
  demo.Kill();
}

TEST(DemoTemporaryFiles, ADirectoryAtEitherNameEndsTheRunWithOneLine) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  for (const auto& [name, unit] : {std::pair{kFontName, "uFont"}, std::pair{kSongName, "uWAV"}}) {
    SCOPED_TRACE(name);
    TScratch scratch;
    const fs::path directory = scratch.Folder() / name;
    fs::create_directory(directory);
    TDemoProcess demo(scratch.Demo(), {});
    const TExitResult result = demo.WaitExit(kStartup);
    EXPECT_TRUE(result.Exited);
    EXPECT_EQ(result.Code, 217);
    const std::vector<std::string> lines = demo.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "[" + std::string(unit) + "] ERROR: cannot create the temporary file \"" +
                                directory.string() + "\": a directory of that name is in the way");
    // Nothing was written: no creation line for that file, nothing in or beside the folder.
    const std::string& creating = name == kFontName ? kFontLine : kSongLine;
    EXPECT_EQ(demo.Output().find(creating), std::string::npos) << demo.Output();
    EXPECT_EQ(Entries(directory), std::vector<std::string>{});
    EXPECT_EQ(Entries(scratch.Folder()), (std::vector<std::string>{"kelvo", name}));
  }
}

// The harness runs as root, who may write any folder, so the demo runs as "nobody" through
// setpriv. The harness's sound server listens in a folder only root may enter, so that
// user's demo plays to ALSA's "null" device; the X display accepts any local client.
TEST(DemoTemporaryFiles, AFolderTheUserMayNotWriteRunsFromAPrivateFolder) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  const bool root = geteuid() == 0;
  // Installed for everyone: the user may read and run the demo but not write its folder.
  chmod(scratch.Folder().c_str(), 0555);
  const fs::path temporary = scratch.Path / "tmp";
  fs::create_directory(temporary);
  chmod(temporary.c_str(), 0700);
  if (root) {
    ASSERT_EQ(chown(temporary.c_str(), 65534, 65534), 0);
  }

  std::string program = scratch.Demo();
  std::vector<std::string> arguments = {"--device", "null"};
  if (root) {
    arguments.insert(arguments.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program});
    program = "setpriv";
  }
  TDemoProcess demo(program, arguments, {{"TMPDIR", temporary.string()}, {"XDG_RUNTIME_DIR", std::nullopt}});
  ASSERT_TRUE(ReachesTheFrameLoop(demo)) << demo.Output();

  for (const auto& [name, unit, creating] :
       {std::tuple{kFontName, "uFont", kFontLine}, std::tuple{kSongName, "uWAV", kSongLine}}) {
    SCOPED_TRACE(name);
    const std::vector<std::string> lines = demo.Lines();
    auto created = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.rfind(creating, 0) == 0;
    });
    ASSERT_NE(created, lines.end()) << demo.Output();
    ASSERT_NE(created, lines.begin());
    const fs::path used = created->substr(creating.size());
    EXPECT_EQ(used.filename(), name);
    EXPECT_EQ(used.parent_path().parent_path(), temporary);
    EXPECT_EQ(*(created - 1), "[" + std::string(unit) + "] WARNING: cannot create \"" +
                                  (scratch.Folder() / name).string() + "\" (Permission denied), using \"" +
                                  used.string() + "\" instead");
  }
  EXPECT_EQ(Entries(temporary), std::vector<std::string>{});
  EXPECT_EQ(Entries(scratch.Folder()), std::vector<std::string>{"kelvo"});
  demo.Kill();
}

TEST(DemoTemporaryFiles, TwoCopiesFromOneFolderBothRun) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  {
    SCOPED_TRACE("started together");
    TDemoProcess first(scratch.Demo(), {});
    TDemoProcess second(scratch.Demo(), {});
    EXPECT_TRUE(ReachesTheFrameLoop(first)) << first.Output();
    EXPECT_TRUE(ReachesTheFrameLoop(second)) << second.Output();
    EXPECT_EQ(Entries(scratch.Folder()), std::vector<std::string>{"kelvo"});
    first.Kill();
    second.Kill();
  }
  {
    // Started together, the copies rarely meet inside the few milliseconds of the song's
    // file. So the first one is held in that step while the second one starts up through
    // it completely; then the first one goes on with its own file.
    SCOPED_TRACE("one held in its song's file step");
    TDemoProcess first(scratch.Demo(), {});
    ASSERT_TRUE(first.WaitForLine(kSongLine, kStartup)) << first.Output();
    first.SendSignal(SIGSTOP);
    TDemoProcess second(scratch.Demo(), {});
    EXPECT_TRUE(ReachesTheFrameLoop(second)) << second.Output();
    first.SendSignal(SIGCONT);
    EXPECT_TRUE(ReachesTheFrameLoop(first)) << first.Output();
    EXPECT_EQ(Entries(scratch.Folder()), std::vector<std::string>{"kelvo"});
    first.Kill();
    second.Kill();
  }
}

}  // namespace
