// uKelvo: the engine. Owns the window, the texture registry, the font atlas, the song, the
// audio player and the scene renderers; loads every embedded resource (Init) and runs the
// frame loop (Run) until Escape, a close request, the window's destruction or the 86th
// frame-rate report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/alsa.hpp"
#include "audio/wav.hpp"
#include "display/bmp.hpp"
#include "display/glx.hpp"
#include "base/renderer.hpp"
#include "store/store.hpp"
#include "text/font.hpp"

// True for the entries the engine loads as pictures (their names begin with "TEX_").
bool IsPictureEntry(std::string_view name);

// Lower-cases the letters A to Z only, cut to 255 bytes.
std::string TextureKey(std::string_view name);

// The pictures by name, in insertion order; the first matching key wins.
class TTextureRegistry {
 public:
  // Registers under the name without its first four characters ("TEX_"), lower-cased;
  // returns the key.
  std::string Register(std::string_view resourceName, const TTexture& texture);
  // The texture under the lower-cased name, or nothing.
  const TTexture* Find(std::string_view name) const;
  // A copy of the texture under the lower-cased name; a name never registered ends the demo
  // with "[uKelvo] invalid GetTexture call: ..." and status 123.
  TTexture Get(std::string_view name) const;
  std::size_t Count() const { return Pairs.size(); }

 private:
  std::vector<std::pair<std::string, TTexture>> Pairs;
};

// Appends a renderer to a list: a new array one longer, so a walk over the old array
// (a frame being drawn) does not see it.
void AppendRenderer(IRendererDynArray& renderers, IRendererRef renderer);

// Walks the renderers in order and updates and draws each whose scene is the scene index,
// reading the index afresh for every renderer.
void DrawRenderers(const IRendererDynArray& renderers, double frameTime);

class TKelvo {
 public:
  explicit TKelvo(std::string_view deviceName);
  TKelvo(const TKelvo&) = delete;
  TKelvo& operator=(const TKelvo&) = delete;

  void Init();
  void RegisterTexture(std::string_view name, const TTexture& texture);
  TTexture GetTexture(std::string_view name);
  void RegisterRenderer(IRendererRef renderer);
  void RenderFrame();
  [[noreturn]] void Run();

  TKelvoDisplay Display;
  TTextureRegistry Textures;
  TTextureAtlas FontAtlas;
  std::unique_ptr<TWAV> Song;
  std::string DeviceName;
  std::unique_ptr<TALSA> Audio;
  double FrameTime = 0;
  IRendererDynArray Renderers;
  bool Initialized = false;
};
