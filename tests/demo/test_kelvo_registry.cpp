// The texture registry: keys, lookup order and the missing-name exit.
#include <gtest/gtest.h>

#include "demo/kelvo.hpp"
#include "tests/support/fatal_expect.hpp"

namespace {

TTexture Named(std::uint32_t id) {
  TTexture texture;
  texture.TextureID = id;
  return texture;
}

TEST(TextureKey, LowerCasesOnlyAToZAndCutsAt255Bytes) {
  EXPECT_EQ(TextureKey("ARTE1"), "arte1");
  EXPECT_EQ(TextureKey("Mixed_Case-9"), "mixed_case-9");
  EXPECT_EQ(TextureKey("\xC4\xE4@[`{"), "\xC4\xE4@[`{");
  EXPECT_EQ(TextureKey(std::string(300, 'Q')), std::string(255, 'q'));
}

TEST(TextureRegistry, RegistersWithoutThePrefixAndFindsInAnyCase) {
  TTextureRegistry registry;
  EXPECT_EQ(registry.Register("TEX_ARTE1", Named(1)), "arte1");
  EXPECT_EQ(registry.Register("TEX_BACKGROUND", Named(2)), "background");
  EXPECT_EQ(registry.Register("TEX_", Named(3)), "");
  EXPECT_EQ(registry.Get("arte1").TextureID, 1u);
  EXPECT_EQ(registry.Get("ARTE1").TextureID, 1u);
  EXPECT_EQ(registry.Get("Arte1").TextureID, 1u);
  EXPECT_EQ(registry.Get("BACKGROUND").TextureID, 2u);
  EXPECT_EQ(registry.Get("").TextureID, 3u);
}

TEST(TextureRegistry, TheFirstOfTwoEqualKeysWins) {
  TTextureRegistry registry;
  registry.Register("TEX_Boat", Named(7));
  registry.Register("TEX_BOAT", Named(8));
  EXPECT_EQ(registry.Count(), 2u);
  EXPECT_EQ(registry.Get("boat").TextureID, 7u);
}

TEST(TextureRegistry, CopiesShareThePixelBytes) {
  TTexture texture = Named(1);
  texture.Data = TUInt8DynArray::Zeroed(16);
  TTextureRegistry registry;
  registry.Register("TEX_SUN", texture);
  TTexture copy = registry.Get("sun");
  EXPECT_TRUE(copy.Data.SharesWith(texture.Data));
}

TEST(TextureRegistry, AMissingNameEndsWithStatus123) {
  TTextureRegistry registry;
  registry.Register("TEX_ARTE1", Named(1));
  EXPECT_FATAL(registry.Get("ARTE5"), 123, "[uKelvo] invalid GetTexture call: texture \"arte5\" not found!");
}

}  // namespace
