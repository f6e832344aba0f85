// The command line and the banner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo/entry.hpp"
#include "tests/support/fatal_expect.hpp"

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

}  // namespace
