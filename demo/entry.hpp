// uEntry: the program's running order: the banner, the --device option, and the fixed
// assembly of the 37 scene renderers.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/renderer.hpp"
#include "display/bmp.hpp"
#include "text/font.hpp"

class TKelvo;

// Writes the eleven banner lines.
void WriteBanner();

// Scans the command line (program name first): "--device X" makes X the device name; the
// last one wins; a value is never itself taken for an option; "--device" as the last word
// and every other word are ignored.
void ParseDeviceArgument(std::string& deviceName, std::span<const char* const> arguments);

// The opening: scenes 0 to 15 each show one picture for this long (their pause renderers'
// duration); scene 16, the harbour, follows.
inline constexpr std::int32_t kPictureCount = 16;
inline constexpr double kPictureSeconds = 0.25;

// Creates and registers the renderers of scenes 0 to 16 in their fixed order.
void AssembleScenes(TKelvo& kelvo);

// What the scene table is built from and handed to: the textures by name, the font atlas
// (read when the scroller is made) and the list the renderers are registered with, in order.
struct TSceneHost {
  std::function<TTexture(std::string_view name)> GetTexture;
  std::function<const TTextureAtlas&()> FontAtlas;
  std::function<void(IRendererRef renderer)> RegisterRenderer;
};
void AssembleScenes(const TSceneHost& host);
