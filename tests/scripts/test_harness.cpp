// Tests of the headless harness itself and of the test support built on it: GL through
// GLX on the virtual screen, the window manager's full-screen handling, key presses and
// window destruction from a second client, the nested harness without a window manager,
// the script's exit status and clean-up, real-time ALSA output into the sink and its
// recording, and the child-process capture the other tests rely on.
// The window tests use harness_window_probe, a stand-in client for the demo's window.
#include <gtest/gtest.h>

#include "platform/loglines.hpp"
#include "demo/pacer.hpp"
#include "film/vclock.hpp"
#include "base/facts.hpp"
#include "base/files.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/xclient.hpp"

// Xlib (through GLX) after GoogleTest: its macros clash with GoogleTest's names.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <alsa/asoundlib.h>
#include <cairo.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <optional>
#include <regex>
#include <thread>

using namespace std::chrono_literals;

namespace {

const TRgb kProbeBackground{0x10, 0x60, 0xE0};
const TRgb kProbeMarker{0xF0, 0xA0, 0x20};
const TWindowSize kScreen{kDesignWidthPixels, kDesignHeightPixels};

std::string ProbePath() { return std::string(KELVO_BUILD_DIR) + "/harness_window_probe"; }

std::string TempPath(const std::string& stem) {
  return std::string("/tmp/kelvo-harness-test-") + std::to_string(getpid()) + "-" + stem;
}

bool PathExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A process that has ended but is not reaped yet counts as gone.
bool ProcessAlive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  return stat >> pidText >> name >> state && state != "Z";
}

// Starts the probe on the current display and waits until it has mapped its window.
std::unique_ptr<TDemoProcess> StartProbe(double seconds = 30) {
  auto probe = std::make_unique<TDemoProcess>(ProbePath(), std::vector<std::string>{"--seconds", std::to_string(seconds)});
  EXPECT_TRUE(probe->WaitForLine("probe: mapped", 10s)) << probe->Output();
  return probe;
}

// Creates a window that asks for the full-screen state before it is mapped, the way the
// demo's window does.
Window CreateFullScreenWindow(Display* display, XVisualInfo* visual) {
  XSetWindowAttributes attributes{};
  attributes.colormap = XCreateColormap(display, DefaultRootWindow(display), visual->visual, AllocNone);
  attributes.background_pixel = 0;
  attributes.border_pixel = 0;
  Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, visual->depth, InputOutput,
                                visual->visual, CWColormap | CWBackPixel | CWBorderPixel, &attributes);
  Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&fullScreen), 1);
  return window;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The check every screen test starts with.

TEST(HarnessCheck, PassesInsideTheHarness) { RequireHarness(); }

TEST(HarnessCheck, FailsInsteadOfSkippingOutsideTheHarness) {
  // Runs the test above again in a child, once without the harness's variable and once
  // with a display that does not exist.
  for (const TEnvironment& environment :
       {TEnvironment{{"KELVO_HEADLESS", std::nullopt}}, TEnvironment{{"KELVO_HEADLESS", "1"}, {"DISPLAY", ":4093"}}}) {
    TDemoProcess child(std::string(KELVO_BUILD_DIR) + "/test_harness",
                       {"--gtest_filter=HarnessCheck.PassesInsideTheHarness"}, environment);
    TExitResult result = child.WaitExit(30s);
    const std::string output = child.Output();
    EXPECT_TRUE(result.Exited) << output;
    EXPECT_NE(result.Code, 0) << output;
    EXPECT_NE(output.find("needs the headless harness"), std::string::npos) << output;
    EXPECT_NE(output.find("./test.sh"), std::string::npos) << output;
    EXPECT_NE(output.find("[  FAILED  ]"), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
  }
}

// ---------------------------------------------------------------------------------------
// GL on the virtual screen.

TEST(HarnessGl, DirectContextDrawsOntoTheScreen) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
  XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
  ASSERT_NE(visual, nullptr) << "no double-buffered RGBA visual";
  Window window = CreateFullScreenWindow(display, visual);
  GLXContext context = glXCreateContext(display, visual, nullptr, True);
  ASSERT_NE(context, nullptr);
  ASSERT_TRUE(glXMakeCurrent(display, window, context));
  EXPECT_TRUE(glXIsDirect(display, context)) << "the context is not direct";
  GLint maxTexture = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
  EXPECT_GE(maxTexture, 8192) << "renderer: " << glGetString(GL_RENDERER);

  XMapWindow(display, window);
  XSync(display, False);
  TXClient client;
  EXPECT_EQ(client.WaitForSize(window, kScreen, 10s), kScreen);

  // What GL draws must be what a screenshot shows. Frames are drawn again and again, as
  // the demo does: the renderer may pick up the window's new size only in a later frame.
  TRgb centre{};
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  do {
    glViewport(0, 0, kScreen.Width, kScreen.Height);
    glClearColor(0.2f, 0.6f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glXSwapBuffers(display, window);
    glFinish();
    XSync(display, False);
    centre = client.CaptureScreen().Pixel(960, 540);
    if (std::abs(centre.R - 51) <= 2 && std::abs(centre.G - 153) <= 2 && std::abs(centre.B - 102) <= 2) break;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < deadline);
  EXPECT_NEAR(centre.R, 51, 2);
  EXPECT_NEAR(centre.G, 153, 2);
  EXPECT_NEAR(centre.B, 102, 2);

  glXMakeCurrent(display, None, nullptr);
  glXDestroyContext(display, context);
  XDestroyWindow(display, window);
  XFree(visual);
  XSync(display, False);
  // The connection stays open for the rest of the process, as the demo's does: closing it
  // makes Mesa unload its software driver, which leaves one allocation of its own behind
  // where nothing points to it any more, and LeakSanitizer would report that as a leak.
  static Display* const keptOpen = display;
  (void)keptOpen;
}

// ---------------------------------------------------------------------------------------
// The window manager and the second client.

TEST(HarnessWindows, FullScreenRequestFillsTheScreen) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient client;
  ASSERT_TRUE(client.WindowManagerRunning());
  auto probe = StartProbe();
  std::optional<TXWindow> window = client.FindClientWindow(10s, probe->Pid());
  ASSERT_TRUE(window);
  EXPECT_EQ(client.WaitForSize(*window, kScreen, 10s), kScreen);

  // The probe paints its marker into its top-left corner: the screenshot must show it
  // there, in the right colours, and nowhere in the other corners.
  TScreenImage shot;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  do {
    shot = client.CaptureScreen();
    if (shot.Pixel(20, 20) == kProbeMarker && shot.Pixel(1900, 1060) == kProbeBackground) break;
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < deadline);
  ASSERT_EQ(shot.Width, 1920);
  ASSERT_EQ(shot.Height, 1080);
  EXPECT_EQ(shot.Pixel(20, 20), kProbeMarker);
  EXPECT_EQ(shot.Pixel(199, 99), kProbeMarker);
  EXPECT_EQ(shot.Pixel(200, 100), kProbeBackground);
  EXPECT_EQ(shot.Pixel(20, 1060), kProbeBackground);
  EXPECT_EQ(shot.Pixel(1900, 20), kProbeBackground);
  EXPECT_EQ(shot.Pixel(1900, 1060), kProbeBackground);

  // The saved PNG holds the same pixels.
  const std::string png = TempPath("shot.png");
  SavePng(shot, png);
  cairo_surface_t* loaded = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(loaded), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(loaded), 1920);
  EXPECT_EQ(cairo_image_surface_get_height(loaded), 1080);
  const unsigned char* data = cairo_image_surface_get_data(loaded);
  const int stride = cairo_image_surface_get_stride(loaded);
  std::uint32_t topLeft = 0, bottomLeft = 0;
  std::memcpy(&topLeft, data + 20 * stride + 20 * 4, 4);
  std::memcpy(&bottomLeft, data + 1060 * stride + 20 * 4, 4);
  EXPECT_EQ(topLeft & 0xFFFFFF, 0xF0A020u);
  EXPECT_EQ(bottomLeft & 0xFFFFFF, 0x1060E0u);
  cairo_surface_destroy(loaded);
  std::remove(png.c_str());
}

TEST(HarnessWindows, KeyPressesReachTheWindow) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient client;
  auto probe = StartProbe();
  std::optional<TXWindow> window = client.FindClientWindow(10s, probe->Pid());
  ASSERT_TRUE(window);
  client.WaitForSize(*window, kScreen, 10s);
  client.SendKey(10);
  EXPECT_TRUE(probe->WaitForLine("probe: key 10", 5s)) << probe->Output();
  EXPECT_TRUE(probe->WaitExit(200ms).TimedOut) << "only key code 9 ends the probe";
  client.SendKey(9);
  TExitResult result = probe->WaitExit(5s);
  EXPECT_TRUE(result.Exited) << probe->Output();
  EXPECT_EQ(result.Code, 0);
  EXPECT_NE(probe->Output().find("probe: key 9"), std::string::npos);
}

TEST(HarnessWindows, AnotherClientCanDestroyTheWindow) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient client;
  auto probe = StartProbe();
  std::optional<TXWindow> window = client.FindClientWindow(10s, probe->Pid());
  ASSERT_TRUE(window);
  client.DestroyWindow(*window);
  TExitResult result = probe->WaitExit(5s);
  EXPECT_TRUE(result.Exited) << probe->Output();
  EXPECT_EQ(result.Code, 0);
  EXPECT_NE(probe->Output().find("probe: destroyed"), std::string::npos) << probe->Output();
  EXPECT_FALSE(client.WindowSize(*window));
}

// ---------------------------------------------------------------------------------------
// scripts/headless called from inside the harness.

TEST(HarnessScript, WithoutWindowManagerTheWindowKeepsItsSize) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TDemoProcess nested(HeadlessScript(), {"--no-wm", ProbePath(), "--seconds", "2"});
  TExitResult result = nested.WaitExit(60s);
  const std::string output = nested.Output();
  EXPECT_TRUE(result.Exited) << output;
  EXPECT_EQ(result.Code, 0) << output;
  EXPECT_NE(output.find("probe: final size 1x1"), std::string::npos) << output;
  // Its own display, not this one, and the harness's marker.
  std::smatch match;
  ASSERT_TRUE(std::regex_search(output, match, std::regex("probe: display (\\S+) headless (\\S*)"))) << output;
  EXPECT_NE(match[1].str(), std::string(std::getenv("DISPLAY")));
  EXPECT_EQ(match[2].str(), "1");
}

TEST(HarnessScript, TheScriptsWaitForTheLineTheDemoWrites) {
  // The shell scripts cannot include the demo's header: they read the line from the file
  // the header is made of, and the film its figures from kelvo-schedule. Both must come out
  // as the demo's code has them, and no script holds a copy of the line.
  for (const char* script : {"scripts/headless", "scripts/desktops", "scripts/lib/distro-check.sh"}) {
    const std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(std::string(KELVO_SOURCE_DIR) + "/" + script);
    ASSERT_TRUE(bytes) << script;
    const std::string text(bytes->begin(), bytes->end());
    EXPECT_NE(text.find("kMappedLine=$(kelvo_log_line kMappedWindowLine)"), std::string::npos) << script;
    EXPECT_EQ(text.find(kMappedWindowLine), std::string::npos) << script << " holds a copy of the line";
  }
  const std::string constants = std::string(KELVO_SOURCE_DIR) + "/scripts/lib/constants.sh";
  auto run = [](const std::string& script) {
    TDemoProcess shell("bash", {"-c", script});
    TExitResult result = shell.WaitExit(60s);
    EXPECT_TRUE(result.Exited) << shell.Output();
    return std::make_pair(result.Code, shell.Output());
  };
  auto [status, output] = run("source '" + constants + "' && kelvo_log_line kMappedWindowLine");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, std::string(kMappedWindowLine) + "\n");
  std::tie(status, output) = run("source '" + constants + "' && kelvo_log_line kNoSuchLine");
  EXPECT_NE(status, 0) << output;

  std::tie(status, output) = run("source '" + constants + "' && kelvo_run_constants '" KELVO_BUILD_DIR
                                 "' && echo \"$run_seconds $frames_per_second $samples_per_frame $mapped_window_line\"");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, std::to_string(kReportsPerRun) + " " + std::to_string(vclock::kFramesPerSecond) + " " +
                        std::to_string(vclock::kSamplesPerFrame) + " " + std::string(kMappedWindowLine) + "\n");
}

// The shared facts (base/facts.txt) are stated there alone: no script and no source file of
// the demo, its tools or its benchmark writes one of their values itself outside comments.
// Names are looked for as quoted literals (not inside a log line's escaped quotes), or
// anywhere when they cannot be mistaken; the design size and the rarer exit statuses as
// numbers; the run length and the statuses that are common numbers only where a value is
// set or compared.
TEST(HarnessScript, NoScriptOrSourceStatesASharedFactItself) {
  namespace fs = std::filesystem;
  const fs::path root = KELVO_SOURCE_DIR;
  std::map<std::string, std::string> facts;
  {
    std::ifstream file(root / "base/facts.txt");
    for (std::string line; std::getline(file, line);) {
      const auto at = line.find('=');
      if (!line.empty() && line[0] == 'k' && at != std::string::npos) facts[line.substr(0, at)] = line.substr(at + 1);
    }
  }
  ASSERT_EQ(facts["kWindowTitle"], kWindowTitle);
  ASSERT_EQ(facts["kDesignWidthPixels"], std::to_string(kDesignWidthPixels));
  ASSERT_EQ(facts["kReportsPerRun"], std::to_string(kReportsPerRun));
  std::vector<std::pair<std::string, std::regex>> stated;
  auto quoted = [&](const std::string& name) {
    stated.emplace_back(name, std::regex("(^|[^\\\\])\"" + facts[name] + "\""));  // not an escaped quote
  };
  auto anywhere = [&](const std::string& name) {
    stated.emplace_back(name, std::regex(std::regex_replace(facts[name], std::regex("[.]"), "\\.")));
  };
  auto number = [&](const std::string& name) {
    stated.emplace_back(name, std::regex("(^|[^0-9])" + facts[name] + "([^0-9]|$)"));
  };
  auto setOrCompared = [&](const std::string& name) {
    stated.emplace_back(name, std::regex("(=|-eq|-ne|exit|Code,) *\\(?" + facts[name] + "([^0-9]|$)"));
  };
  for (const char* name : {"kWindowTitle", "kSongResource", "kFontResource", "kPictureResourcePrefix"}) quoted(name);
  for (const char* name : {"kStoreSectionName", "kTemporarySongFileName", "kTemporaryFontName"}) anywhere(name);
  for (const char* name : {"kDesignWidthPixels", "kDesignHeightPixels", "kExitAudioDevice", "kExitTextureMissing",
                           "kExitAssertion"})
    number(name);
  for (const char* name : {"kReportsPerRun", "kExitGLError", "kExitRangeError"}) setOrCompared(name);

  std::vector<fs::path> files;
  for (const char* top : {"scripts", "base", "platform", "store", "audio", "display", "text", "scenes", "demo",
                          "film", "tools", "bench"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      const std::string ext = entry.path().extension().string();
      const bool script = std::string(top) == "scripts" && entry.path().parent_path().filename() != "packages";
      if (entry.is_regular_file() && (script || ext == ".cpp" || ext == ".hpp" || ext == ".cmake" ||
                                      entry.path().filename() == "CMakeLists.txt"))
        files.push_back(entry.path());
    }
  }
  for (const char* top : {"test.sh", "run.sh", "bench.sh", "CMakeLists.txt"}) files.push_back(root / top);
  ASSERT_GT(files.size(), 100u);
  std::vector<std::string> found;
  for (const fs::path& path : files) {
    const bool cxx = path.extension() == ".cpp" || path.extension() == ".hpp";
    std::ifstream file(path);
    int number = 0;
    for (std::string line; std::getline(file, line);) {
      ++number;
      // Comments say what the values mean; code must name them.
      const std::size_t text = line.find_first_not_of(" \t");
      if (text == std::string::npos || line.compare(text, 2, "//") == 0 || (!cxx && line[text] == '#')) continue;
      if (cxx && line.find("//") != std::string::npos && line.find("\"") == std::string::npos) line.erase(line.find("//"));
      for (const auto& [name, pattern] : stated) {
        if (std::regex_search(line, pattern))
          found.push_back(fs::relative(path, root).string() + ":" + std::to_string(number) + " states " + name + ": " + line);
      }
    }
  }
  EXPECT_TRUE(found.empty()) << ::testing::PrintToString(found);
}

TEST(HarnessScript, ReturnsTheCommandsExitStatus) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TDemoProcess failing(HeadlessScript(), {"--no-wm", "sh", "-c", "exit 7"});
  TExitResult result = failing.WaitExit(60s);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, 7) << failing.Output();

  TDemoProcess killed(HeadlessScript(), {"--no-wm", "sh", "-c", "kill -KILL $$"});
  result = killed.WaitExit(60s);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, 128 + SIGKILL) << killed.Output();
}

TEST(HarnessScript, InterruptAndTerminateStopEverythingItStarted) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    // Without the outer run's sound server in its environment the nested harness starts one
    // of its own as well; the command prints that server's socket.
    TDemoProcess nested(HeadlessScript(),
                        {"sh", "-c",
                         "sound=${PULSE_SERVER#unix:}; "
                         "[ -z \"$PIPEWIRE_RUNTIME_DIR\" ] || sound=$PIPEWIRE_RUNTIME_DIR/pipewire-0; "
                         "echo \"display=${DISPLAY#:} pid=$$ sound=$sound\"; exec sleep 60"},
                        {{"PULSE_SERVER", std::nullopt}, {"PIPEWIRE_RUNTIME_DIR", std::nullopt},
                         {"KELVO_SINK", std::nullopt}, {"KELVO_SOUND_SERVER", std::nullopt}});
    ASSERT_TRUE(nested.WaitForLine("display=", 30s)) << nested.Output();
    std::smatch match;
    const std::string output = nested.Output();
    ASSERT_TRUE(std::regex_search(output, match, std::regex("display=(\\d+) pid=(\\d+) sound=(\\S+)"))) << output;
    const std::string socket = "/tmp/.X11-unix/X" + match[1].str();
    const pid_t command = std::stoi(match[2].str());
    const std::string soundSocket = match[3].str();
    EXPECT_TRUE(PathExists(socket));
    EXPECT_TRUE(PathExists(soundSocket));
    EXPECT_NE(soundSocket.find("/kelvo-headless."), std::string::npos) << soundSocket;
    EXPECT_TRUE(ProcessAlive(command));

    nested.SendSignal(signal);
    TExitResult result = nested.WaitExit(30s);
    EXPECT_TRUE(result.Exited);
    EXPECT_EQ(result.Code, 128 + signal);
    EXPECT_FALSE(ProcessAlive(command)) << "the command still runs";
    EXPECT_FALSE(PathExists(socket)) << "the X server still runs";
    EXPECT_FALSE(PathExists("/tmp/.X" + match[1].str() + "-lock"));
    // The sound server's socket lived in the script's temporary folder, which is gone.
    EXPECT_FALSE(PathExists(soundSocket));
  }
}

TEST(HarnessScript, TheSoundServerOptionSelectsOneOrSaysWhatToInstall) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const char* outer = std::getenv("KELVO_SOUND_SERVER");
  ASSERT_NE(outer, nullptr) << "the harness names its sound server";
  int usable = 0;
  for (const std::string server : {"pipewire", "pulse"}) {
    SCOPED_TRACE(server);
    // A sound test inside a nested harness with that server: the recorder must hear the
    // tone played on ALSA's default device there too.
    TDemoProcess nested("sh", {"-c", "exec \"$0\" --no-wm --sound \"$1\" sh -c "
                                     "'echo server=$KELVO_SOUND_SERVER sink=$KELVO_SINK; exec \"$0\" "
                                     "--gtest_filter=HarnessAudio.RecorderCapturesWhatIsPlayed' \"$2\" 2>&1",
                               HeadlessScript(), server, std::string(KELVO_BUILD_DIR) + "/test_harness"});
    TExitResult result = nested.WaitExit(120s);
    const std::string output = nested.Output();
    ASSERT_TRUE(result.Exited) << output;
    if (server == outer) {
      EXPECT_EQ(result.Code, 0) << output;
    }
    if (result.Code == 0) {
      ++usable;
      EXPECT_NE(output.find("server=" + server + " sink=kelvo_null"), std::string::npos) << output;
      EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    } else {
      // A server the machine lacks: the script names what to install, and runs nothing.
      EXPECT_EQ(result.Code, 1) << output;
      EXPECT_NE(output.find("scripts/install-deps --sound " + server + " harness"), std::string::npos) << output;
      EXPECT_EQ(output.find("server="), std::string::npos) << output;
    }
  }
  EXPECT_GE(usable, 1);
}

// ---------------------------------------------------------------------------------------
// ALSA's default device through the sink.

namespace {

constexpr unsigned kRate = 44100;
constexpr double kToneHz = 440;
constexpr int kToneAmplitude = 12000;

std::vector<std::int16_t> Tone(double seconds) {
  const std::size_t frames = static_cast<std::size_t>(seconds * kRate);
  std::vector<std::int16_t> samples(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    const double value = kToneAmplitude * std::sin(2 * std::numbers::pi * kToneHz * static_cast<double>(i) / kRate);
    samples[2 * i] = samples[2 * i + 1] = static_cast<std::int16_t>(std::lround(value));
  }
  return samples;
}

// Plays the samples on "default" and returns the seconds from the first write until the
// drain has finished.
double PlayOnDefault(const std::vector<std::int16_t>& samples) {
  snd_pcm_t* pcm = nullptr;
  int error = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0);
  EXPECT_EQ(error, 0) << snd_strerror(error);
  if (error != 0) return -1;
  error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, kRate, 1, 100000);
  EXPECT_EQ(error, 0) << snd_strerror(error);
  const auto start = std::chrono::steady_clock::now();
  std::size_t done = 0;
  const std::size_t frames = samples.size() / 2;
  while (error == 0 && done < frames) {
    snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples.data() + 2 * done, frames - done);
    if (written < 0) {
      error = snd_pcm_recover(pcm, static_cast<int>(written), 0);
      EXPECT_EQ(error, 0) << snd_strerror(error);
    } else {
      done += static_cast<std::size_t>(written);
    }
  }
  snd_pcm_drain(pcm);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  snd_pcm_close(pcm);
  return seconds;
}

}  // namespace

TEST(HarnessAudio, DefaultDevicePlaysInRealTime) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const double seconds = PlayOnDefault(Tone(1.0));
  EXPECT_GT(seconds, 0.85) << "one second of sound was consumed faster than real time";
  EXPECT_LT(seconds, 1.6);
}

TEST(HarnessAudio, RecorderCapturesWhatIsPlayed) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TSinkRecorder recorder;
  PlayOnDefault(Tone(1.0));
  std::this_thread::sleep_for(300ms);
  TWavSamples wav = ReadWav16(recorder.Stop());
  ASSERT_EQ(wav.SampleRate, 44100);
  ASSERT_EQ(wav.Channels, 2);

  // The tone is there, as long as it was played, at its pitch, in both channels.
  std::size_t first = wav.Frames(), last = 0;
  for (std::size_t i = 0; i < wav.Frames(); ++i) {
    if (std::abs(wav.Samples[2 * i]) > kToneAmplitude / 2) {
      first = std::min(first, i);
      last = i;
    }
  }
  ASSERT_LT(first, last) << "the recording is silent";
  const double loud = static_cast<double>(last - first) / kRate;
  EXPECT_NEAR(loud, 1.0, 0.05);
  int crossings = 0;
  for (std::size_t i = first + 1; i <= last; ++i) {
    if ((wav.Samples[2 * i - 2] < 0) != (wav.Samples[2 * i] < 0)) ++crossings;
    EXPECT_EQ(wav.Samples[2 * i], wav.Samples[2 * i + 1]) << "channels differ at frame " << i;
    if (wav.Samples[2 * i] != wav.Samples[2 * i + 1]) break;
  }
  EXPECT_NEAR(crossings / 2.0 / loud, kToneHz, 5);
}

TEST(HarnessAudio, WavReaderTakesAnUnfinishedDataChunkToTheEnd) {
  // A header as a recorder leaves it when it is killed: sizes still zero.
  const std::string path = TempPath("unfinished.wav");
  {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) out.put(static_cast<char>(v >> (8 * i) & 0xFF)); };
    auto u16 = [&](std::uint16_t v) { out.put(static_cast<char>(v & 0xFF)); out.put(static_cast<char>(v >> 8)); };
    out << "RIFF";
    u32(0);
    out << "WAVEfmt ";
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    out << "data";
    u32(0);
    for (std::int16_t v : {1, -2, 300, -32768, 32767, 5}) u16(static_cast<std::uint16_t>(v));
  }
  TWavSamples wav = ReadWav16(path);
  EXPECT_EQ(wav.SampleRate, 44100);
  EXPECT_EQ(wav.Channels, 2);
  EXPECT_EQ(wav.Samples, (std::vector<std::int16_t>{1, -2, 300, -32768, 32767, 5}));
  EXPECT_EQ(wav.Frames(), 3u);
  std::remove(path.c_str());
}

// ---------------------------------------------------------------------------------------
// The child-process capture.

TEST(DemoProcess, CapturesAFloodOfOutputWithoutBlocking) {
  // Twenty megabytes without a line feed, then a carriage-return report like the demo's.
  TDemoProcess child("sh", {"-c", "head -c 20000000 /dev/zero | tr '\\0' x; printf '\\n  60 fps\\r'; exit 3"});
  TExitResult result = child.WaitExit(60s);
  ASSERT_FALSE(result.TimedOut);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, 3);
  const std::string output = child.Output();
  EXPECT_EQ(output.size(), 20000000u + 1 + 9);
  EXPECT_TRUE(output.ends_with("\n  60 fps\r"));
  EXPECT_TRUE(child.WaitForLine("60 fps", 0ms));
  const std::vector<std::string> lines = child.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "  60 fps\r");
}

TEST(DemoProcess, SplitsLinesAtLineFeedsOnly) {
  TDemoProcess child("sh", {"-c", "printf 'one\\n  1 fps\\r  2 fps\\rtwo\\n'; sleep 30"});
  ASSERT_TRUE(child.WaitForLine("two", 10s)) << child.Output();
  EXPECT_EQ(child.Lines(), (std::vector<std::string>{"one", "  1 fps\r  2 fps\rtwo"}));
  EXPECT_FALSE(child.WaitForLine("three", 100ms));
  EXPECT_TRUE(child.WaitExit(0ms).TimedOut);
}

TEST(DemoProcess, KillEndsTheChildAndItsGroup) {
  TDemoProcess child("sh", {"-c", "sleep 60 & echo \"helper=$!\"; wait"});
  ASSERT_TRUE(child.WaitForLine("helper=", 10s));
  const pid_t helper = std::stoi(child.Output().substr(child.Output().find('=') + 1));
  EXPECT_TRUE(child.WaitExit(100ms).TimedOut);
  child.Kill();
  TExitResult result = child.WaitExit(1s);
  EXPECT_FALSE(result.TimedOut);
  EXPECT_FALSE(result.Exited);
  EXPECT_EQ(result.Signal, SIGTERM);
  // The helper was in the child's group; it may take a moment to be reaped by init.
  for (int i = 0; i < 100 && ProcessAlive(helper); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(ProcessAlive(helper));
}

TEST(DemoProcess, PassesEnvironmentAndWorkingDirectory) {
  setenv("KELVO_HARNESS_TEST_GONE", "still here", 1);
  TDemoProcess child("sh", {"-c", "echo \"$KELVO_HARNESS_TEST_SET|${KELVO_HARNESS_TEST_GONE-unset}|$(pwd)\""},
                     {{"KELVO_HARNESS_TEST_SET", "a value"}, {"KELVO_HARNESS_TEST_GONE", std::nullopt}}, "/usr");
  TExitResult result = child.WaitExit(10s);
  unsetenv("KELVO_HARNESS_TEST_GONE");
  EXPECT_EQ(result.Code, 0);
  EXPECT_EQ(child.Output(), "a value|unset|/usr\n");
}

TEST(DemoProcess, ThrowsWhenTheChildCannotStart) {
  EXPECT_THROW(TDemoProcess("/nonexistent/kelvo-harness-test", {}), std::system_error);
  EXPECT_THROW(TDemoProcess("true", {}, {}, "/nonexistent-directory"), std::system_error);
}
