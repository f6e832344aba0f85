// uEntry: banner, command line and scene assembly (see entry.hpp).
#include "demo/entry.hpp"

#include <memory>
#include <string_view>
#include <utility>

#include "demo/greeting.hpp"
#include "demo/kelvo.hpp"
#include "platform/system.hpp"
#include "scenes/background.hpp"
#include "scenes/boat.hpp"
#include "scenes/sun.hpp"
#include "scenes/voidrenderer.hpp"
#include "scenes/water.hpp"
#include "text/scroller.hpp"

void WriteBanner() {
  WriteLine("hint: --device <" + std::string(kDeviceHint) + ">");
  WriteLine("tessic - a harbour demo by ombrel");
  WriteLine("  -> source: the kelvo project (no public repository yet)");
  WriteLine("");
  WriteLine("this demo incorporates the following outside units and libraries:");
  WriteLine("    FreeType, the font rendering library by the FreeType Project");
  WriteLine("      -> https://freetype.org");
  WriteLine("");
  if (!kSoundLibraryCredit.empty()) {
    for (std::string_view rest = kSoundLibraryCredit;;) {
      const std::size_t end = rest.find('\n');
      WriteLine(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    WriteLine("");
  }
}

void ParseDeviceArgument(std::string& deviceName, std::span<const char* const> arguments) {
  int skip = 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (skip > 0) {
      --skip;
      continue;
    }
    if (std::string_view(arguments[i]) == "--device" && i + 1 < arguments.size()) {
      deviceName = arguments[i + 1];
      skip = 1;
    }
  }
}

void AssembleScenes(TKelvo& kelvo) {
  AssembleScenes(TSceneHost{[&kelvo](std::string_view name) { return kelvo.GetTexture(name); },
                            [&kelvo]() -> const TTextureAtlas& { return kelvo.FontAtlas; },
                            [&kelvo](IRendererRef renderer) { kelvo.RegisterRenderer(std::move(renderer)); }});
}

void AssembleScenes(const TSceneHost& host) {
  std::int32_t scene = 0;
  for (int page = 1; page <= kPictureCount; ++page) {
    host.RegisterRenderer(std::make_shared<TBackgroundRenderer>(scene, host.GetTexture("arte" + std::to_string(page))));
    host.RegisterRenderer(std::make_shared<TVoidRenderer>(scene, kPictureSeconds));
    ++scene;
  }
  host.RegisterRenderer(std::make_shared<TBackgroundRenderer>(scene, host.GetTexture("background")));
  host.RegisterRenderer(std::make_shared<TSunRenderer>(scene, host.GetTexture("sun")));
  host.RegisterRenderer(std::make_shared<TBoatRenderer>(scene, 1000000, host.GetTexture("boat")));
  host.RegisterRenderer(std::make_shared<TWaterRenderer>(scene, -2.0, host.GetTexture("water")));
  host.RegisterRenderer(std::make_shared<TScrollerRenderer>(scene, ToLatin1(GreetingText), 1, host.FontAtlas()));
}
