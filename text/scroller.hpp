// uScroller: the renderer that scrolls one line of text from right to left across the
// harbour scene, one textured quad per character cut out of the font atlas, ten design
// units per drawn frame, until the last character has left the picture. Depends on uFont,
// uShared, GL.
#pragma once

#include <cstdint>
#include <string>

#include "engine/shared.hpp"
#include "text/font.hpp"

class TScrollerRenderer : public IRenderer {
 public:
  TScrollerRenderer(std::int32_t scene, std::string text, std::int64_t speed, TTextureAtlas atlas);
  void Render() override;
  void Update(double frameTime) override;
  std::int32_t GetScene() override;

  // Shared by every scroller of the process: once set, no scroller draws again.
  static bool Finished;

  TTextureAtlas Atlas;
  std::int64_t Offset = 2160;
  std::int32_t Scene = 0;
  std::string Text;
  std::int64_t Speed = 0;
};
