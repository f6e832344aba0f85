// One frame's walk over the renderers, and the pauses that move the show on.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "demo/kelvo.hpp"
#include "scenes/voidrenderer.hpp"

namespace {

std::vector<std::string> Journal;

class TRecordingRenderer : public IRenderer {
 public:
  TRecordingRenderer(std::string name, std::int32_t scene) : Name(std::move(name)), Scene(scene) {}
  void Render() override { Journal.push_back(Name + ".Render"); }
  void Update(double frameTime) override { Journal.push_back(Name + ".Update(" + std::to_string(frameTime) + ")"); }
  std::int32_t GetScene() override {
    Journal.push_back(Name + ".GetScene");
    return Scene;
  }
  std::string Name;
  std::int32_t Scene;
};

// Advances the scene index in its Update, like a pause whose time is up.
class TAdvancingRenderer : public TRecordingRenderer {
 public:
  using TRecordingRenderer::TRecordingRenderer;
  void Update(double frameTime) override {
    TRecordingRenderer::Update(frameTime);
    AdvanceSceneIndex();
  }
};

// Registers a new renderer of its own scene while the frame is drawn.
class TRegisteringRenderer : public TRecordingRenderer {
 public:
  TRegisteringRenderer(std::string name, std::int32_t scene, IRendererDynArray& list)
      : TRecordingRenderer(std::move(name), scene), List(list) {}
  void Update(double frameTime) override {
    TRecordingRenderer::Update(frameTime);
    if (!Done) AppendRenderer(List, std::make_shared<TRecordingRenderer>("late", Scene));
    Done = true;
  }
  IRendererDynArray& List;
  bool Done = false;
};

class FrameWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    Journal.clear();
    SceneIndex = 0;
  }
  IRendererDynArray List;
  void Add(IRendererRef renderer) { AppendRenderer(List, std::move(renderer)); }
};

TEST_F(FrameWalk, UpdatesThenRendersTheCurrentSceneInRegistrationOrder) {
  Add(std::make_shared<TRecordingRenderer>("a", 0));
  Add(std::make_shared<TRecordingRenderer>("b", 1));
  Add(std::make_shared<TRecordingRenderer>("c", 0));
  DrawRenderers(List, 0.5);
  std::vector<std::string> expected = {"a.GetScene", "a.Update(0.500000)", "a.Render", "b.GetScene",
                                       "c.GetScene", "c.Update(0.500000)", "c.Render"};
  EXPECT_EQ(Journal, expected);
}

TEST_F(FrameWalk, ASceneChangeHandsTheRestOfTheFrameToTheNextScene) {
  Add(std::make_shared<TRecordingRenderer>("next-before", 1));
  Add(std::make_shared<TAdvancingRenderer>("pause", 0));
  Add(std::make_shared<TRecordingRenderer>("old-after", 0));
  Add(std::make_shared<TRecordingRenderer>("next-after", 1));
  DrawRenderers(List, 0.25);
  EXPECT_EQ(SceneIndex, 1);
  std::vector<std::string> expected = {"next-before.GetScene", "pause.GetScene", "pause.Update(0.250000)",
                                       "pause.Render", "old-after.GetScene", "next-after.GetScene",
                                       "next-after.Update(0.250000)", "next-after.Render"};
  EXPECT_EQ(Journal, expected);
}

TEST_F(FrameWalk, ARendererRegisteredMidFrameIsFirstVisitedNextFrame) {
  Add(std::make_shared<TRegisteringRenderer>("host", 0, List));
  DrawRenderers(List, 0.016);
  EXPECT_EQ(List.Length(), 2u);
  EXPECT_EQ(std::count(Journal.begin(), Journal.end(), "late.Render"), 0);
  DrawRenderers(List, 0.016);
  EXPECT_EQ(std::count(Journal.begin(), Journal.end(), "late.Render"), 1);
}

TEST_F(FrameWalk, NoRendererOrNoMatchingSceneDrawsNothing) {
  DrawRenderers(List, 0.016);
  Add(std::make_shared<TRecordingRenderer>("far", 7));
  DrawRenderers(List, 0.016);
  EXPECT_EQ(Journal, std::vector<std::string>{"far.GetScene"});
}

// Frames needed until a pause of the given duration moves the scene index on.
int FramesUntilAdvance(double duration, double frameTime) {
  SceneIndex = 0;
  IRendererDynArray list;
  AppendRenderer(list, std::make_shared<TVoidRenderer>(0, duration));
  for (int frame = 1; frame <= 100; ++frame) {
    DrawRenderers(list, frameTime);
    if (SceneIndex != 0) {
      EXPECT_EQ(SceneIndex, 1);
      return frame;
    }
  }
  return -1;
}

TEST_F(FrameWalk, APauseEndsOnceItsFrameTimesReachItsDuration) {
  EXPECT_EQ(FramesUntilAdvance(0.25, 0.125), 2);
  EXPECT_EQ(FramesUntilAdvance(0.25, 0.1), 3);
  EXPECT_EQ(FramesUntilAdvance(0.0, 0.016), 1);
  EXPECT_EQ(FramesUntilAdvance(-1.0, 0.016), 1);
  EXPECT_EQ(FramesUntilAdvance(0.25, 10.0), 1);
}

TEST_F(FrameWalk, ThePausesOfTheShowStepThroughEveryPictureOnce) {
  // Sixteen picture pages, as the entry assembles them; each frame's time is 0.1 s.
  for (int scene = 0; scene < 16; ++scene) {
    Add(std::make_shared<TRecordingRenderer>("picture" + std::to_string(scene), scene));
    Add(std::make_shared<TVoidRenderer>(scene, 0.25));
  }
  Add(std::make_shared<TRecordingRenderer>("harbour", 16));
  int frames = 0;
  while (SceneIndex < 16 && frames < 1000) {
    DrawRenderers(List, 0.1);
    ++frames;
  }
  EXPECT_EQ(SceneIndex, 16);
  // The first pause needs three frames; each later one already counts the frame of the
  // change, so it needs two more.
  EXPECT_EQ(frames, 3 + 15 * 2);
  for (int scene = 1; scene < 16; ++scene) {
    EXPECT_NE(std::find(Journal.begin(), Journal.end(), "picture" + std::to_string(scene) + ".Render"), Journal.end());
  }
  // In the frame of the last change the harbour is drawn already.
  EXPECT_EQ(Journal.back(), "harbour.Render");
}

}  // namespace
