// uRenderer: the scene index (see renderer.hpp).
#include "base/renderer.hpp"

#include <cstdint>

std::int32_t SceneIndex = 0;

void AdvanceSceneIndex() {
  if (SceneIndex == INT32_MAX) RangeError();
  ++SceneIndex;
}
