// uEntry: banner, command line and scene assembly (see entry.hpp).
#include "demo/entry.hpp"

#include <memory>
#include <string_view>

#include "demo/greeting.hpp"
#include "demo/kelvo.hpp"
#include "scenes/background.hpp"
#include "scenes/boat.hpp"
#include "scenes/sun.hpp"
#include "scenes/voidrenderer.hpp"
#include "scenes/water.hpp"
#include "text/scroller.hpp"

void WriteBanner() {
  WriteLine("hint: --device <alsa device>");
  WriteLine("tessic - a harbour demo by ombrel");
  WriteLine("  -> source: the kelvo project (no public repository yet)");
  WriteLine("");
  WriteLine("this demo incorporates the following outside units and libraries:");
  WriteLine("    FreeType, the font rendering library by the FreeType Project");
  WriteLine("      -> https://freetype.org");
  WriteLine("");
  WriteLine("    alsa-lib, the Advanced Linux Sound Architecture library by the ALSA project");
  WriteLine("      -> https://www.alsa-project.org");
  WriteLine("");
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
  std::int32_t scene = 0;
  for (int page = 1; page <= kPictureCount; ++page) {
    kelvo.RegisterRenderer(
        std::make_shared<TBackgroundRenderer>(scene, kelvo.GetTexture("arte" + std::to_string(page))));
    kelvo.RegisterRenderer(std::make_shared<TVoidRenderer>(scene, kPictureSeconds));
    ++scene;
  }
  kelvo.RegisterRenderer(std::make_shared<TBackgroundRenderer>(scene, kelvo.GetTexture("background")));
  kelvo.RegisterRenderer(std::make_shared<TSunRenderer>(scene, kelvo.GetTexture("sun")));
  kelvo.RegisterRenderer(std::make_shared<TBoatRenderer>(scene, 1000000, kelvo.GetTexture("boat")));
  kelvo.RegisterRenderer(std::make_shared<TWaterRenderer>(scene, -2.0, kelvo.GetTexture("water")));
  kelvo.RegisterRenderer(
      std::make_shared<TScrollerRenderer>(scene, ToLatin1(GreetingText), 1, kelvo.FontAtlas));
}
