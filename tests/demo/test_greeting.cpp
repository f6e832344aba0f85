// Tests of the greeting text: its length, its character set and its one-byte form as the
// scroller receives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "demo/greeting.hpp"

namespace {

TEST(GreetingText, Has435CharactersFromTheScrollersSet) {
  const std::wstring text = GreetingText;
  EXPECT_EQ(text.size(), 435u);
  EXPECT_EQ(std::wcslen(GreetingText), 435u);
  const std::wstring allowed = L" !(),-.3:ST_abcdefghijklmnoprstuvwy\u00e4";
  for (std::size_t i = 0; i < text.size(); ++i) {
    EXPECT_NE(allowed.find(text[i]), std::wstring::npos)
        << "character " << static_cast<unsigned>(text[i]) << " at " << i << " is not in the set";
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\u00e4'), 3);
  EXPECT_EQ(text.find(L"  "), std::wstring::npos) << "double space";
}

TEST(GreetingText, BecomesOneLatin1BytePerCharacter) {
  const std::string bytes = ToLatin1(GreetingText);
  ASSERT_EQ(bytes.size(), 435u);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\xE4'), 3);
  const std::wstring text = GreetingText;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    EXPECT_EQ(static_cast<unsigned char>(bytes[i]), static_cast<unsigned>(text[i])) << "at " << i;
  }
  EXPECT_EQ(ToLatin1(L"a\u00e4\u20ac\u00ff"), std::string("a\xE4?\xFF"));
}

}  // namespace
