// The demo on a GL whose textures are at most 4096 x 4096 (libkelvo-gllimit.so lowers the
// limit the driver reports and ends the run if a larger texture is uploaded): it packs its
// font atlas, says so once, runs to the harbour, and a frame of the greeting on the film's
// virtual clock (libkelvo-film.so) is pixel for pixel the frame of the run with the full
// 8192 x 8192 atlas.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/facts.hpp"
#include "bench/gllimit.hpp"
#include "tests/support/harness.hpp"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kBuild = KELVO_BUILD_DIR;
constexpr int kWidth = kDesignWidthPixels;
constexpr int kHeight = kDesignHeightPixels;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 4;
// 7 s in: the harbour has shown for over 3 s and the greeting spans the screen from the
// left third to the right edge.
constexpr int kFrame = 420;

struct TFilmedFrame {
  std::vector<std::uint8_t> Pixels;  // rows top first, B G R and an unused byte
  std::vector<std::string> Lines;
  TExitResult Exit;
  std::size_t Frames = 0;
};

// Films the demo up to frame kFrame (environment on top of the film's) and keeps that frame.
TFilmedFrame FilmFrame(const std::string& name, const TEnvironment& extra) {
  const fs::path dir = fs::temp_directory_path() / ("kelvo-texture-limit-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string pipe = (dir / (name + ".video")).string();
  fs::remove(pipe);
  EXPECT_EQ(mkfifo(pipe.c_str(), 0600), 0) << pipe;
  TEnvironment environment = extra;
  const std::string preload = kBuild + "/libkelvo-film.so";
  environment["LD_PRELOAD"] = environment.count("LD_PRELOAD") ? preload + ":" + *environment["LD_PRELOAD"] : preload;
  environment["KELVO_FILM_VIDEO"] = pipe;
  environment["KELVO_FILM_FRAMES"] = std::to_string(kFrame + 1);
  TDemoProcess demo(kBuild + "/kelvo", {}, environment);

  TFilmedFrame filmed;
  filmed.Pixels.resize(kFrameBytes);
  std::vector<std::uint8_t> frame(kFrameBytes);
  const int fd = open(pipe.c_str(), O_RDONLY | O_CLOEXEC);  // waits for the film to open it
  EXPECT_GE(fd, 0);
  std::size_t filled = 0;
  for (ssize_t got = 0; fd >= 0 && (got = read(fd, frame.data() + filled, kFrameBytes - filled)) > 0;) {
    filled += static_cast<std::size_t>(got);
    if (filled == kFrameBytes) {
      filmed.Pixels.swap(frame);
      ++filmed.Frames;
      filled = 0;
    }
  }
  if (fd >= 0) close(fd);
  filmed.Exit = demo.WaitExit(120s);
  filmed.Lines = demo.Lines();
  fs::remove_all(dir);
  return filmed;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(TextureLimit, WithTexturesOf4096TheGreetingIsTheSameFrameAsWith8192) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const TFilmedFrame full = FilmFrame("full", {});
  const TFilmedFrame packed = FilmFrame(
      "packed", {{"LD_PRELOAD", kBuild + "/bench/libkelvo-gllimit.so"}, {kGLMaxTextureSizeVariable, "4096"}});
  for (const TFilmedFrame* run : {&full, &packed}) {
    EXPECT_TRUE(run->Exit.Exited && run->Exit.Code == 0) << "status " << run->Exit.Code << ", signal " << run->Exit.Signal;
    EXPECT_EQ(run->Frames, static_cast<std::size_t>(kFrame + 1));
  }
  const std::string dimensions = "[uFont] GenerateTextureAtlasBMP: Atlas-Texture dimensions: ";
  EXPECT_TRUE(HasLine(full.Lines, dimensions + "8192x8192"));
  EXPECT_TRUE(HasLine(packed.Lines, dimensions + "4096x4096"));
  EXPECT_EQ(std::count_if(packed.Lines.begin(), packed.Lines.end(),
                          [](const std::string& line) { return line.rfind("[uFont] WARNING: ", 0) == 0; }),
            1);
  EXPECT_FALSE(HasLine(full.Lines, "[uFont] WARNING: "));
  ASSERT_EQ(packed.Pixels.size(), full.Pixels.size());

  // The greeting is on screen: pixels of the glyphs' fully covered colour (180, 255, 255).
  std::size_t glyphPixels = 0;
  for (std::size_t at = 0; at < full.Pixels.size(); at += 4) {
    glyphPixels += full.Pixels[at] == 255 && full.Pixels[at + 1] == 255 && full.Pixels[at + 2] == 180;
  }
  EXPECT_GT(glyphPixels, 20000u) << "frame " << kFrame << " shows too little of the greeting";

  std::size_t differ = 0;
  std::size_t first = 0;
  for (std::size_t at = 0; at < full.Pixels.size(); at += 4) {
    if (std::equal(full.Pixels.begin() + static_cast<std::ptrdiff_t>(at), full.Pixels.begin() + static_cast<std::ptrdiff_t>(at) + 3,
                   packed.Pixels.begin() + static_cast<std::ptrdiff_t>(at))) {
      continue;
    }
    if (differ++ == 0) first = at / 4;
  }
  EXPECT_EQ(differ, 0u) << "pixels differ, the first at x " << first % kWidth << ", y " << first / kWidth
                        << " from the top";
}

}  // namespace
