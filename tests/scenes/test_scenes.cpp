// Tests of the harbour renderers' arithmetic, without GL: the sun's sink, angle, quad and
// pivot; the boat's quad, bob, pivot and angle and its end of scene; the water line's step.
// Expected values are worked out by hand from the scene's geometry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "scenes/boat.hpp"
#include "scenes/sun.hpp"
#include "scenes/water.hpp"

namespace {

constexpr double kPi = std::numbers::pi;

TEST(SunArithmetic, SinkFollowsTheSlowSineBetween100And200) {
  EXPECT_DOUBLE_EQ(SunSink(0), 150);
  EXPECT_NEAR(SunSink(1000 * kPi / 2), 200, 1e-9);
  EXPECT_NEAR(SunSink(1000 * 3 * kPi / 2), 100, 1e-9);
  EXPECT_NEAR(SunSink(1000 * 2 * kPi), 150, 1e-9);  // period 2 pi seconds
}

TEST(SunArithmetic, AngleRocksTenDegreesEachWay) {
  EXPECT_DOUBLE_EQ(SunAngle(0), 0);
  EXPECT_NEAR(SunAngle(400 * kPi / 2), 10, 1e-9);
  EXPECT_NEAR(SunAngle(400 * 3 * kPi / 2), -10, 1e-9);
  double low = 0, high = 0;
  for (double t = 0; t < 5000; t += 7) {
    low = std::min(low, SunAngle(t));
    high = std::max(high, SunAngle(t));
  }
  EXPECT_GE(low, -10);
  EXPECT_LE(high, 10);
  EXPECT_LT(low, -9.9);
  EXPECT_GT(high, 9.9);
}

TEST(SunArithmetic, QuadAndPivotAtRestAndAtTheExtremes) {
  // At s = 150: x from 1920/1.3 - 100 = 1376.92 to 1820, y from 1080/1.3 - 150 = 680.77 to 930.
  TDesignQuad rest = SunQuad(150);
  EXPECT_NEAR(rest.Left, 1376.923, 1e-3);
  EXPECT_DOUBLE_EQ(rest.Right, 1820);
  EXPECT_NEAR(rest.Bottom, 680.769, 1e-3);
  EXPECT_DOUBLE_EQ(rest.Top, 930);
  // Pivot x = 1920/1.3 + (1920 - 1920/1.3)/4 = 1587.69; y at the quad's vertical centre.
  TDesignPoint pivot = SunPivot(150);
  EXPECT_NEAR(pivot.X, 1587.692, 1e-3);
  EXPECT_NEAR(pivot.Y, 805.385, 1e-3);
  for (double sink : {100.0, 200.0}) {
    TDesignQuad quad = SunQuad(sink);
    EXPECT_NEAR(quad.Top - quad.Bottom, 249.231, 1e-3);
    EXPECT_NEAR(quad.Right - quad.Left, 443.077, 1e-3);
    EXPECT_DOUBLE_EQ(SunPivot(sink).X, pivot.X);
    EXPECT_NEAR(SunPivot(sink).Y, 0.5 * (quad.Bottom + quad.Top), 1e-9);
  }
  EXPECT_NEAR(SunQuad(200).Bottom, 630.769, 1e-3);
  EXPECT_NEAR(SunPivot(200).Y, 755.385, 1e-3);
}

TEST(BoatArithmetic, FirstFrameQuadPivotAndShrunkExtent) {
  // The 934 x 762 boat picture at X = -400: top edge 480 + 3 sin(-80) = 482.98.
  TDesignQuad quad = BoatQuad(-400, 934, 762);
  EXPECT_DOUBLE_EQ(quad.Left, -400);
  EXPECT_DOUBLE_EQ(quad.Right, 534);
  EXPECT_NEAR(quad.Top, 482.9816, 1e-4);
  EXPECT_NEAR(quad.Bottom, 482.9816 - 762, 1e-4);
  TDesignPoint pivot = BoatPivot(quad, 934, 762);
  EXPECT_DOUBLE_EQ(pivot.X, 67);
  EXPECT_NEAR(pivot.Y, 482.9816 + 381, 1e-4);
  // Shrunk to 0.45 about the pivot: -143.15 to 277.15 across; at the bob's centre (top 480)
  // 346.65 to 689.55 in height.
  EXPECT_NEAR(pivot.X + kBoatScale * (quad.Left - pivot.X), -143.15, 1e-9);
  EXPECT_NEAR(pivot.X + kBoatScale * (quad.Right - pivot.X), 277.15, 1e-9);
  TDesignQuad centred = BoatQuad(0, 934, 762);
  TDesignPoint q = BoatPivot(centred, 934, 762);
  EXPECT_DOUBLE_EQ(centred.Top, 480);
  EXPECT_NEAR(q.Y + kBoatScale * (centred.Bottom - q.Y), 346.65, 1e-9);
  EXPECT_NEAR(q.Y + kBoatScale * (centred.Top - q.Y), 689.55, 1e-9);
}

TEST(BoatArithmetic, BobDependsOnlyOnXWithAPeriodOfTenPiPixels) {
  EXPECT_DOUBLE_EQ(BoatTop(0), 480);
  EXPECT_NEAR(BoatTop(5 * kPi / 2), 483, 1e-9);
  EXPECT_NEAR(BoatTop(5 * 3 * kPi / 2), 477, 1e-9);
  EXPECT_NEAR(BoatTop(-400 + 10 * kPi), BoatTop(-400), 1e-9);
  EXPECT_DOUBLE_EQ(BoatStep(1), 0.25);
}

TEST(BoatArithmetic, AngleStaysBetweenZeroAndTen) {
  EXPECT_DOUBLE_EQ(BoatAngle(0), 5);
  EXPECT_NEAR(BoatAngle(200 * kPi / 2), 10, 1e-9);
  EXPECT_NEAR(BoatAngle(200 * 3 * kPi / 2), 0, 1e-9);
  for (double t = 0; t < 3000; t += 3) {
    ASSERT_GE(BoatAngle(t), 0) << t;
    ASSERT_LE(BoatAngle(t), 10) << t;
  }
}

TEST(BoatRenderer, EndCountZeroEndsTheSceneInTheFirstRenderAfterTheStep) {
  // This Render makes no GL call, so it runs without a context.
  SceneIndex = 16;
  TBoatRenderer boat(16, 0, TTexture{});
  boat.Render();
  EXPECT_EQ(SceneIndex, 17);
  EXPECT_DOUBLE_EQ(boat.X, -399.75);
  EXPECT_EQ(boat.Count, 0);
  EXPECT_EQ(boat.GetScene(), 16);
}

TEST(WaterArithmetic, FirstStepStaysWithinOneFiveHundredFiftiethOfTheTop) {
  for (double t = 0; t < 7000; t += 13) {
    double top = WaterTop(NextWaterLine(-2, t));
    ASSERT_LE(std::abs(top - 1), 1.0 / 550 + 1e-15) << t;
  }
  EXPECT_NEAR(NextWaterLine(-2, 1000 * kPi / 2), -2 + 1.0 / 550, 1e-12);
  EXPECT_NEAR(NextWaterLine(-2, 1000 * 3 * kPi / 2), -2 - 1.0 / 550, 1e-12);
}

TEST(WaterArithmetic, NoStepWhereTheSineIsZero) {
  EXPECT_EQ(NextWaterLine(-2, 0), -2);
  EXPECT_EQ(NextWaterLine(-2.5, 0), -2.5);
  EXPECT_EQ(WaterTop(-2.5), 0.5);
}

TEST(WaterArithmetic, SwingsWithoutDriftAtASteadyFrameRate) {
  // 16 ms frames (62.5 per second) over one full period of 2 pi seconds from t = 0: the line
  // swings over about 62.5 / 550 * 2 = 0.227 and comes back to where it started.
  double line = -2, low = line, high = line;
  std::uint64_t t = 0;
  for (; t <= 6284; t += 16) {
    line = NextWaterLine(line, static_cast<double>(t));
    low = std::min(low, line);
    high = std::max(high, line);
  }
  EXPECT_NEAR(high - low, 62.5 / 550 * 2, 0.005);
  EXPECT_NEAR(line, -2, 0.005);
  EXPECT_GT(high, -2 + 0.2);  // rises first: the sine is positive for the first pi seconds
}

}  // namespace
