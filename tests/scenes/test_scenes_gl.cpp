// Tests of the harbour renderers drawing with GL in the harness's 1920 x 1080 window: the
// state each leaves behind (colour, texture environment, projection) and the pixels of a
// harbour frame made of synthetic pictures, with the tick count fixed so the geometry is
// known. Expected positions come from the renderers' arithmetic (tested by hand-worked values
// in test_scenes.cpp) pushed through the rocking transform. Needs the harness.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include "base/facts.hpp"
#include "scenes/background.hpp"
#include "scenes/boat.hpp"
#include "scenes/sun.hpp"
#include "scenes/water.hpp"
#include "tests/support/gl_context.hpp"
// Last: Xlib's macros (None, Status) would clash with names in the headers above.
#include "display/glx.hpp"

namespace {

std::uint64_t gTick = 0;
std::uint64_t FixedTick() { return gTick; }

constexpr TRGBA kGrey{100, 100, 100, 255};
constexpr TRGBA kOrange{255, 128, 0, 255};
constexpr TRGBA kBlack{0, 0, 0, 255};
constexpr TRGBA kClear{0, 0, 0, 0};  // the window has no alpha: reads back as black
constexpr TRGBA kBlue{0, 0, 255, 255};
constexpr TRGBA kGreen{0, 255, 0, 255};
// The boat picture's quadrants: lower left, lower right, upper left, upper right.
constexpr TRGBA kBoatColours[4] = {{255, 255, 0, 255}, {255, 0, 255, 255}, {0, 255, 255, 255}, {255, 255, 255, 255}};

bool SameColour(TRGBA a, TRGBA b) {
  return std::abs(a.R - b.R) <= 2 && std::abs(a.G - b.G) <= 2 && std::abs(a.B - b.B) <= 2;
}

::testing::AssertionResult PixelIs(TDesignPoint p, TRGBA expected) {
  const int x = static_cast<int>(std::floor(p.X));
  const int y = static_cast<int>(std::floor(p.Y));
  if (x < 0 || y < 0 || x >= 1920 || y >= 1080) {
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") lies outside the window";
  }
  TRGBA got = ReadPixel(x, y);
  if (SameColour(got, expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << int{got.R} << "," << int{got.G}
                                       << "," << int{got.B} << ", expected " << int{expected.R} << ","
                                       << int{expected.G} << "," << int{expected.B};
}

// The point at fractions (u, v) of a quad.
TDesignPoint At(const TDesignQuad& quad, double u, double v) {
  return {quad.Left + u * (quad.Right - quad.Left), quad.Bottom + v * (quad.Top - quad.Bottom)};
}

// Where p lands after scaling by (sx, sy) and turning by angle degrees about the pivot.
TDesignPoint Rocked(TDesignPoint p, TDesignPoint pivot, double angle, double sx, double sy) {
  const double r = angle * std::numbers::pi / 180;
  const double dx = sx * (p.X - pivot.X);
  const double dy = sy * (p.Y - pivot.Y);
  return {pivot.X + std::cos(r) * dx - std::sin(r) * dy, pivot.Y + std::sin(r) * dx + std::cos(r) * dy};
}

class HarbourScene : public ::testing::Test {
 protected:
  void SetUp() override {
    TKelvoDisplay* display = nullptr;
    ASSERT_NO_FATAL_FAILURE(display = TestDisplay());
    ASSERT_NE(display, nullptr);
    ASSERT_EQ(display->WindowWidth, kDesignWidthPixels);
    ASSERT_EQ(display->WindowHeight, kDesignHeightPixels);
    // The GL drawable takes the window's full-screen size only at a buffer swap; until the
    // first one it stays as small as the window was created.
    static bool swapped = false;
    if (!swapped) display->SwapBuffers();
    swapped = true;
    Background = MakeTestTexture(2, 2, [](int, int) { return kGrey; });
    // The sun's left quarter is transparent.
    Sun = MakeTestTexture(64, 64, [](int x, int) { return x < 16 ? kClear : kOrange; });
    Boat = MakeTestTexture(934, 762, [](int x, int y) { return kBoatColours[(y >= 381 ? 2 : 0) + (x >= 467 ? 1 : 0)]; });
    Water = MakeTestTexture(8, 8, [](int, int y) { return y < 4 ? kBlue : kGreen; });
    glColor4f(1, 1, 1, 1);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    while (glGetError() != GL_NO_ERROR) {
    }
    BeginTestFrame();
  }

  void TearDown() override {
    GLuint names[4] = {Background.TextureID, Sun.TextureID, Boat.TextureID, Water.TextureID};
    glDeleteTextures(4, names);
  }

  TTexture Background, Sun, Boat, Water;
};

void ExpectProjectionIsIdentity() {
  GLint mode = 0, depth = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
  EXPECT_EQ(mode, GL_PROJECTION);
  EXPECT_EQ(depth, 1);
  GLfloat m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i % 5 == 0 ? 1.0f : 0.0f) << "projection element " << i;
}

void ExpectColourAndMode(const GLfloat (&colour)[4], GLint mode) {
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_COLOR, current);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(current[i], colour[i]) << "colour component " << i;
  GLint currentMode = 0;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &currentMode);
  EXPECT_EQ(currentMode, mode);
}

TEST_F(HarbourScene, EachRendererLeavesTheStateTheOthersRelyOn) {
  TSunRenderer sun(16, Sun);
  TBoatRenderer boat(16, 1000000, Boat);
  TWaterRenderer water(16, -2, Water);
  const GLfloat white[4] = {1, 1, 1, 1};
  const GLfloat odd[4] = {0.25f, 0.5f, 0.75f, 0.5f};
  sun.Ticks = boat.Ticks = water.Ticks = FixedTick;
  for (std::uint64_t tick : {0u, 1571u, 123456u}) {
    SCOPED_TRACE(tick);
    gTick = tick;
    // The sun puts back white and GL_MODULATE whatever it found.
    glColor4fv(odd);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    sun.Render();
    ExpectColourAndMode(white, GL_MODULATE);
    ExpectProjectionIsIdentity();
    // The boat and the water touch neither.
    glColor4fv(odd);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    boat.Render();
    ExpectColourAndMode(odd, GL_REPLACE);
    ExpectProjectionIsIdentity();
    water.Render();
    ExpectColourAndMode(odd, GL_REPLACE);
    ExpectProjectionIsIdentity();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
  glColor4fv(white);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
}

TEST_F(HarbourScene, FrameShowsSilhouetteBoatAndWaterWhereTheirQuadsPutThem) {
  gTick = 1571;  // sin(t / 1000) is 1 to within 1e-7: the silhouette sinks 200, 50 below the lit copy
  TBackgroundRenderer background(16, Background);
  TSunRenderer sun(16, Sun);
  TBoatRenderer boat(16, 1000000, Boat);
  TWaterRenderer water(16, -3.5, Water);
  sun.Ticks = boat.Ticks = water.Ticks = FixedTick;
  background.Render();
  sun.Render();
  boat.Render();
  water.Render();
  EXPECT_DOUBLE_EQ(boat.X, -399.75);

  // Sun: both copies under one transform; the silhouette shows black below the lit copy,
  // except where the picture is transparent.
  const double t = static_cast<double>(gTick);
  const double sink = SunSink(t);
  ASSERT_GT(sink, 199.99);
  const TDesignPoint sunPivot = SunPivot(sink);
  auto sunPoint = [&](double sinkOfQuad, double u, double v) {
    return Rocked(At(SunQuad(sinkOfQuad), u, v), sunPivot, SunAngle(t), kSunScaleX, kSunScaleY);
  };
  const double strip = 0.5 * (SunQuad(sink).Bottom + SunQuad(kSunRestSink).Bottom);  // 655.77
  const double stripV = (strip - SunQuad(sink).Bottom) / (SunQuad(sink).Top - SunQuad(sink).Bottom);
  EXPECT_TRUE(PixelIs(sunPoint(sink, 0.5, stripV), kBlack));
  EXPECT_TRUE(PixelIs(sunPoint(sink, 0.1, stripV), kGrey));
  EXPECT_TRUE(PixelIs(sunPoint(kSunRestSink, 0.5, 0.5), kOrange));
  EXPECT_TRUE(PixelIs(sunPoint(kSunRestSink, 0.9, 0.05), kOrange));
  EXPECT_TRUE(PixelIs(sunPoint(kSunRestSink, 0.1, 0.5), kGrey));
  EXPECT_TRUE(PixelIs(sunPoint(sink, 0.5, -0.1), kGrey));

  // Boat: the first frame's quad at X = -400, shrunk and rocked about its pivot.
  const TDesignQuad boatQuad = BoatQuad(-400, 934, 762);
  const TDesignPoint boatPivot = BoatPivot(boatQuad, 934, 762);
  auto boatPoint = [&](double u, double v) {
    return Rocked(At(boatQuad, u, v), boatPivot, BoatAngle(t), kBoatScale, kBoatScale);
  };
  EXPECT_TRUE(PixelIs(boatPoint(0.4, 0.25), kBoatColours[0]));
  EXPECT_TRUE(PixelIs(boatPoint(0.8, 0.25), kBoatColours[1]));
  EXPECT_TRUE(PixelIs(boatPoint(0.4, 0.75), kBoatColours[2]));
  EXPECT_TRUE(PixelIs(boatPoint(0.8, 0.75), kBoatColours[3]));
  EXPECT_TRUE(PixelIs(boatPoint(0.8, 1.15), kGrey));

  // Water: the picture stretched from the bottom edge up to the line, nothing above it.
  const double topRow = (WaterTop(water.WaterLine) + 1) * 540;  // about 271
  EXPECT_NEAR(topRow, 270 + 540.0 / 550, 0.01);
  EXPECT_TRUE(PixelIs({1000, 0.25 * topRow}, kBlue));
  EXPECT_TRUE(PixelIs({1000, 0.75 * topRow}, kGreen));
  EXPECT_TRUE(PixelIs({1000, topRow - 2}, kGreen));
  EXPECT_TRUE(PixelIs({1000, topRow + 2}, kGrey));
}

TEST_F(HarbourScene, LitCopyCoversTheSilhouetteWhenTheSunIsAtRest) {
  gTick = 0;  // s = 150 and no rocking
  TBackgroundRenderer background(16, Background);
  TSunRenderer sun(16, Sun);
  sun.Ticks = FixedTick;
  background.Render();
  sun.Render();
  const TDesignPoint centre = Rocked(At(SunQuad(kSunRestSink), 0.6, 0.5), SunPivot(kSunRestSink), 0, kSunScaleX,
                                     kSunScaleY);
  EXPECT_TRUE(PixelIs(centre, kOrange));
  int black = 0;
  for (int y = 0; y < 1080; ++y) {
    if (SameColour(ReadPixel(static_cast<int>(centre.X), y), kBlack)) ++black;
  }
  EXPECT_EQ(black, 0);
}

TEST_F(HarbourScene, WaterStepsBeforeItDrawsAndShowsNothingAtOrBelowTheBottomEdge) {
  TBackgroundRenderer background(16, Background);
  TWaterRenderer water(16, -4.5, Water);
  water.Ticks = FixedTick;
  gTick = 0;
  background.Render();
  water.Render();
  EXPECT_TRUE(PixelIs({1000, 0}, kGrey));
  // A line on the bottom edge: the very first Render steps it (up by 1/550 at t = 1571,
  // down at t = 4712) and draws the stepped line, so rising shows one row of water and
  // sinking none.
  for (auto [tick, watered] : {std::pair{1571u, true}, std::pair{4712u, false}}) {
    SCOPED_TRACE(tick);
    gTick = tick;
    BeginTestFrame();
    TWaterRenderer edge(16, -4, Water);
    edge.Ticks = FixedTick;
    background.Render();
    edge.Render();
    EXPECT_EQ(edge.WaterLine, NextWaterLine(-4, tick));
    if (watered) {
      EXPECT_FALSE(PixelIs({1000, 0}, kGrey));
    } else {
      EXPECT_TRUE(PixelIs({1000, 0}, kGrey));
    }
    EXPECT_TRUE(PixelIs({1000, 1.5}, kGrey));
  }
}

TEST_F(HarbourScene, BoatCountIsComparedNeverAdvanced) {
  gTick = 0;
  SceneIndex = 16;
  const TDesignQuad quad = BoatQuad(-400, 934, 762);
  const TDesignPoint lowerRight =
      Rocked(At(quad, 0.8, 0.25), BoatPivot(quad, 934, 762), BoatAngle(0), kBoatScale, kBoatScale);
  // An end count above 0 is never reached: the boat draws every time.
  TBoatRenderer travelling(16, 3, Boat);
  travelling.Ticks = FixedTick;
  for (int frame = 0; frame < 5; ++frame) travelling.Render();
  EXPECT_EQ(SceneIndex, 16);
  EXPECT_EQ(travelling.Count, 0);
  EXPECT_DOUBLE_EQ(travelling.X, -400 + 5 * 0.25);
  EXPECT_TRUE(PixelIs(lowerRight, kBoatColours[1]));
  // An end count of 0 ends the scene in the first Render, which draws nothing.
  BeginTestFrame();
  TBoatRenderer ending(16, 0, Boat);
  ending.Ticks = FixedTick;
  ending.Render();
  EXPECT_EQ(SceneIndex, 17);
  EXPECT_DOUBLE_EQ(ending.X, -399.75);
  TRGBA pixel = ReadPixel(static_cast<int>(lowerRight.X), static_cast<int>(lowerRight.Y));
  EXPECT_TRUE(SameColour(pixel, kClear));
}

}  // namespace
