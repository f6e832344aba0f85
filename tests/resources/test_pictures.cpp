// Tests of the generated pictures: the exact BMP layout the demo's loader and GL upload
// rely on, byte-identical regeneration, and the content each renderer needs (opaque,
// varied artworks; transparent surroundings for the sun, boat and water); and of the
// generator's tools (BMP encoder, quantiser, Cairo conversion, compositing, noise, PRNG).
// Reads the pictures of the build's resource folder and runs kelvo-gen-pictures from the
// build folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/pictures/bmp_writer.hpp"
#include "resources/pictures/canvas.hpp"
#include "resources/pictures/noise.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/files.hpp"

namespace {

struct TExpected {
  const char* Name;
  std::uint32_t Width;
  std::uint32_t Height;
  std::uint32_t InfoSize;
  std::uint32_t FileSize;
};

constexpr std::array<TExpected, 20> kPictures = {{
    {"TEX_ARTE1", 1600, 900, 124, 5760138},   {"TEX_ARTE2", 1600, 900, 124, 5760138},
    {"TEX_ARTE3", 1600, 900, 124, 5760138},   {"TEX_ARTE4", 1600, 900, 124, 5760138},
    {"TEX_ARTE5", 1600, 900, 124, 5760138},   {"TEX_ARTE6", 1600, 900, 124, 5760138},
    {"TEX_ARTE7", 1600, 900, 124, 5760138},   {"TEX_ARTE8", 1600, 900, 124, 5760138},
    {"TEX_ARTE9", 1600, 900, 124, 5760138},   {"TEX_ARTE10", 1600, 900, 124, 5760138},
    {"TEX_ARTE11", 1600, 900, 124, 5760138},  {"TEX_ARTE12", 1600, 900, 124, 5760138},
    {"TEX_ARTE13", 1600, 900, 124, 5760138},  {"TEX_ARTE14", 1600, 900, 124, 5760138},
    {"TEX_ARTE15", 1600, 900, 124, 5760138},  {"TEX_ARTE16", 1600, 900, 124, 5760138},
    {"TEX_BACKGROUND", 1920, 1080, 56, 8294470}, {"TEX_BOAT", 934, 762, 56, 2846902},
    {"TEX_SUN", 1280, 1280, 56, 6553670},     {"TEX_WATER", 1920, 1280, 56, 9830470},
}};

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 | std::uint32_t{b.at(at + 2)} << 16 |
         std::uint32_t{b.at(at + 3)} << 24;
}
std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8;
}

// A decoded picture; At(x, y) counts y from the bottom row, as the file stores it.
struct TPicture {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Bytes;
  std::size_t Offset = 0;
  struct TPixel {
    int B, G, R, A;
  };
  TPixel At(int x, int y) const {
    const std::size_t i = Offset + (static_cast<std::size_t>(y) * Width + x) * 4;
    return {Bytes.at(i), Bytes.at(i + 1), Bytes.at(i + 2), Bytes.at(i + 3)};
  }
};

TPicture Load(const char* name) {
  TPicture p;
  p.Bytes = ReadBytes(std::filesystem::path(KELVO_RES_DIR) / (std::string(name) + ".bmp"));
  if (p.Bytes.size() < 70) return p;
  p.Width = static_cast<int>(U32(p.Bytes, 18));
  p.Height = static_cast<int>(U32(p.Bytes, 22));
  p.Offset = U32(p.Bytes, 10);
  return p;
}

TEST(PictureFormat, EveryPictureHasTheExactHeaderAndSize) {
  for (const TExpected& e : kPictures) {
    SCOPED_TRACE(e.Name);
    const std::vector<std::uint8_t> b = ReadBytes(std::filesystem::path(KELVO_RES_DIR) / (std::string(e.Name) + ".bmp"));
    ASSERT_EQ(b.size(), e.FileSize);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), e.FileSize) << "file size field";
    EXPECT_EQ(U16(b, 6), 0u);
    EXPECT_EQ(U16(b, 8), 0u);
    EXPECT_EQ(U32(b, 10), 14 + e.InfoSize) << "pixel data offset";
    EXPECT_EQ(U32(b, 14), e.InfoSize) << "info header size";
    EXPECT_EQ(U32(b, 18), e.Width);
    EXPECT_EQ(U32(b, 22), e.Height) << "positive height: rows bottom-up";
    EXPECT_EQ(U16(b, 26), 1u) << "planes";
    EXPECT_EQ(U16(b, 28), 32u) << "bits per pixel";
    EXPECT_EQ(U32(b, 30), 3u) << "compression: bit fields";
    EXPECT_EQ(U32(b, 34), e.Width * e.Height * 4) << "image size";
    EXPECT_EQ(U32(b, 54), 0x00ff0000u) << "red mask";
    EXPECT_EQ(U32(b, 58), 0x0000ff00u) << "green mask";
    EXPECT_EQ(U32(b, 62), 0x000000ffu) << "blue mask";
    EXPECT_EQ(U32(b, 66), 0xff000000u) << "alpha mask";
    // No row padding: the pixels fill the file exactly from the offset on.
    EXPECT_EQ(b.size() - U32(b, 10), std::size_t{e.Width} * e.Height * 4);
  }
}

// Runs the generator into a fresh folder and returns its exit status.
int RunGenerator(const std::filesystem::path& folder, const std::string& extra = "") {
  const std::string command = std::string(KELVO_BUILD_DIR) + "/kelvo-gen-pictures '" + folder.string() + "'" +
                              extra + " > '" + (folder / "log.txt").string() + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::filesystem::path FreshFolder(const char* tag) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kelvo-pictures-" + std::string(tag) + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

TEST(PictureGenerator, RegeneratesIdenticalBytes) {
  const std::filesystem::path folder = FreshFolder("again");
  ASSERT_EQ(RunGenerator(folder), 0);
  for (const TExpected& e : kPictures) {
    SCOPED_TRACE(e.Name);
    const std::string file = std::string(e.Name) + ".bmp";
    EXPECT_TRUE(ReadBytes(folder / file) == ReadBytes(std::filesystem::path(KELVO_RES_DIR) / file));
  }
  // Nothing but the pictures and the log: no half-written temporary files stay behind.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 21);
  std::filesystem::remove_all(folder);
}

TEST(PictureGenerator, PaintsOnlyTheNamedPicturesAndRejectsUnknownNames) {
  const std::filesystem::path folder = FreshFolder("some");
  ASSERT_EQ(RunGenerator(folder, " TEX_BOAT"), 0);
  EXPECT_TRUE(std::filesystem::exists(folder / "TEX_BOAT.bmp"));
  EXPECT_FALSE(std::filesystem::exists(folder / "TEX_SUN.bmp"));
  EXPECT_NE(RunGenerator(folder, " TEX_NOTHING"), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "TEX_NOTHING.bmp"));
  std::filesystem::remove_all(folder);
}

// Luma of a pixel in 0..255.
double Luma(const TPicture::TPixel& p) { return 0.2126 * p.R + 0.7152 * p.G + 0.0722 * p.B; }

TEST(PictureContent, ArtworksAreOpaqueVariedAndDistinct) {
  std::vector<std::array<double, 3>> means;
  for (int i = 1; i <= 16; ++i) {
    const std::string name = "TEX_ARTE" + std::to_string(i);
    SCOPED_TRACE(name);
    const TPicture p = Load(name.c_str());
    ASSERT_EQ(p.Width, 1600);
    ASSERT_EQ(p.Height, 900);
    int translucent = 0;
    std::vector<bool> seen(4096, false);
    double sum = 0, sumSquares = 0;
    std::array<double, 3> mean{};
    int samples = 0;
    for (int y = 0; y < p.Height; ++y) {
      for (int x = 0; x < p.Width; ++x) {
        const TPicture::TPixel c = p.At(x, y);
        if (c.A != 255) ++translucent;
        if ((x % 3) != 0 || (y % 3) != 0) continue;
        seen[static_cast<std::size_t>((c.R >> 4) << 8 | (c.G >> 4) << 4 | (c.B >> 4))] = true;
        const double l = Luma(c);
        sum += l;
        sumSquares += l * l;
        mean[0] += c.R;
        mean[1] += c.G;
        mean[2] += c.B;
        ++samples;
      }
    }
    EXPECT_EQ(translucent, 0) << "artworks must be fully opaque";
    const long distinct = std::count(seen.begin(), seen.end(), true);
    EXPECT_GE(distinct, 60) << "a real spread of colours";
    const double average = sum / samples;
    const double deviation = std::sqrt(std::max(0.0, sumSquares / samples - average * average));
    EXPECT_GE(deviation, 25.0) << "strong contrast";
    for (double& m : mean) m /= samples;
    means.push_back(mean);
  }
  // Each has its own palette: no two share the same average colour.
  for (std::size_t a = 0; a < means.size(); ++a) {
    for (std::size_t b = a + 1; b < means.size(); ++b) {
      const double d = std::abs(means[a][0] - means[b][0]) + std::abs(means[a][1] - means[b][1]) +
                       std::abs(means[a][2] - means[b][2]);
      EXPECT_GT(d, 6.0) << "TEX_ARTE" << a + 1 << " and TEX_ARTE" << b + 1 << " look alike";
    }
  }
}

TEST(PictureContent, BackgroundIsOpaque) {
  const TPicture p = Load("TEX_BACKGROUND");
  ASSERT_EQ(p.Width, 1920);
  int translucent = 0;
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x) translucent += p.At(x, y).A != 255;
  EXPECT_EQ(translucent, 0);
}

TEST(PictureContent, SunIsATallDiscWithAStraightAlphaGlow) {
  const TPicture p = Load("TEX_SUN");
  ASSERT_EQ(p.Width, 1280);
  ASSERT_EQ(p.Height, 1280);
  // Transparent corners, opaque centre.
  EXPECT_EQ(p.At(0, 0).A, 0);
  EXPECT_EQ(p.At(1279, 0).A, 0);
  EXPECT_EQ(p.At(0, 1279).A, 0);
  EXPECT_EQ(p.At(1279, 1279).A, 0);
  EXPECT_EQ(p.At(640, 640).A, 255);
  // The opaque disc is 16/9 times taller than wide, so the 16:9 quad shows it round.
  int wide = 0, tall = 0;
  for (int x = 0; x < p.Width; ++x) wide += p.At(x, 640).A == 255;
  for (int y = 0; y < p.Height; ++y) tall += p.At(640, y).A == 255;
  ASSERT_GT(wide, 20);
  EXPECT_NEAR(static_cast<double>(tall) / wide, 16.0 / 9.0, 0.12);
  // The glow falls off in alpha but keeps its bright colour: straight, not premultiplied.
  int faint = 0, dark = 0;
  for (int x = 640; x < p.Width; ++x) {
    const TPicture::TPixel c = p.At(x, 640);
    if (c.A > 8 && c.A < 128) {
      ++faint;
      if (std::max({c.R, c.G, c.B}) < 160) ++dark;
    }
  }
  EXPECT_GT(faint, 10) << "a soft glow around the disc";
  EXPECT_EQ(dark, 0) << "faint glow pixels must keep their full colour";
}

TEST(PictureContent, BoatStandsInATransparentFrame) {
  const TPicture p = Load("TEX_BOAT");
  ASSERT_EQ(p.Width, 934);
  ASSERT_EQ(p.Height, 762);
  int top = -1, bottom = p.Height, left = p.Width, right = -1;
  long opaque = 0;
  for (int y = 0; y < p.Height; ++y) {
    for (int x = 0; x < p.Width; ++x) {
      if (p.At(x, y).A == 0) continue;
      top = std::max(top, y);
      bottom = std::min(bottom, y);
      left = std::min(left, x);
      right = std::max(right, x);
      opaque += p.At(x, y).A == 255;
    }
  }
  EXPECT_GT(opaque, 934L * 762 / 10) << "the boat fills a good part of the picture";
  // A transparent margin on every side.
  EXPECT_GT(bottom, 0);
  EXPECT_GT(left, 0);
  EXPECT_LT(right, p.Width - 1);
  EXPECT_LT(top, p.Height - 1);
  // The hull sits low: the lowest painted row lies in the lower fifth of the picture.
  EXPECT_LT(bottom, p.Height / 5);
}

TEST(PictureContent, WaterIsClearAboveItsSurfaceAndFilledBelow) {
  const TPicture p = Load("TEX_WATER");
  ASSERT_EQ(p.Width, 1920);
  ASSERT_EQ(p.Height, 1280);
  int paintedAbove = 0, clearBelow = 0, opaqueBelow = 0;
  for (int y = 0; y < p.Height; ++y) {
    for (int x = 0; x < p.Width; ++x) {
      const int a = p.At(x, y).A;
      if (y > p.Height * 40 / 100) paintedAbove += a != 0;
      if (y < p.Height * 30 / 100) {
        clearBelow += a == 0;
        opaqueBelow += a == 255;
      }
    }
  }
  EXPECT_EQ(paintedAbove, 0) << "rows above 40 % of the height are fully transparent";
  EXPECT_EQ(clearBelow, 0) << "rows below 30 % of the height carry water everywhere";
  EXPECT_LT(opaqueBelow, p.Width * p.Height * 30 / 100) << "the water is translucent, not a solid wall";
}

TEST(PictureContent, HarbourKeepsTheSunsSkyOpenAndTheTextBandDark) {
  const TPicture background = Load("TEX_BACKGROUND");
  const TPicture water = Load("TEX_WATER");
  ASSERT_EQ(background.Width, 1920);
  ASSERT_EQ(water.Width, 1920);
  // Where the sun is drawn (x 1310 to 1890, y 500 to 1000, counted from the bottom) the
  // sky is a smooth gradient: no shape, star or edge competes with the sun.
  double steepest = 0;
  for (int y = 500; y < 1000; ++y) {
    for (int x = 1310; x < 1890; ++x) {
      const double l = Luma(background.At(x, y));
      steepest = std::max({steepest, std::abs(l - Luma(background.At(x + 1, y))),
                           std::abs(l - Luma(background.At(x, y + 1)))});
    }
  }
  EXPECT_LT(steepest, 4.0);
  // The greeting text runs on the baseline y = 100 in light cyan-white; the water drawn
  // over the background must leave that band dark, wherever the water line stands
  // (its top swings between about 957 and 1202 design units).
  for (const double top : {957.0, 1080.0, 1202.0}) {
    SCOPED_TRACE(top);
    std::vector<double> band;
    for (int y = 40; y < 200; ++y) {
      const int row = static_cast<int>((y + 0.5) / top * water.Height);
      for (int x = 0; x < 1920; x += 2) {
        const TPicture::TPixel w = water.At(x, row);
        const double a = w.A / 255.0;
        band.push_back(Luma(w) * a + Luma(background.At(x, y)) * (1 - a));
      }
    }
    std::sort(band.begin(), band.end());
    EXPECT_LT(band[band.size() * 99 / 100], 70.0);
  }
}

// --- The generator's tools ---

TEST(BmpEncoder, StoresRowsBottomUpAsStraightBgraBehindEitherHeader) {
  TImage image(3, 2);
  image.Set(0, 0, {1, 0, 0, 1});     // top left: red
  image.Set(2, 0, {0, 0, 1, 0.5f});  // top right: half-transparent blue
  image.Set(0, 1, {0, 1, 0, 1});     // bottom left: green
  image.Set(1, 1, {1, 1, 1, 0});     // fully transparent white
  for (const TBmpHeader kind : {TBmpHeader::V3, TBmpHeader::V5}) {
    const std::vector<std::uint8_t> b = EncodeBmp(image, kind);
    const std::uint32_t offset = kind == TBmpHeader::V5 ? 138 : 70;
    ASSERT_EQ(b.size(), offset + 3 * 2 * 4);
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 10), offset);
    EXPECT_EQ(U32(b, 14), offset - 14);
    EXPECT_EQ(U32(b, 22), 2u);
    // The first stored pixel is the bottom-left one: green.
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + offset, b.begin() + offset + 4),
              (std::vector<std::uint8_t>{0, 255, 0, 255}));
    // A fully transparent pixel carries no colour.
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + offset + 4, b.begin() + offset + 8),
              (std::vector<std::uint8_t>{0, 0, 0, 0}));
    // The top row comes last: red, then (transparent black), then straight-alpha blue.
    const std::size_t top = offset + 3 * 4;
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + top, b.begin() + top + 4),
              (std::vector<std::uint8_t>{0, 0, 255, 255}));
    EXPECT_EQ(b[top + 8], 255) << "blue stays full strength under half alpha";
    EXPECT_NEAR(b[top + 11], 128, 1);
  }
  // The large header names the sRGB colour space.
  EXPECT_EQ(U32(EncodeBmp(image, TBmpHeader::V5), 70), 0x73524742u);
}

TEST(BmpEncoder, QuantiserKeepsTheEndsExactAndDithersWithoutBias) {
  long sum = 0;
  int worst = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      EXPECT_EQ(TImage::Quantize(0.0f, x, y, 3), 0);
      EXPECT_EQ(TImage::Quantize(1.0f, x, y, 3), 255);
      EXPECT_EQ(TImage::Quantize(-0.2f, x, y, 0), 0);
      EXPECT_EQ(TImage::Quantize(1.7f, x, y, 0), 255);
      const int q = TImage::Quantize(0.3f, x, y, 1);
      worst = std::max(worst, std::abs(q - 77));
      sum += q;
    }
  }
  EXPECT_LE(worst, 1) << "dither moves a value by at most one step";
  EXPECT_NEAR(static_cast<double>(sum) / 10000, 0.3 * 255, 0.15) << "dither adds no bias";
}

TEST(CairoCanvas, UnpremultipliesIntoStraightAlpha) {
  TCairoCanvas canvas(4, 4);
  cairo_set_source_rgba(canvas.Context(), 1.0, 0.5, 0.0, 0.5);
  cairo_rectangle(canvas.Context(), 0, 0, 2, 4);
  cairo_fill(canvas.Context());
  const TImage image = canvas.ToImage();
  const TRgba painted = image.Get(1, 1);
  EXPECT_NEAR(painted.R, 1.0, 0.01);
  EXPECT_NEAR(painted.G, 0.5, 0.02);
  EXPECT_NEAR(painted.B, 0.0, 0.01);
  EXPECT_NEAR(painted.A, 0.5, 0.01);
  EXPECT_EQ(image.Get(3, 3).A, 0.0f);
  // And back: a picture loaded into a canvas comes out the same.
  TImage source(2, 1);
  source.Set(0, 0, {0.2f, 0.6f, 1.0f, 0.75f});
  TCairoCanvas again(2, 1);
  again.FromImage(source);
  const TRgba back = again.ToImage().Get(0, 0);
  EXPECT_NEAR(back.R, 0.2, 0.01);
  EXPECT_NEAR(back.G, 0.6, 0.01);
  EXPECT_NEAR(back.B, 1.0, 0.01);
  EXPECT_NEAR(back.A, 0.75, 0.01);
}

TEST(PaintingTools, CompositesStraightAlphaAndRampsThroughTheirStops) {
  TImage under(2, 1), over(2, 1);
  under.Set(0, 0, {0, 0, 1, 1});
  over.Set(0, 0, {1, 0, 0, 0.5f});
  over.Set(1, 0, {0, 1, 0, 0.25f});  // over a transparent pixel: unchanged
  under.Over(over);
  const TRgba mixed = under.Get(0, 0), alone = under.Get(1, 0);
  EXPECT_NEAR(mixed.R, 0.5, 1e-6);
  EXPECT_NEAR(mixed.B, 0.5, 1e-6);
  EXPECT_NEAR(mixed.A, 1.0, 1e-6);
  EXPECT_NEAR(alone.G, 1.0, 1e-6);
  EXPECT_NEAR(alone.A, 0.25, 1e-6);

  const std::vector<TRgb> stops = {Hex(0x000000), Hex(0xff0000), Hex(0xffffff)};
  EXPECT_EQ(Ramp(stops, 0.0f).R, 0.0f);
  EXPECT_NEAR(Ramp(stops, 0.5f).R, 1.0, 1e-6);
  EXPECT_NEAR(Ramp(stops, 0.5f).G, 0.0, 1e-6);
  EXPECT_NEAR(Ramp(stops, 1.0f).B, 1.0, 1e-6);
  EXPECT_NEAR(Ramp(stops, 2.0f).B, 1.0, 1e-6) << "clamped beyond the last stop";
}

TEST(PaintingTools, PixelAccessOutsideThePictureIsARangeError) {
  TImage image(5, 4);
  EXPECT_FATAL(image.Get(5, 0), 201, "Runtime error 201");
  EXPECT_FATAL(image.Set(0, -1, {}), 201, "Runtime error 201");
  std::vector<int> three(3);
  EXPECT_FATAL(Item(three, 3), 201, "Runtime error 201");
  EXPECT_FATAL(Item(three, -1), 201, "Runtime error 201");
}

TEST(PaintingTools, RandomAndNoiseAreReproducible) {
  // SplitMix64's published first output for seed 0: the sequence must never change.
  TRandom reference(0);
  EXPECT_EQ(reference.Next(), 0xe220a8397b1dcdafull);
  TRandom a(42), b(42);
  for (int i = 0; i < 1000; ++i) {
    const double u = a.Uniform();
    EXPECT_EQ(u, b.Uniform());
    EXPECT_GE(u, 0.0);
    EXPECT_LT(u, 1.0);
    const int k = a.Below(7);
    b.Below(7);
    EXPECT_GE(k, 0);
    EXPECT_LT(k, 7);
  }
  const TNoise n1(7), n2(7), n3(8);
  double largest = 0, differs = 0;
  for (int i = 0; i < 2000; ++i) {
    const double x = i * 0.173, y = i * 0.071;
    EXPECT_EQ(n1.At(x, y), n2.At(x, y));
    differs += std::abs(n1.At(x, y) - n3.At(x, y));
    largest = std::max(largest, std::abs(n1.Fbm(x, y, 5)));
    // Gradient noise is zero on its lattice.
    EXPECT_NEAR(n1.At(std::floor(x), std::floor(y)), 0.0, 1e-12);
  }
  EXPECT_GT(differs, 100.0) << "another seed gives another field";
  EXPECT_LE(largest, 1.0);
  EXPECT_GT(largest, 0.2);
}

TEST(PictureGenerator, FailsWhenTheFolderCannotBeWritten) {
  const std::filesystem::path folder = FreshFolder("missing") / "no" / "such" / "folder";
  const std::string command = std::string(KELVO_BUILD_DIR) + "/kelvo-gen-pictures '" + folder.string() +
                              "' TEX_BOAT > /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::filesystem::remove_all(folder.parent_path().parent_path().parent_path());
}

}  // namespace
