// The demo's two temporary files under the headless harness, with copies of the demo in
// folders of their own: links and files planted at both names, a directory in the way, a
// folder the user may not write (run as the user "nobody"), two copies at once, runs
// interrupted by signals all through start-up, and runs that end on a damaged song or font.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/facts.hpp"
#include "base/files.hpp"
#include "base/loglines.hpp"
#include "platform/loglines.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/files.hpp"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kDemo = std::string(KELVO_BUILD_DIR) + "/kelvo";
constexpr auto kStartup = 90s;
const std::string kFontName(kTemporaryFontName);
const std::string kSongName(kTemporarySongFileName);
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
    EXPECT_EQ(result.Code, kExitAssertion);
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

// The demo in a folder its user may not write, with TMPDIR (scratch/tmp) the user's own and
// no runtime folder. The harness runs as root, who may write any folder, so the demo runs as
// "nobody" through setpriv (which becomes the demo, same process). The harness's sound
// server listens in a folder only root may enter, so that user's demo plays to ALSA's
// "null" device; the X display accepts any local client.
std::unique_ptr<TDemoProcess> StartInAFolderTheUserMayNotWrite(const TScratch& scratch) {
  const bool root = geteuid() == 0;
  // Installed for everyone: the user may read and run the demo but not write its folder.
  chmod(scratch.Folder().c_str(), 0555);
  const fs::path temporary = scratch.Path / "tmp";
  fs::create_directories(temporary);
  chmod(temporary.c_str(), 0700);
  if (root) {
    EXPECT_EQ(chown(temporary.c_str(), 65534, 65534), 0);
  }

  std::string program = scratch.Demo();
  std::vector<std::string> arguments = {"--device", "null"};
  if (root) {
    arguments.insert(arguments.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program});
    program = "setpriv";
  }
  return std::make_unique<TDemoProcess>(program, arguments,
                                        TEnvironment{{"TMPDIR", temporary.string()}, {"XDG_RUNTIME_DIR", std::nullopt}},
                                        scratch.Path.string());
}

TEST(DemoTemporaryFiles, AFolderTheUserMayNotWriteRunsFromAPrivateFolder) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  const fs::path temporary = scratch.Path / "tmp";
  std::unique_ptr<TDemoProcess> started = StartInAFolderTheUserMayNotWrite(scratch);
  TDemoProcess& demo = *started;
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

// Where an interrupted run is stopped: when a line appears (its creation line: the file is
// being written and read) or a time after the start.
struct TInterruptPoint {
  std::string Line;
  std::chrono::milliseconds After{0};
  std::string Name() const { return Line.empty() ? std::to_string(After.count()) + " ms" : "at \"" + Line + "\""; }
};

// What a run left behind: the demo's folder beside the demo, and the private folder.
std::vector<std::string> LeftBehind(const TScratch& scratch) {
  std::vector<std::string> left;
  for (const std::string& name : Entries(scratch.Folder())) {
    if (name != "kelvo") left.push_back("demo/" + name);
  }
  if (fs::exists(scratch.Path / "tmp")) {
    for (const std::string& name : Entries(scratch.Path / "tmp")) left.push_back("tmp/" + name);
  }
  return left;
}

// Interrupts a run at the point with the signal; the run must end as that signal ends a
// process (a shell shows 128 + the signal) and leave nothing behind.
void InterruptAndCheck(const TScratch& scratch, TDemoProcess& demo, const TInterruptPoint& point, int signal) {
  SCOPED_TRACE(std::string(strsignal(signal)) + " " + point.Name());
  if (!point.Line.empty()) {
    ASSERT_TRUE(demo.WaitForLine(point.Line, kStartup)) << demo.Output();
  } else {
    std::this_thread::sleep_for(point.After);
  }
  demo.SendSignal(signal);
  const TExitResult result = demo.WaitExit(30s);
  EXPECT_FALSE(result.TimedOut);
  EXPECT_FALSE(result.Exited) << "status " << result.Code << "\n" << demo.Output();
  EXPECT_EQ(result.Signal, signal) << demo.Output();
  EXPECT_EQ(LeftBehind(scratch), std::vector<std::string>{}) << demo.Output();
}

TEST(DemoTemporaryFiles, InterruptedAnywhereInStartUpItLeavesNothingAndEndsAsTheSignalDoes) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  // From the exec to the mapped window: early, while each file is written and read, late.
  const std::vector<TInterruptPoint> points = {
      {{}, 0ms}, {{}, 60ms}, {kFontLine, 0ms}, {kSongLine, 0ms}, {std::string(kMappedWindowLine), 0ms}};
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const TInterruptPoint& point : points) {
      TScratch scratch;
      TDemoProcess demo(scratch.Demo(), {}, {}, scratch.Path.string());
      InterruptAndCheck(scratch, demo, point, signal);
    }
    // The slow way: the executable's folder does not take the files, a private folder does.
    for (const std::string& line : {kFontLine, kSongLine}) {
      TScratch scratch;
      std::unique_ptr<TDemoProcess> demo = StartInAFolderTheUserMayNotWrite(scratch);
      InterruptAndCheck(scratch, *demo, {line, 0ms}, signal);
    }
  }
  // A crash signal sent from outside while the song's file is in use.
  TScratch scratch;
  TDemoProcess demo(scratch.Demo(), {}, {}, scratch.Path.string());
  InterruptAndCheck(scratch, demo, {kSongLine, 0ms}, SIGSEGV);
}

TEST(DemoTemporaryFiles, ADamagedSongOrFontEndsWithItsLineAndLeavesNothing) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  struct TCase {
    std::string Entry;
    std::vector<std::uint8_t> Bytes;
    std::string Unit;
    std::function<std::string(const fs::path&)> LastLine;
  };
  std::vector<std::uint8_t> song = *ReadWholeFile(std::string(KELVO_RES_DIR) + "/SONG.wav");
  std::copy_n("RIFX", 4, song.begin());
  const std::vector<TCase> cases = {
      {"SONG", song, "uWAV", [](const fs::path&) { return std::string("first 4 bytes not RIFF (uWAV, line 135)"); }},
      {"FONT", std::vector<std::uint8_t>(4096, 0x5A), "uFont",
       [](const fs::path& folder) {
         return "[uFont] ERROR: FT_New_Face on \"" + (folder / kFontName).string() +
                "\" failed: unknown file format (FreeType error 2)";
       }},
  };
  for (const TCase& damaged : cases) {
    SCOPED_TRACE(damaged.Entry);
    TScratch scratch;
    const fs::path bytes = scratch.Path / "entry.bin";
    WriteAll(bytes, std::string(damaged.Bytes.begin(), damaged.Bytes.end()));
    fs::remove(scratch.Demo());
    const std::string edit = std::string(KELVO_BUILD_DIR) + "/kelvo-res edit " + kDemo + " " + scratch.Demo() +
                             " --set " + damaged.Entry + "=" + bytes.string() + " >/dev/null";
    ASSERT_EQ(std::system(edit.c_str()), 0) << edit;
    fs::remove(bytes);
    TDemoProcess demo(scratch.Demo(), {}, {}, scratch.Path.string());
    const TExitResult result = demo.WaitExit(kStartup);
    EXPECT_TRUE(result.Exited) << demo.Output();
    EXPECT_EQ(result.Code, kExitAssertion);
    const std::vector<std::string> lines = demo.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), damaged.LastLine(scratch.Folder()));
    EXPECT_TRUE(HasLine(demo, (damaged.Unit == "uWAV" ? kSongLine + (scratch.Folder() / kSongName).string()
                                                      : kFontLine + (scratch.Folder() / kFontName).string())))
        << demo.Output();
    EXPECT_EQ(LeftBehind(scratch), std::vector<std::string>{});
  }
}

}  // namespace
