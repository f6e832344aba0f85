// The store's section in a Windows executable: found by its exact name in a PE32+ image,
// damaged images refused without reading outside them, and the rewrite kelvo-res makes
// when it replaces the store (the loader's sizes follow, nothing else moves).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/build.hpp"
#include "store/pe.hpp"
#include "store/store.hpp"

namespace {

constexpr std::size_t kPeHeader = 0x80;
constexpr std::size_t kOptional = kPeHeader + 24;
constexpr std::size_t kOptionalSize = 240;  // PE32+ with 16 data directories
constexpr std::size_t kSections = kOptional + kOptionalSize;

template <class T>
void Poke(std::vector<std::uint8_t>& image, std::size_t offset, T value) {
  std::memcpy(image.data() + offset, &value, sizeof value);
}
template <class T>
T Peek(const std::vector<std::uint8_t>& image, std::size_t offset) {
  T value;
  std::memcpy(&value, image.data() + offset, sizeof value);
  return value;
}

// A PE32+ image as the linker and objcopy lay it out: ".text" of 0x200 bytes at file
// offset 0x400, then the store's section with contents at 0x600, file alignment 0x200,
// section alignment 0x1000.
std::vector<std::uint8_t> Image(const std::vector<std::uint8_t>& store, const char* storeName = ".kelvo") {
  std::vector<std::uint8_t> image(0x600, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Poke<std::uint32_t>(image, 0x3C, kPeHeader);
  std::memcpy(image.data() + kPeHeader, "PE\0\0", 4);
  Poke<std::uint16_t>(image, kPeHeader + 4, 0x8664);
  Poke<std::uint16_t>(image, kPeHeader + 6, 2);
  Poke<std::uint16_t>(image, kPeHeader + 20, kOptionalSize);
  Poke<std::uint16_t>(image, kOptional, 0x20B);
  Poke<std::uint32_t>(image, kOptional + 32, 0x1000);
  Poke<std::uint32_t>(image, kOptional + 36, 0x200);
  Poke<std::uint32_t>(image, kOptional + 108, 16);
  auto section = [&](std::size_t index, const char* name, std::uint32_t virtualSize, std::uint32_t address,
                     std::uint32_t rawSize, std::uint32_t rawAt) {
    const std::size_t at = kSections + index * 40;
    std::memcpy(image.data() + at, name, std::strlen(name));
    Poke(image, at + 8, virtualSize);
    Poke(image, at + 12, address);
    Poke(image, at + 16, rawSize);
    Poke(image, at + 20, rawAt);
  };
  section(0, ".text", 0x1F0, 0x1000, 0x200, 0x400);
  std::memset(image.data() + 0x400, 0xC3, 0x200);
  const auto raw = static_cast<std::uint32_t>((store.size() + 0x1FF) / 0x200 * 0x200);
  section(1, storeName, static_cast<std::uint32_t>(store.size()), 0x2000, raw, 0x600);
  const auto pages = (static_cast<std::uint32_t>(store.size()) + 0xFFF) / 0x1000;
  Poke<std::uint32_t>(image, kOptional + 56, 0x2000 + pages * 0x1000);
  image.insert(image.end(), store.begin(), store.end());
  image.resize(0x600 + raw, 0);
  return image;
}

std::vector<std::uint8_t> Blob(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
  return bytes;
}

TEST(PeSection, IsFoundByItsExactNameAndSizedByItsContents) {
  const auto store = Blob(1000);
  const auto image = Image(store);
  std::string error;
  auto found = FindPeSection(image, kStorePeSectionName, error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->Offset, 0x600u);
  EXPECT_EQ(found->Size, 1000u);  // not the raw size, padded to 0x400
  EXPECT_EQ(found->HeaderOffset, kSections + 40);
  EXPECT_TRUE(FindPeSection(image, ".text", error));
  // The store of a Windows executable is found as a Linux one's is.
  found = FindStoreSection(image, error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->Offset, 0x600u);

  // A name that only begins or ends like the store's is another section.
  EXPECT_FALSE(FindPeSection(Image(store, ".kelvoX"), kStorePeSectionName, error));
  EXPECT_EQ(error, "no resource store in the executable");
  EXPECT_FALSE(FindPeSection(Image(store, ".kelv"), kStorePeSectionName, error));
  EXPECT_FALSE(FindPeSection(image, ".kelvores", error));  // longer than a PE name can be
  EXPECT_EQ(error, "no resource store in the executable");
}

TEST(PeSection, DamagedImagesAreRefusedWithoutReadingOutsideThem) {
  const auto good = Image(Blob(1000));
  auto expectBad = [](std::vector<std::uint8_t> image, const std::string& why) {
    std::string error;
    // A copy of exactly the image's size, so a read past its end is caught by the sanitizers.
    EXPECT_FALSE(FindPeSection(image, kStorePeSectionName, error)) << why;
    EXPECT_EQ(error, why);
  };
  auto image = good;
  Poke<std::uint32_t>(image, 0x3C, static_cast<std::uint32_t>(good.size() - 10));
  expectBad(image, "PE header outside the file");
  image = good;
  Poke<std::uint32_t>(image, 0x3C, 0xFFFFFFF0u);
  expectBad(image, "PE header outside the file");
  expectBad(std::vector<std::uint8_t>(good.begin(), good.begin() + 0x40), "PE header outside the file");
  image = good;
  image[kPeHeader + 1] = 'X';
  expectBad(image, "not a PE file");
  image = good;
  Poke<std::uint16_t>(image, kOptional, 0x10B);
  expectBad(image, "not a 64-bit (PE32+) executable");
  image = good;
  Poke<std::uint16_t>(image, kPeHeader + 20, 0xFFFF);
  expectBad(image, "PE optional header outside the file");
  image = good;
  Poke<std::uint16_t>(image, kPeHeader + 6, 0xFFFF);
  expectBad(image, "PE section headers outside the file");
  image = good;
  Poke<std::uint32_t>(image, kSections + 40 + 20, static_cast<std::uint32_t>(good.size() - 100));
  expectBad(image, "resource store section outside the file");
  image = good;
  Poke<std::uint32_t>(image, kSections + 40 + 20, 0xFFFFFF00u);
  expectBad(image, "resource store section outside the file");
  expectBad(std::vector<std::uint8_t>(good.begin(), good.end() - 0x200), "resource store section outside the file");
  image = good;
  Poke<std::uint16_t>(image, kPeHeader + 6, 1);
  expectBad(image, "no resource store in the executable");
}

TEST(PeSection, IsAddedAfterTheLastSectionWhereTheLoaderExpectsIt) {
  const auto store = Blob(1000);
  const auto expected = Image(store);
  // The same image as linked: one section, no store.
  auto bare = std::vector<std::uint8_t>(expected.begin(), expected.begin() + 0x600);
  Poke<std::uint16_t>(bare, kPeHeader + 6, 1);
  std::memset(bare.data() + kSections + 40, 0, 40);
  Poke<std::uint32_t>(bare, kOptional + 56, 0x2000);
  Poke<std::uint32_t>(bare, kOptional + 60, 0x400);  // the headers end where .text begins
  std::string error;
  auto added = AddPeSection(bare, kStorePeSectionName, store, error);
  ASSERT_TRUE(added) << error;
  ASSERT_EQ(added->size(), expected.size());
  EXPECT_EQ(Peek<std::uint16_t>(*added, kPeHeader + 6), 2u);
  for (std::size_t field = 0; field < 24; field += 4) {  // name, sizes, addresses
    const std::size_t at = kSections + 40 + field;
    EXPECT_EQ(Peek<std::uint32_t>(*added, at), Peek<std::uint32_t>(expected, at)) << field;
  }
  EXPECT_EQ(Peek<std::uint32_t>(*added, kOptional + 56), Peek<std::uint32_t>(expected, kOptional + 56));
  EXPECT_TRUE(std::equal(expected.begin() + 0x400, expected.end(), added->begin() + 0x400));
  auto found = FindStoreSection(*added, error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->Size, store.size());

  EXPECT_FALSE(AddPeSection(*added, kStorePeSectionName, store, error));
  EXPECT_EQ(error, "the executable has a section .kelvo already");
  Poke<std::uint32_t>(bare, kOptional + 60, static_cast<std::uint32_t>(kSections + 40 + 20));
  EXPECT_FALSE(AddPeSection(bare, kStorePeSectionName, store, error));
  EXPECT_EQ(error, "no room for another section header");
}

TEST(PeSection, ReplacingTheStoreResizesTheLastSectionAndKeepsTheRest) {
  std::string error;
  auto blob = BuildStore({TStoreInput{"SONG", std::vector<std::uint8_t>(5000, 7)}}, error);
  ASSERT_EQ(error, "");
  const auto image = Image(blob);
  auto section = FindPeSection(image, kStorePeSectionName, error);
  ASSERT_TRUE(section) << error;
  const auto bigger = BuildStore({TStoreInput{"FONT", Blob(0x2000)}, TStoreInput{"SONG", Blob(0x100)}}, error);
  ASSERT_EQ(error, "");
  auto rewritten = ReplacePeSection(image, *section, bigger, error);
  ASSERT_TRUE(rewritten) << error;
  const std::uint32_t raw = static_cast<std::uint32_t>((bigger.size() + 0x1FF) / 0x200 * 0x200);
  EXPECT_EQ(rewritten->size(), 0x600u + raw);
  auto found = FindStoreSection(*rewritten, error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->Size, bigger.size());
  auto parsed = ParseStore(std::span<const std::uint8_t>(*rewritten).subspan(found->Offset, found->Size));
  ASSERT_TRUE(parsed.Ok()) << parsed.Error;
  EXPECT_EQ(parsed.Entries.size(), 2u);
  EXPECT_TRUE(std::equal(bigger.begin(), bigger.end(), rewritten->begin() + 0x600));
  EXPECT_EQ(Peek<std::uint32_t>(*rewritten, kSections + 40 + 16), raw);
  EXPECT_EQ(Peek<std::uint32_t>(*rewritten, kOptional + 56), 0x2000u + (bigger.size() + 0xFFF) / 0x1000 * 0x1000);
  EXPECT_TRUE(std::equal(image.begin() + 0x400, image.begin() + 0x600, rewritten->begin() + 0x400));  // the code
  EXPECT_EQ(Peek<std::uint32_t>(*rewritten, kOptional + 64), 0u);  // no checksum stays none

  // A checksum present is made anew, as the loader computes it.
  auto summed = image;
  Poke<std::uint32_t>(summed, kOptional + 64, 1);
  rewritten = ReplacePeSection(summed, *section, bigger, error);
  ASSERT_TRUE(rewritten) << error;
  EXPECT_EQ(Peek<std::uint32_t>(*rewritten, kOptional + 64), PeChecksum(*rewritten, kOptional + 64));
  EXPECT_NE(PeChecksum(*rewritten, kOptional + 64), PeChecksum(summed, kOptional + 64));

  // What cannot be rewritten in place is refused: data behind the store, a section behind
  // it, a signature.
  auto trailing = image;
  trailing.push_back(1);
  EXPECT_FALSE(ReplacePeSection(trailing, *section, bigger, error));
  EXPECT_EQ(error, "data lies behind the resource store; cannot rewrite this file");
  auto text = FindPeSection(image, ".text", error);
  ASSERT_TRUE(text);
  EXPECT_FALSE(ReplacePeSection(image, *text, bigger, error));
  EXPECT_EQ(error, "a section lies behind the resource store; cannot rewrite this file");
  auto signedImage = image;
  Poke<std::uint32_t>(signedImage, kOptional + 112 + 4 * 8 + 4, 0x100);
  EXPECT_FALSE(ReplacePeSection(signedImage, *section, bigger, error));
  EXPECT_EQ(error, "the executable is signed; its resource store cannot be rewritten");
}

}  // namespace
