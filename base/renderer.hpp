// uRenderer: the contract between the engine and the scene renderers, the base most of them
// build on, the scene index they are drawn by and the design space the harbour scene is laid
// out in.
#pragma once

#include <cstdint>
#include <memory>

#include "base/dynarray.hpp"
#include "base/facts.hpp"

// The contract between the engine and every scene renderer. Update receives the duration
// of the frame being drawn in seconds; Render draws with GL into the current frame.
class IRenderer {
 public:
  virtual ~IRenderer() = default;
  virtual void Render() = 0;
  virtual void Update(double frameTime) = 0;
  virtual std::int32_t GetScene() = 0;
};

// What the scene renderers share: the scene they draw in and an Update with nothing to do
// (a renderer whose scene runs on the frame times overrides it).
class TSceneRenderer : public IRenderer {
 public:
  explicit TSceneRenderer(std::int32_t scene) : Scene(scene) {}
  void Update(double) override {}
  std::int32_t GetScene() override { return Scene; }

  std::int32_t Scene = 0;
};

using IRendererRef = std::shared_ptr<IRenderer>;
using IRendererDynArray = TDynArray<IRendererRef>;

// The scene being drawn; only the main thread reads or changes it, and only forwards.
extern std::int32_t SceneIndex;

// Advances the scene index by one, with the range check every increment gets.
void AdvanceSceneIndex();

// The fixed design space (origin lower left) of the sun, boat and scroller.
inline constexpr double kDesignWidth = kDesignWidthPixels;
inline constexpr double kDesignHeight = kDesignHeightPixels;
