// The command line and the banner.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "demo/entry.hpp"
#include "demo/greeting.hpp"
#include "scenes/background.hpp"
#include "scenes/boat.hpp"
#include "scenes/sun.hpp"
#include "scenes/voidrenderer.hpp"
#include "scenes/water.hpp"
#include "tests/support/fatal_expect.hpp"
#include "text/scroller.hpp"

namespace {

std::string Parse(std::vector<const char*> words) {
  std::string device = "default";
  words.insert(words.begin(), "kelvo");
  ParseDeviceArgument(device, words);
  return device;
}

TEST(DeviceArgument, TakesTheWordAfterTheOptionAndTheLastOneWins) {
  EXPECT_EQ(Parse({}), "default");
  EXPECT_EQ(Parse({"--device", "hw:1"}), "hw:1");
  EXPECT_EQ(Parse({"--device", "hw:1", "--other"}), "hw:1");
  EXPECT_EQ(Parse({"--device", "a", "--device", "b"}), "b");
  EXPECT_EQ(Parse({"--device", "--device", "x"}), "--device");
}

TEST(DeviceArgument, IgnoresWhatIsNotExactlyTheOptionWithAValue) {
  EXPECT_EQ(Parse({"--device"}), "default");
  EXPECT_EQ(Parse({"hw:1", "--device"}), "default");
  EXPECT_EQ(Parse({"--DEVICE", "hw:1"}), "default");
  EXPECT_EQ(Parse({"-device", "hw:1"}), "default");
  EXPECT_EQ(Parse({"--device=hw:1"}), "default");
}

TEST(DeviceArgument, TheProgramNameIsScannedToo) {
  std::string device = "default";
  std::vector<const char*> words = {"--device", "name-as-value"};
  ParseDeviceArgument(device, words);
  EXPECT_EQ(device, "name-as-value");
}

TEST(Banner, ElevenLinesStartingWithTheHint) {
  TChildOutcome outcome = RunInChild([] { WriteBanner(); });
  ASSERT_TRUE(outcome.Returned);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < outcome.Output.size()) {
    std::size_t end = outcome.Output.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "every banner line ends with a line feed";
    lines.push_back(outcome.Output.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "hint: --device <alsa device>");
  EXPECT_EQ(lines[2].rfind("  -> ", 0), 0u);
  for (int empty : {3, 7, 10}) EXPECT_EQ(lines[empty], "");
  EXPECT_EQ(lines[4].back(), ':');
  EXPECT_EQ(lines[5].rfind("    ", 0), 0u);
  EXPECT_EQ(lines[6].rfind("      -> ", 0), 0u);
  EXPECT_EQ(lines[8].rfind("    ", 0), 0u);
  EXPECT_EQ(lines[9].rfind("      -> ", 0), 0u);
}

// The scene table with its literal values: each renderer's class, scene and arguments in
// registration order (every texture stands in under the name it was asked for).
TEST(SceneTable, ThirtySevenRenderersInOrderWithTheirScenesAndArguments) {
  std::vector<std::string> asked;
  std::vector<IRendererRef> registered;
  TTextureAtlas atlas;
  atlas.TextureName = 77;
  AssembleScenes(TSceneHost{[&](std::string_view name) {
                              asked.emplace_back(name);
                              TTexture texture;
                              texture.Name = std::string(name);
                              return texture;
                            },
                            [&]() -> const TTextureAtlas& { return atlas; },
                            [&](IRendererRef renderer) { registered.push_back(std::move(renderer)); }});
  ASSERT_EQ(registered.size(), 37u);
  auto is = [&](std::size_t i, const std::type_info& type, std::int32_t scene) {
    ASSERT_EQ(typeid(*registered[i]), type) << "renderer " << i;
    EXPECT_EQ(registered[i]->GetScene(), scene) << "renderer " << i;
  };
  std::vector<std::string> names;
  for (std::int32_t page = 0; page < 16; ++page) {
    const std::string name = "arte" + std::to_string(page + 1);
    names.push_back(name);
    ASSERT_NO_FATAL_FAILURE(is(2 * page, typeid(TBackgroundRenderer), page));
    EXPECT_EQ(static_cast<TBackgroundRenderer&>(*registered[2 * page]).Texture.Name, name);
    ASSERT_NO_FATAL_FAILURE(is(2 * page + 1, typeid(TVoidRenderer), page));
    EXPECT_EQ(static_cast<TVoidRenderer&>(*registered[2 * page + 1]).Duration, 0.25);
  }
  ASSERT_NO_FATAL_FAILURE(is(32, typeid(TBackgroundRenderer), 16));
  EXPECT_EQ(static_cast<TBackgroundRenderer&>(*registered[32]).Texture.Name, "background");
  ASSERT_NO_FATAL_FAILURE(is(33, typeid(TSunRenderer), 16));
  EXPECT_EQ(static_cast<TSunRenderer&>(*registered[33]).Texture.Name, "sun");
  ASSERT_NO_FATAL_FAILURE(is(34, typeid(TBoatRenderer), 16));
  EXPECT_EQ(static_cast<TBoatRenderer&>(*registered[34]).Texture.Name, "boat");
  EXPECT_EQ(static_cast<TBoatRenderer&>(*registered[34]).EndCount, 1000000);
  ASSERT_NO_FATAL_FAILURE(is(35, typeid(TWaterRenderer), 16));
  EXPECT_EQ(static_cast<TWaterRenderer&>(*registered[35]).Texture.Name, "water");
  EXPECT_EQ(static_cast<TWaterRenderer&>(*registered[35]).WaterLine, -2.0);
  ASSERT_NO_FATAL_FAILURE(is(36, typeid(TScrollerRenderer), 16));
  const auto& scroller = static_cast<TScrollerRenderer&>(*registered[36]);
  EXPECT_EQ(scroller.Text, ToLatin1(GreetingText));
  EXPECT_EQ(scroller.Speed, 1);
  EXPECT_EQ(scroller.Atlas.TextureName, 77);
  for (const char* name : {"background", "sun", "boat", "water"}) names.emplace_back(name);
  EXPECT_EQ(asked, names);
}

}  // namespace
