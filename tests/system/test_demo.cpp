// The built demo end to end under the headless harness: its start-up log, the ways a run
// ends, stores with missing or broken entries, what the screen shows, and a run
// without a window manager.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/facts.hpp"
#include "base/loglines.hpp"
#include "platform/loglines.hpp"
#include "base/files.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/pictures.hpp"
#include "tests/support/xclient.hpp"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kDemo = std::string(KELVO_BUILD_DIR) + "/kelvo";
const std::string kTool = std::string(KELVO_BUILD_DIR) + "/kelvo-res";
constexpr auto kStartup = 60s;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

// A folder of its own for each test's demo copies; removed afterwards.
class TScratch {
 public:
  TScratch() {
    Path = fs::temp_directory_path() / ("kelvo-demo-test-" + std::to_string(getpid()) + "-" +
                                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(Path);
  }
  ~TScratch() { fs::remove_all(Path); }
  // A copy of the demo with its store edited by kelvo-res.
  std::string EditedDemo(const std::string& options) {
    std::string out = (Path / "kelvo").string();
    std::string command = kTool + " edit " + kDemo + " " + out + " " + options;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return out;
  }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::string path = (Path / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path Path;
};

// A BMP from the generated resources, sampled like the GL quad stretches it over the screen.
struct TPicture {
  int Width = 0, Height = 0;
  std::uint32_t Offset = 0;
  std::vector<std::uint8_t> Bytes;
  // A picture that cannot be read, or whose pixels the file does not hold, fails the test
  // that asked for it (with the file's name) instead of reading past its bytes.
  explicit TPicture(const std::string& name) {
    const std::string path = std::string(KELVO_RES_DIR) + "/" + name + ".bmp";
    std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes) throw std::runtime_error("cannot read " + path);
    Bytes = std::move(*bytes);
    if (Bytes.size() < 26) throw std::runtime_error(path + " is too short for a BMP header");
    Offset = LittleEndian32(Bytes.data() + 10);
    Width = static_cast<std::int32_t>(LittleEndian32(Bytes.data() + 18));
    Height = static_cast<std::int32_t>(LittleEndian32(Bytes.data() + 22));
    const std::uint64_t pixelBytes = std::uint64_t{4} * static_cast<std::uint32_t>(Width) * static_cast<std::uint32_t>(Height);
    if (Width <= 0 || Height <= 0 || Offset > Bytes.size() || Bytes.size() - Offset < pixelBytes)
      throw std::runtime_error(path + " does not hold the pixels its header names");
  }
  // The colour that lands on screen pixel (x, y) (top-left origin) of a 1920x1080 screen.
  TRgb OnScreen(int x, int y) const {
    int px = std::min(Width - 1, static_cast<int>((x + 0.5) * Width / 1920));
    int py = std::min(Height - 1, static_cast<int>((1080 - y - 0.5) * Height / 1080));
    const std::uint8_t* p = Bytes.data() + Offset + (static_cast<std::size_t>(py) * Width + px) * 4;
    return {p[2], p[1], p[0]};
  }
};

// The share of sample points in the region where the screen shows the picture.
double Match(const TScreenImage& screen, const TPicture& picture, int left = 0, int top = 0, int right = 1920,
             int bottom = 1080) {
  int hits = 0, total = 0;
  for (int y = top + 7; y < bottom; y += 37) {
    for (int x = left + 5; x < right; x += 41) {
      TRgb want = picture.OnScreen(x, y), got = screen.Pixel(x, y);
      ++total;
      if (std::abs(want.R - got.R) <= 24 && std::abs(want.G - got.G) <= 24 && std::abs(want.B - got.B) <= 24) ++hits;
    }
  }
  return total == 0 ? 0 : static_cast<double>(hits) / total;
}

TEST(DemoSupport, APictureThatCannotBeReadFailsWithItsName) {
  try {
    TPicture missing("TEX_NO_SUCH_PICTURE");
    ADD_FAILURE() << "a missing picture was read as " << missing.Width << " x " << missing.Height;
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("TEX_NO_SUCH_PICTURE.bmp"), std::string::npos) << error.what();
  }
}

TEST(Demo, StartsWithItsBannerAndTheLogInOrder) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TDemoProcess demo(kDemo, {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, kStartup)) << demo.Output();
  demo.Kill();
  std::vector<std::string> lines = demo.Lines();
  ASSERT_GT(lines.size(), 11u);
  EXPECT_EQ(lines[0], "hint: --device <alsa device>");
  std::size_t i = 11;
  for (std::string_view line : std::initializer_list<std::string_view>{"[uGLX] INFO: created glx context", "[uGLX] INFO: made current",
                           "[uGLX] INFO: enables done!", "[uGLX] INFO: blend func done!",
                           kGLSetupDoneLine}) {
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(lines[i++], line);
  }
  // The store, entry by entry, each followed by its loader's lines.
  auto expectFound = [&](const std::string& name) {
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(lines[i++], "[uKelvo] INFO: found resource \"" + name + "\"");
  };
  expectFound("FONT");
  while (i < lines.size() && StartsWith(lines[i], "[uFont] ")) ++i;
  expectFound("SONG");
  while (i < lines.size() && (StartsWith(lines[i], "[uWAV] ") || StartsWith(lines[i], "[uALSA] "))) ++i;
  for (const std::string& name : PictureNamesInStoreOrder()) {
    expectFound(name);
    for (const char* prefix : {"[uBMP] LoadTexture: IMG dimensions ", "[uBMP] LoadTexture: Pixel Data starts at ",
                               "[uBMP] LoadTexture: Pixel Data size is ", "[uBMP] LoadTexture: Bits per Pixel 32"}) {
      ASSERT_LT(i, lines.size());
      EXPECT_TRUE(StartsWith(lines[i++], prefix)) << lines[i - 1];
    }
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(lines[i++], "[uKelvo] registered texture: " + Lower(name.substr(4)));
  }
  for (int renderer = 0; renderer < 37; ++renderer) {
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(lines[i++], kRegisteredRendererLine);
  }
  ASSERT_LT(i, lines.size());
  EXPECT_EQ(lines[i], kMappedWindowLine);
}

TEST(Demo, EscapeEndsTheRunAndOtherKeysDoNot) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient x;
  TDemoProcess demo(kDemo, {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, kStartup)) << demo.Output();
  ASSERT_TRUE(x.FindClientWindow(10s, demo.Pid()));
  std::this_thread::sleep_for(500ms);
  x.SendKey(38);  // 'a'
  EXPECT_TRUE(demo.WaitExit(1500ms).TimedOut) << "a key other than Escape ended the run";
  x.SendKey(9);
  TExitResult result = demo.WaitExit(10s);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, kExitOk);
}

TEST(Demo, ACloseRequestEndsTheRunLikeEscape) {
  // The window manager's close (Alt-F4 under openbox): the demo ends with 0 and writes
  // nothing on stderr (without taking part in WM_DELETE_WINDOW the window manager would
  // kill its connection: status 1 and Xlib's "connection broken").
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient x;
  TScratch scratch;
  const std::string errors = (scratch.Path / "stderr.txt").string();
  TDemoProcess demo("bash", {"-c", "exec \"$0\" 2>\"$1\"", kDemo, errors});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, kStartup)) << demo.Output();
  auto window = x.FindClientWindow(10s, demo.Pid());
  ASSERT_TRUE(window);
  std::this_thread::sleep_for(500ms);
  x.RequestClose(*window);
  TExitResult result = demo.WaitExit(10s);
  EXPECT_TRUE(result.Exited) << demo.Output();
  EXPECT_EQ(result.Code, kExitOk) << demo.Output();
  std::optional<std::vector<std::uint8_t>> stderrBytes = ReadWholeFile(errors);
  ASSERT_TRUE(stderrBytes);
  EXPECT_EQ(std::string(stderrBytes->begin(), stderrBytes->end()), "");
}

TEST(Demo, AWindowDestroyedByAnotherClientEndsTheRunCleanly) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient x;
  TDemoProcess demo(kDemo, {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, kStartup)) << demo.Output();
  auto window = x.FindClientWindow(10s, demo.Pid());
  ASSERT_TRUE(window);
  std::this_thread::sleep_for(1s);
  x.DestroyWindow(*window);
  TExitResult result = demo.WaitExit(10s);
  EXPECT_TRUE(result.Exited) << demo.Output();
  EXPECT_EQ(result.Code, kExitOk) << demo.Output();
}

TEST(Demo, AStoreWithoutAPictureEndsAtItsLookup) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  TDemoProcess demo(scratch.EditedDemo("--remove TEX_ARTE5"), {});
  TExitResult result = demo.WaitExit(kStartup);
  EXPECT_EQ(result.Code, kExitTextureMissing);
  std::vector<std::string> lines = demo.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[uKelvo] invalid GetTexture call: texture \"arte5\" not found!");
  // arte1 to arte4 were registered as renderers before the lookup failed.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kRegisteredRendererLine), 8);
}

TEST(Demo, ABrokenPictureEndsWithItsHeaderLine) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  std::string broken = scratch.Write("broken.bmp", {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  TDemoProcess demo(scratch.EditedDemo("--set TEX_ARTE3=" + broken), {});
  TExitResult result = demo.WaitExit(kStartup);
  EXPECT_EQ(result.Code, kExitBadPicture);
  std::vector<std::string> lines = demo.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "LoadTexture: ERROR: BMP Header Length mismatch! expected 16 bytes, got 4");
  EXPECT_EQ(lines[lines.size() - 2], "[uKelvo] INFO: found resource \"TEX_ARTE3\"");
}

TEST(Demo, AStoreWithoutTheSongEndsAfterEveryOtherEntry) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  TDemoProcess demo(scratch.EditedDemo("--remove SONG"), {});
  TExitResult result = demo.WaitExit(kStartup);
  EXPECT_EQ(result.Code, kExitAssertion);
  std::vector<std::string> lines = demo.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "no song loaded (uKelvo, line 146)");
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return StartsWith(l, "[uKelvo] registered texture: "); }),
            20);
}

TEST(Demo, OtherNamesAreLoggedAndOnlyTheExactPrefixRegisters) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  std::string boat = std::string(KELVO_RES_DIR) + "/TEX_BOAT.bmp";
  TDemoProcess demo(scratch.EditedDemo("--set font=" + boat + " --set Tex_X=" + boat + " --set TEX_=" + boat), {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, kStartup)) << demo.Output();
  demo.Kill();
  std::vector<std::string> lines = demo.Lines();
  auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
  // Upper-case names sort before lower-case ones: TEX_ comes before TEX_ARTE1, Tex_X and font last.
  auto bare = at("[uKelvo] INFO: found resource \"TEX_\"");
  ASSERT_NE(bare, lines.end());
  EXPECT_EQ(*(bare + 5), "[uKelvo] registered texture: ");
  auto mixed = at("[uKelvo] INFO: found resource \"Tex_X\"");
  ASSERT_NE(mixed, lines.end());
  EXPECT_EQ(*(mixed + 1), "[uKelvo] INFO: found resource \"font\"");
  EXPECT_TRUE(StartsWith(*(mixed + 2), kRegisteredRendererLine));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return StartsWith(l, "[uKelvo] registered texture: "); }),
            21);
}

TEST(Demo, ShowsThePicturesFullScreenAndThenTheHarbour) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TXClient x;
  TDemoProcess demo(kDemo, {});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, kStartup)) << demo.Output();
  auto mapped = std::chrono::steady_clock::now();
  std::this_thread::sleep_until(mapped + 1s);
  TScreenImage early = x.CaptureScreen();
  double best = 0;
  std::string bestName;
  for (int page = 1; page <= 16; ++page) {
    std::string name = "TEX_ARTE" + std::to_string(page);
    double match = Match(early, TPicture(name));
    if (match > best) best = match, bestName = name;
  }
  EXPECT_GT(best, 0.85) << "no picture fills the screen at 1 s (best " << bestName << ")";
  std::this_thread::sleep_until(mapped + 6s);
  TScreenImage harbour = x.CaptureScreen();
  // The sky on the upper left is the background's alone (the sun is on the right, the
  // water's transparent part above its surface, the boat low).
  EXPECT_GT(Match(harbour, TPicture("TEX_BACKGROUND"), 60, 60, 900, 320), 0.85);
  if (HasFailure()) {
    SavePng(early, "demo-early.png");
    SavePng(harbour, "demo-harbour.png");
  }
}

TEST(Demo, WithoutAWindowManagerItWarnsAndStillCoversTheScreen) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TScratch scratch;
  std::string shot = (scratch.Path / "shot.png").string();
  std::string script = "\"" + kDemo + "\" > \"" + (scratch.Path / "out.txt").string() +
                       "\" & pid=$!; for i in $(seq 600); do grep -qF '" + std::string(kMappedWindowLine) + "' \"" +
                       (scratch.Path / "out.txt").string() + "\" && break; sleep 0.1; done; sleep 1.5; " +
                       "import -window root \"" + shot + "\"; kill $pid";
  TDemoProcess nested(HeadlessScript(), {"--no-wm", "bash", "-c", script});
  TExitResult result = nested.WaitExit(120s);
  ASSERT_TRUE(result.Exited);
  std::optional<std::vector<std::uint8_t>> output = ReadWholeFile(scratch.Path / "out.txt");
  ASSERT_TRUE(output) << "the demo's output was not written to " << (scratch.Path / "out.txt");
  const std::string log(output->begin(), output->end());
  EXPECT_NE(log.find("[uGLX] WARNING: no EWMH full-screen support, covering the root window\n"), std::string::npos)
      << log;
  cairo_surface_t* surface = cairo_image_surface_create_from_png(shot.c_str());
  ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
  TScreenImage screen;
  screen.Width = cairo_image_surface_get_width(surface);
  screen.Height = cairo_image_surface_get_height(surface);
  ASSERT_EQ(screen.Width, kDesignWidthPixels);
  ASSERT_EQ(screen.Height, kDesignHeightPixels);
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < screen.Height; ++y) {
    for (int x = 0; x < screen.Width; ++x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, data + y * stride + x * 4, 4);
      screen.Rgb.push_back(static_cast<std::uint8_t>(pixel >> 16));
      screen.Rgb.push_back(static_cast<std::uint8_t>(pixel >> 8));
      screen.Rgb.push_back(static_cast<std::uint8_t>(pixel));
    }
  }
  cairo_surface_destroy(surface);
  double best = 0;
  for (int page = 1; page <= 16; ++page) best = std::max(best, Match(screen, TPicture("TEX_ARTE" + std::to_string(page))));
  // On a busy machine the screenshot may come after the opening (3.8 s of song): then the
  // harbour's background must show from the left of the sky to the screen's right edge.
  const TPicture background("TEX_BACKGROUND");
  const double harbour =
      std::min(Match(screen, background, 60, 60, 900, 320), Match(screen, background, 1760, 20, 1900, 400));
  EXPECT_GT(std::max(best, harbour), 0.85) << "neither a picture nor the harbour covers the whole screen (best "
                                           << best << ", harbour " << harbour << ")";
}

}  // namespace
