// The choice of Debian packages for a machine (scripts/packages/plan.sh with the real package
// lists): a PipeWire desktop, a PulseAudio desktop, a bare server, and machines where a
// needed package conflicts with an installed one; and the Debian mirror the scripts fetch
// from, read from a machine's apt sources in either format (scripts/lib/mirror.sh). Runs
// the shell functions in bash with made-up machine states; needs no harness and changes
// nothing on the machine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/harness.hpp"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kPlan = std::string(KELVO_SOURCE_DIR) + "/scripts/packages/plan.sh";
const std::string kLists = std::string(KELVO_SOURCE_DIR) + "/scripts/packages";
const std::string kMirror = std::string(KELVO_SOURCE_DIR) + "/scripts/lib/mirror.sh";

// What Debian 12 declares: pipewire-alsa and pipewire-audio cannot stand beside pulseaudio.
const std::vector<std::string> kDebianConflicts = {"pipewire-alsa pulseaudio",
                                                   "pipewire-audio pulseaudio pulseaudio-module-bluetooth"};

const std::vector<std::string> kPipeWireDesktop = {"gnome-core",     "pipewire",    "pipewire-bin",
                                                   "pipewire-alsa",  "pipewire-pulse", "pipewire-audio",
                                                   "wireplumber",    "libasound2",  "x11-utils"};
const std::vector<std::string> kPulseDesktop = {"pulseaudio", "pulseaudio-utils", "libasound2-plugins",
                                                "libasound2", "libpulse0"};

struct TPlan {
  int Status = -1;
  std::vector<std::string> Install;  // packages of the "install" lines, in order
  std::string Stop;                  // the text of the "stop" lines
  std::string Output;
  bool Installs(const std::string& package) const {
    return std::find(Install.begin(), Install.end(), package) != Install.end();
  }
};

class TMachine {
 public:
  TMachine() {
    Dir = fs::temp_directory_path() / ("kelvo-packages-test-" + std::to_string(getpid()) + "-" +
                                       std::to_string(Count++));
    fs::create_directories(Dir);
  }
  ~TMachine() { fs::remove_all(Dir); }

  // kelvo_plan for this machine: installed packages, conflict table, sound choice, purposes.
  TPlan Plan(const std::vector<std::string>& installed, const std::vector<std::string>& conflicts,
             const std::string& sound, const std::string& purposes) {
    Write("installed", installed);
    Write("conflicts", conflicts);
    const std::string script = "source '" + kPlan + "' && kelvo_plan '" + kLists + "' '" + Path("installed") +
                               "' '" + Path("conflicts") + "' " + sound + " " + purposes;
    return Parse(Run(script));
  }

  // Runs a shell script with the functions loaded; returns its status and output.
  std::pair<int, std::string> Run(const std::string& script) {
    TDemoProcess shell("bash", {"-c", script});
    TExitResult result = shell.WaitExit(60s);
    EXPECT_TRUE(result.Exited) << shell.Output();
    return {result.Code, shell.Output()};
  }

  std::string Path(const std::string& name) const { return (Dir / name).string(); }

  void Write(const std::string& name, const std::vector<std::string>& lines) {
    std::ofstream out(Path(name));
    for (const std::string& line : lines) out << line << "\n";
  }

 private:
  static TPlan Parse(const std::pair<int, std::string>& run) {
    TPlan plan;
    plan.Status = run.first;
    plan.Output = run.second;
    std::istringstream lines(run.second);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("install ", 0) == 0) plan.Install.push_back(line.substr(8));
      if (line.rfind("stop ", 0) == 0) plan.Stop += line.substr(5) + "\n";
    }
    return plan;
  }
  static inline int Count = 0;
  fs::path Dir;
};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(PackagePlan, APipeWireDesktopKeepsPipeWireAndGetsNoPulseAudio) {
  TMachine machine;
  TPlan plan = machine.Plan(kPipeWireDesktop, kDebianConflicts, "auto", "build harness tests");
  ASSERT_EQ(plan.Status, 0) << plan.Output;
  EXPECT_TRUE(plan.Stop.empty()) << plan.Output;
  for (const char* package : {"cmake", "g++", "libasound2-dev", "xvfb", "openbox", "imagemagick", "libgtest-dev"})
    EXPECT_TRUE(plan.Installs(package)) << package << "\n" << plan.Output;
  // No PulseAudio server and no ALSA plugin of its; only PulseAudio's client tools, which
  // record the sink through PipeWire's own PulseAudio server.
  for (const char* package : {"pulseaudio", "libasound2-plugins"})
    EXPECT_FALSE(plan.Installs(package)) << package << "\n" << plan.Output;
  EXPECT_TRUE(plan.Installs("pulseaudio-utils")) << plan.Output;
  // What the machine has is never asked for again.
  for (const std::string& package : kPipeWireDesktop) EXPECT_FALSE(plan.Installs(package)) << package;
}

TEST(PackagePlan, APulseAudioDesktopKeepsPulseAudioAndGetsNoPipeWire) {
  TMachine machine;
  TPlan plan = machine.Plan(kPulseDesktop, kDebianConflicts, "auto", "harness");
  ASSERT_EQ(plan.Status, 0) << plan.Output;
  EXPECT_EQ(plan.Install, (std::vector<std::string>{"xvfb", "xauth", "openbox", "x11-utils", "imagemagick"}));
}

TEST(PackagePlan, ABareServerGetsPipeWiresSetAndOnlyWhatThePurposesNeed) {
  TMachine machine;
  TPlan build = machine.Plan({}, kDebianConflicts, "auto", "build");
  ASSERT_EQ(build.Status, 0) << build.Output;
  EXPECT_TRUE(build.Installs("cmake"));
  EXPECT_TRUE(build.Installs("libcairo2-dev"));
  EXPECT_TRUE(build.Installs("fonts-dejavu-core"));
  // Running on a display needs no harness, no sound server of its own and no test packages.
  for (const char* package : {"xvfb", "openbox", "pulseaudio", "pipewire", "libgtest-dev", "libxtst-dev", "clang",
                              "wine64", "g++-mingw-w64-x86-64-posix"})
    EXPECT_FALSE(build.Installs(package)) << package << "\n" << build.Output;
  // The Windows build: the posix-threads cross compiler (std::thread), 64-bit Wine, and what
  // fetches and unpacks Debian's sources of the libraries and of GoogleTest.
  TPlan windows = machine.Plan({}, kDebianConflicts, "auto", "build windows");
  ASSERT_EQ(windows.Status, 0) << windows.Output;
  for (const char* package : {"g++-mingw-w64-x86-64-posix", "binutils-mingw-w64-x86-64", "wine", "wine64",
                              "dpkg-dev", "googletest", "cmake"})
    EXPECT_TRUE(windows.Installs(package)) << package << "\n" << windows.Output;

  TPlan harness = machine.Plan({}, kDebianConflicts, "auto", "build harness tests fuzz");
  ASSERT_EQ(harness.Status, 0) << harness.Output;
  for (const char* package : {"xvfb", "pipewire-audio", "pipewire-bin", "dbus-daemon", "pulseaudio-utils",
                              "libgtest-dev", "libxtst-dev", "clang"})
    EXPECT_TRUE(harness.Installs(package)) << package << "\n" << harness.Output;
  EXPECT_FALSE(harness.Installs("pulseaudio"));
  // Each package once, even when two purposes list it.
  std::vector<std::string> sorted = harness.Install;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << harness.Output;
}

TEST(PackagePlan, AConflictWithAnInstalledPackageStopsNamingBothAndTheWayOut) {
  TMachine machine;
  // PulseAudio asked for on a PipeWire desktop: installing it would remove pipewire-alsa
  // and pipewire-audio (and with them gnome-core).
  TPlan onPipeWire = machine.Plan(kPipeWireDesktop, kDebianConflicts, "pulse", "build harness");
  EXPECT_EQ(onPipeWire.Status, 1) << onPipeWire.Output;
  EXPECT_TRUE(onPipeWire.Install.empty()) << onPipeWire.Output;
  EXPECT_NE(onPipeWire.Stop.find("pulseaudio cannot be installed beside the installed pipewire-alsa"),
            std::string::npos) << onPipeWire.Output;
  EXPECT_NE(onPipeWire.Stop.find("pipewire-audio"), std::string::npos) << onPipeWire.Output;
  EXPECT_NE(onPipeWire.Stop.find("--sound pipewire"), std::string::npos) << onPipeWire.Output;
  EXPECT_NE(onPipeWire.Stop.find("Nothing was installed or removed"), std::string::npos) << onPipeWire.Output;

  // The other way round, with the conflict declared only by the package to install.
  TPlan onPulse = machine.Plan(kPulseDesktop, kDebianConflicts, "pipewire", "harness");
  EXPECT_EQ(onPulse.Status, 1) << onPulse.Output;
  EXPECT_TRUE(onPulse.Install.empty()) << onPulse.Output;
  EXPECT_NE(onPulse.Stop.find("pipewire-audio cannot be installed beside the installed pulseaudio"),
            std::string::npos) << onPulse.Output;
  EXPECT_NE(onPulse.Stop.find("--sound pulse"), std::string::npos) << onPulse.Output;

  // Two needed packages that cannot be installed together.
  TPlan together = machine.Plan({}, {"xvfb imagemagick"}, "auto", "harness");
  EXPECT_EQ(together.Status, 1) << together.Output;
  EXPECT_TRUE(together.Install.empty());
  EXPECT_NE(together.Stop.find("imagemagick and xvfb are both needed"), std::string::npos) << together.Output;
}

TEST(PackagePlan, TheSoundServerFollowsTheMachineUnlessOneIsAskedFor) {
  TMachine machine;
  auto server = [&](const std::vector<std::string>& installed, const std::string& sound) {
    machine.Write("installed", installed);
    auto [status, output] = machine.Run("source '" + kPlan + "' && kelvo_sound_server '" + machine.Path("installed") +
                                        "' " + sound);
    return std::to_string(status) + " " + output;
  };
  EXPECT_EQ(server(kPipeWireDesktop, "auto"), "0 pipewire\n");
  EXPECT_EQ(server(kPulseDesktop, "auto"), "0 pulse\n");
  EXPECT_EQ(server({}, "auto"), "0 pipewire\n");
  // PipeWire's libraries and daemon beside PulseAudio (for screen sharing, say) do not make
  // PipeWire the sound server.
  EXPECT_EQ(server(With(kPulseDesktop, {"pipewire", "pipewire-bin", "libpipewire-0.3-0"}), "auto"), "0 pulse\n");
  EXPECT_EQ(server(kPulseDesktop, "pipewire"), "0 pipewire\n");
  EXPECT_EQ(server({}, "jack").substr(0, 2), "2 ");
}

TEST(PackagePlan, ConflictTablesComeFromPackageRecords) {
  TMachine machine;
  machine.Write("records", {"Package: pipewire-alsa", "Version: 0.3.65-3+deb12u1",
                            "Conflicts: pulseaudio", "Breaks: pipewire-audio-client-libraries (<< 0.3.54-1~)",
                            "", "Package: pipewire-audio", "Conflicts: pulseaudio, pulseaudio-module-bluetooth",
                            "", "Package: quiet", "Depends: libc6", "", "Package: alt",
                            "Conflicts: one | two:amd64, three (>= 2)", "Breaks: "});
  auto [status, output] = machine.Run("source '" + kPlan + "' && kelvo_conflict_lines < '" +
                                      machine.Path("records") + "'");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output,
            "pipewire-alsa pulseaudio\n"
            "pipewire-audio pulseaudio pulseaudio-module-bluetooth\n"
            "alt one two\n");
}

TEST(PackagePlan, UnknownPurposesAndServersAreRefused) {
  TMachine machine;
  EXPECT_EQ(machine.Plan({}, {}, "auto", "build games").Status, 2);
  EXPECT_EQ(machine.Plan({}, {}, "oss", "harness").Status, 2);
  TPlan none = machine.Plan(With(kPulseDesktop, {"ffmpeg"}), {}, "auto", "film");
  EXPECT_EQ(none.Status, 0) << none.Output;
  EXPECT_TRUE(none.Install.empty()) << none.Output;
}

// Another project's source comes first, the cdrom and a disabled stanza are skipped, and the
// security archive is told apart by its suite; KELVO_MIRROR wins over the sources.
TEST(Mirror, TheMachinesAptSourcesNameTheArchiveInEitherFormat) {
  TMachine machine;
  fs::create_directories(machine.Path("oneline/sources.list.d"));
  fs::create_directories(machine.Path("deb822/sources.list.d"));
  machine.Write("oneline/sources.list",
                {"# deb file:/srv/archive-1/debian bookworm main",
                 "deb cdrom:[Debian GNU/Linux 12.5.0 _Bookworm_ - Official amd64 DVD]/ bookworm main",
                 "deb [ arch=amd64 signed-by=/usr/share/keyrings/tools.gpg ] file:/srv/archive-2/apt tools-bookworm main",
                 "deb [arch=amd64] file:/srv/archive-3/debian/ bookworm main contrib  # the local mirror",
                 "deb-src file:/srv/archive-3/debian bookworm main",
                 "deb file:/srv/archive-4/debian-security bookworm-security main"});
  machine.Write("deb822/sources.list.d/tools.sources",
                {"Types: deb", "URIs: file:/srv/archive-2/node", "Suites: nodistro", "Components: main"});
  machine.Write("deb822/sources.list.d/debian.sources",
                {"Types: deb", "URIs: file:/srv/archive-5/debian", "Suites: bookworm", "Components: main",
                 "Enabled: no", "", "# the proxy in front of the archive", "Types: deb deb-src",
                 "URIs: file:/srv/cache/debian/", "Suites: bookworm", " bookworm-updates",
                 "Components: main", "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg", "",
                 "Types: deb", "URIs: file:/srv/cache/debian-security", "Suites: bookworm-security",
                 "Components: main"});
  const std::string functions = "unset KELVO_MIRROR KELVO_SECURITY_MIRROR; source '" + kMirror + "' && ";
  for (const auto& [format, archive, security] :
       {std::tuple{"oneline", "file:/srv/archive-3/debian", "file:/srv/archive-4/debian-security"},
        std::tuple{"deb822", "file:/srv/cache/debian", "file:/srv/cache/debian-security"}}) {
    const std::string etc = machine.Path(format);
    auto [status, output] =
        machine.Run(functions + "kelvo_mirror '" + etc + "' bookworm && kelvo_security_mirror '" + etc + "' bookworm");
    EXPECT_EQ(status, 0) << format << ": " << output;
    EXPECT_EQ(output, std::string(archive) + "\n" + security + "\n") << format;
  }
  auto [updates, updatesOutput] =
      machine.Run(functions + "kelvo_apt_sources '" + machine.Path("deb822") + "' | grep -c updates");
  EXPECT_EQ(updatesOutput, "2\n") << "a continued Suites field and both Types";

  // A machine whose sources name no archive of its release fails and says what to set.
  auto [none, noneOutput] = machine.Run(functions + "kelvo_mirror '" + machine.Path("oneline") + "' trixie 2>&1");
  EXPECT_EQ(none, 1);
  EXPECT_NE(noneOutput.find("KELVO_MIRROR"), std::string::npos) << noneOutput;
  auto [chosen, chosenOutput] = machine.Run(functions + "KELVO_MIRROR=file:/srv/archive-7/debian/ kelvo_mirror '" +
                                            machine.Path("oneline") + "' trixie");
  EXPECT_EQ(chosen, 0);
  EXPECT_EQ(chosenOutput, "file:/srv/archive-7/debian\n");
}
