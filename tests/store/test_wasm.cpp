// The store's custom section in a WebAssembly module: found by its exact name among the
// module's sections (whatever their number and the width of their lengths), damaged
// modules refused without reading outside them, and the rewrite kelvo-res makes when it
// puts in or replaces the store (one store section, last; every other section kept).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "store/store.hpp"
#include "store/formats/wasm.hpp"

namespace {

void PutLength(std::vector<std::uint8_t>& out, std::uint32_t value, bool padded = false) {
  // padded: five bytes, as some linkers write lengths they fill in later.
  for (int i = 0; i < (padded ? 5 : 1) || value != 0; ++i) {
    const std::uint8_t more = (padded ? i < 4 : (value >> 7) != 0) ? 0x80 : 0;
    out.push_back(static_cast<std::uint8_t>((value & 0x7f) | more));
    value >>= 7;
    if (!padded && more == 0) break;
  }
}

void PutCustom(std::vector<std::uint8_t>& out, const std::string& name, const std::vector<std::uint8_t>& contents,
               bool padded = false) {
  std::vector<std::uint8_t> body;
  PutLength(body, static_cast<std::uint32_t>(name.size()));
  body.insert(body.end(), name.begin(), name.end());
  body.insert(body.end(), contents.begin(), contents.end());
  out.push_back(0);
  PutLength(out, static_cast<std::uint32_t>(body.size()), padded);
  out.insert(out.end(), body.begin(), body.end());
}

// A module with a type section, a custom section named like the store but longer, and the
// store's section last (as the web build appends it).
std::vector<std::uint8_t> Module(const std::vector<std::uint8_t>& store, bool padded = false) {
  std::vector<std::uint8_t> module = {0x00, 'a', 's', 'm', 0x01, 0x00, 0x00, 0x00};
  module.insert(module.end(), {0x01, 0x04, 0x01, 0x60, 0x00, 0x00});  // one type: () -> ()
  PutCustom(module, std::string(kStoreSectionName) + "x", {9, 9, 9});
  PutCustom(module, std::string(kStoreSectionName), store, padded);
  return module;
}

}  // namespace

TEST(WasmSection, IsFoundByItsExactNameAmongTheModulesSections) {
  std::vector<std::uint8_t> store(300, 0);  // a length of two LEB128 bytes
  for (std::size_t i = 0; i < store.size(); ++i) store[i] = static_cast<std::uint8_t>(i * 7);
  for (bool padded : {false, true}) {
    const std::vector<std::uint8_t> module = Module(store, padded);
    std::string error;
    ASSERT_TRUE(LooksLikeWasm(module));
    const auto found = FindStoreSection(module, error);
    ASSERT_TRUE(found.has_value()) << error;
    EXPECT_EQ(found->Size, store.size());
    EXPECT_EQ(found->Offset + found->Size, module.size());
    EXPECT_EQ(0, std::memcmp(module.data() + found->Offset, store.data(), store.size()));
    EXPECT_EQ(module[found->HeaderOffset], 0);
  }
  std::string error;
  std::vector<std::uint8_t> without = Module({1, 2, 3});
  without[without.size() - 4] = 'X';  // the store's name, last letter changed
  EXPECT_FALSE(FindWasmSection(without, kStoreSectionName, error));
  EXPECT_EQ(error, "no resource store in the executable");
}

TEST(WasmSection, DamagedModulesAreRefusedWithoutReadingOutsideThem) {
  const std::vector<std::uint8_t> module = Module({1, 2, 3, 4});
  std::string error;
  // Cut anywhere inside the last section: its length runs past the end.
  for (std::size_t cut = module.size() - 1; cut > module.size() - 16; --cut) {
    const std::vector<std::uint8_t> shorter(module.begin(), module.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(FindWasmSection(shorter, kStoreSectionName, error)) << cut;
  }
  // A name longer than its section, and a length that never ends.
  std::vector<std::uint8_t> longName = {0x00, 'a', 's', 'm', 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x09, 'k'};
  EXPECT_FALSE(FindWasmSection(longName, kStoreSectionName, error));
  EXPECT_EQ(error, "WebAssembly section name outside the file");
  // An empty custom section: its name's length must not be read from the next section.
  std::vector<std::uint8_t> empty = {0x00, 'a', 's', 'm', 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  PutCustom(empty, std::string(kStoreSectionName), {1, 2, 3});
  EXPECT_FALSE(FindWasmSection(empty, kStoreSectionName, error));
  EXPECT_EQ(error, "WebAssembly section name outside the file");
  std::vector<std::uint8_t> endless = {0x00, 'a', 's', 'm', 0x01, 0x00, 0x00, 0x00, 0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01};
  EXPECT_FALSE(FindWasmSection(endless, kStoreSectionName, error));
  EXPECT_EQ(error, "WebAssembly section outside the file");
  const std::vector<std::uint8_t> version2 = {0x00, 'a', 's', 'm', 0x02, 0x00, 0x00, 0x00};
  EXPECT_FALSE(LooksLikeWasm(version2));
}

TEST(WasmSection, ReplacingTheStoreKeepsEveryOtherSectionAndLeavesOneStore) {
  const std::vector<std::uint8_t> module = Module(std::vector<std::uint8_t>(200, 1), true);
  const std::vector<std::uint8_t> store(20000, 5);
  std::string error;
  const auto replaced = WithWasmSection(module, kStoreSectionName, store, error);
  ASSERT_TRUE(replaced.has_value()) << error;
  const auto found = FindStoreSection(*replaced, error);
  ASSERT_TRUE(found.has_value()) << error;
  EXPECT_EQ(found->Size, store.size());
  EXPECT_EQ(found->Offset + found->Size, replaced->size());
  // Everything before the old store's section is unchanged, and nothing of it is left.
  const std::size_t storeAt = module.size() - 200 - kStoreSectionName.size() - 1 - 5 - 1;
  EXPECT_TRUE(std::equal(module.begin(), module.begin() + static_cast<std::ptrdiff_t>(storeAt), replaced->begin()));
  EXPECT_EQ(replaced->size(), storeAt + 1 + 3 + 1 + kStoreSectionName.size() + store.size());
  const std::vector<std::uint8_t> truncated(module.begin(), module.end() - 1);
  EXPECT_FALSE(WithWasmSection(truncated, kStoreSectionName, store, error));
}
