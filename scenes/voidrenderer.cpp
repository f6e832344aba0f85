// uVoidRenderer: the timed pause between pictures (see voidrenderer.hpp).
#include "scenes/voidrenderer.hpp"

TVoidRenderer::TVoidRenderer(std::int32_t scene, double duration) : TSceneRenderer(scene), Duration(duration) {}

void TVoidRenderer::Render() {}

// Reaching the duration exactly ends the scene. The renderer never acts twice: once the
// scene index has moved on, it is no longer called.
void TVoidRenderer::Update(double frameTime) {
  Elapsed += frameTime;
  if (Elapsed >= Duration) AdvanceSceneIndex();
}

