// The resource store: packing and parsing, corrupt stores, the ELF section search, the
// store embedded in the built demo, and the kelvo-res tool's round trip.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "store/build.hpp"
#include "store/elf.hpp"
#include "store/store.hpp"
#include "tests/support/files.hpp"
#include "tests/support/pictures.hpp"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Pack(std::vector<TStoreInput> inputs) {
  std::string error;
  auto blob = BuildStore(std::move(inputs), error);
  EXPECT_EQ(error, "");
  return blob;
}

template <class T>
void Poke(std::vector<std::uint8_t>& blob, std::size_t offset, T value) {
  std::memcpy(blob.data() + offset, &value, sizeof value);
}

TEST(Store, PacksEntriesInNameOrderAndReadsThemBack) {
  auto blob = Pack({{"TEX_B", Bytes("bbb")}, {"FONT", Bytes("font")}, {"SONG", {}}, {"TEX_A", Bytes("a")}});
  auto parsed = ParseStore(blob);
  ASSERT_TRUE(parsed.Ok()) << parsed.Error;
  ASSERT_EQ(parsed.Entries.size(), 4u);
  EXPECT_EQ(parsed.Entries[0].Name, "FONT");
  EXPECT_EQ(parsed.Entries[1].Name, "SONG");
  EXPECT_EQ(parsed.Entries[2].Name, "TEX_A");
  EXPECT_EQ(parsed.Entries[3].Name, "TEX_B");
  EXPECT_EQ(std::string(parsed.Entries[0].Bytes.begin(), parsed.Entries[0].Bytes.end()), "font");
  EXPECT_TRUE(parsed.Entries[1].Bytes.empty());
  EXPECT_EQ(parsed.Entries[3].Bytes.size(), 3u);
  EXPECT_EQ(parsed.Entries[0].Kind, 10);
  EXPECT_EQ(parsed.Entries[0].Language, 1033);
}

TEST(Store, OrdersNamesByTheirBytes) {
  // The entries view into the blob, so it has to outlive them.
  auto blob = Pack({{"TEX_ARTE2", {}}, {"TEX_ARTE10", {}}, {"TEX_ARTE1", {}}, {"Tex_X", {}}, {"FONT", {}}});
  auto parsed = ParseStore(blob);
  ASSERT_TRUE(parsed.Ok());
  std::vector<std::string> names;
  for (const auto& entry : parsed.Entries) names.emplace_back(entry.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"FONT", "TEX_ARTE1", "TEX_ARTE10", "TEX_ARTE2", "Tex_X"}));
}

TEST(Store, RefusesDuplicateAndEmptyNamesWhenPacking) {
  std::string error;
  BuildStore({{"A", {}}, {"A", {}}}, error);
  EXPECT_NE(error, "");
  error.clear();
  BuildStore({{"", {}}}, error);
  EXPECT_NE(error, "");
}

TEST(Store, RejectsCorruptStoresWithoutReadingOutsideThem) {
  auto good = Pack({{"FONT", Bytes("abcdef")}, {"SONG", Bytes("xyz")}});
  ASSERT_TRUE(ParseStore(good).Ok());
  auto expectBad = [](std::vector<std::uint8_t> blob, const char* why) {
    auto parsed = ParseStore(blob);
    EXPECT_FALSE(parsed.Ok()) << why;
    EXPECT_TRUE(parsed.Entries.empty()) << why;
  };
  expectBad({}, "empty");
  expectBad(std::vector<std::uint8_t>(good.begin(), good.begin() + 10), "header cut short");
  auto badMagic = good;
  badMagic[0] = 'X';
  expectBad(badMagic, "signature");
  auto badVersion = good;
  Poke<std::uint32_t>(badVersion, 8, 1);  // the store before compressed entries
  expectBad(badVersion, "version");
  auto tooMany = good;
  Poke<std::uint32_t>(tooMany, 12, 0xFFFFFFFFu);
  expectBad(tooMany, "count beyond the table");
  auto nameOutside = good;
  Poke<std::uint32_t>(nameOutside, 16, static_cast<std::uint32_t>(good.size()));
  expectBad(nameOutside, "name outside");
  auto nameLength = good;
  Poke<std::uint32_t>(nameLength, 20, 0xFFFFFFF0u);
  expectBad(nameLength, "name length wraps");
  auto dataOutside = good;
  Poke<std::uint64_t>(dataOutside, 16 + 24, good.size());
  expectBad(dataOutside, "data outside");
  auto dataWraps = good;
  Poke<std::uint64_t>(dataWraps, 16 + 16, ~std::uint64_t{0} - 2);
  expectBad(dataWraps, "data offset wraps");
  auto twice = good;  // the second entry takes the first one's name
  std::uint32_t firstName;
  std::memcpy(&firstName, good.data() + 16, 4);
  Poke<std::uint32_t>(twice, 16 + 48, firstName);
  expectBad(twice, "the same name twice");
  auto outOfOrder = good;  // the second name "FON" sorts before "FONT"
  Poke<std::uint32_t>(outOfOrder, 16 + 48, firstName);
  Poke<std::uint32_t>(outOfOrder, 16 + 48 + 4, 3);
  expectBad(outOfOrder, "names out of order");
  auto cut = good;
  cut.resize(good.size() - 1);
  expectBad(cut, "last entry cut short");
}

TEST(Store, FindsNoStoreInAnExecutableWithoutOne) {
  std::vector<std::uint8_t> image = ReadBytes("/proc/self/exe");
  std::string error;
  EXPECT_FALSE(FindElfSection(image, kStoreSectionName, error));
  EXPECT_EQ(error, "no resource store in the executable");
  EXPECT_TRUE(FindElfSection(image, ".text", error));
  std::vector<std::uint8_t> notElf(4096, 0x41);
  EXPECT_FALSE(FindElfSection(notElf, ".text", error));
  // A file of no format the store knows is refused with the ELF reader's reason; one that
  // begins as a PE file does is read by the PE reader.
  EXPECT_FALSE(FindStoreSection(notElf, error));
  EXPECT_EQ(error, "not a 64-bit little-endian ELF file");
  auto dos = notElf;
  dos[0] = 'M';
  dos[1] = 'Z';
  EXPECT_FALSE(FindStoreSection(dos, error));
  EXPECT_EQ(error, "PE header outside the file");
  auto truncated = image;
  truncated.resize(image.size() / 2);  // the section headers sit at the end
  EXPECT_FALSE(FindElfSection(truncated, ".text", error));
}

std::string BuildPath(const std::string& name) { return std::string(KELVO_BUILD_DIR) + "/" + name; }

// Runs a shell command and returns its stdout; the exit status goes to status.
std::string RunCommand(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

TEST(EmbeddedStore, HoldsThe22EntriesInOrderWithTheirSizes) {
  std::string error;
  auto store = TResourceStore::Open(BuildPath("kelvo"), error);
  ASSERT_TRUE(store) << error;
  ASSERT_EQ(store->Count(), 22u);
  std::vector<std::string> expected = {"FONT", "SONG"};
  for (const std::string& name : PictureNamesInStoreOrder()) expected.push_back(name);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& entry = store->Entry(i);
    EXPECT_EQ(entry.Name, expected[i]);
    EXPECT_EQ(entry.Kind, 10);
    EXPECT_EQ(entry.Language, 1033);
  }
  EXPECT_EQ(store->Entry(0).Size(), std::filesystem::file_size(KELVO_RES_DIR "/FONT.ttf"));
  EXPECT_EQ(store->Entry(1).Size(), 18723666u);
  for (std::size_t i = 2; i < 18; ++i) EXPECT_EQ(store->Entry(i).Size(), 5760138u);
  EXPECT_EQ(store->Entry(18).Size(), 8294470u);
  EXPECT_EQ(store->Entry(19).Size(), 2846902u);
  EXPECT_EQ(store->Entry(20).Size(), 6553670u);
  EXPECT_EQ(store->Entry(21).Size(), 9830470u);
  // The pictures travel compressed, so the demo stays under 64 MiB.
  for (std::size_t i = 2; i < 22; ++i) EXPECT_NE(store->Entry(i).Codec, TResourceCodec::Raw) << store->Entry(i).Name;
  EXPECT_LT(std::filesystem::file_size(BuildPath("kelvo")), 64u * 1024 * 1024);
}

TEST(StoreTool, ExtractsEveryEntryAsTheGeneratedFile) {
  auto dir = std::filesystem::temp_directory_path() / ("kelvo-res-extract-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string error;
  auto store = TResourceStore::Open(BuildPath("kelvo"), error);
  ASSERT_TRUE(store) << error;
  ASSERT_EQ(store->Count(), 22u);
  for (std::size_t i = 0; i < store->Count(); ++i) {
    const std::string name(store->Entry(i).Name);
    const std::string source = name == "FONT"   ? KELVO_RES_DIR "/FONT.ttf"
                               : name == "SONG" ? KELVO_RES_DIR "/SONG.wav"
                                                : KELVO_RES_DIR "/" + name + ".bmp";
    const std::string out = (dir / name).string();
    int status = 0;
    RunCommand(BuildPath("kelvo-res") + " extract " + BuildPath("kelvo") + " " + name + " " + out, status);
    EXPECT_EQ(status, 0) << name;
    EXPECT_TRUE(ReadBytes(out) == ReadBytes(source)) << name;
  }
  std::filesystem::remove_all(dir);
}

TEST(StoreTool, ListsExtractsAndEditsARoundTrip) {
  auto dir = std::filesystem::temp_directory_path() / ("kelvo-res-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string tool = BuildPath("kelvo-res");
  std::string exe = BuildPath("kelvo");
  int status = 0;

  std::string listing = RunCommand(tool + " list " + exe, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 22);
  EXPECT_EQ(listing.rfind("FONT", 0), 0u);
  EXPECT_NE(listing.find("SONG                  10  1033   18723666"), std::string::npos) << listing;

  RunCommand(tool + " extract " + exe + " SONG " + (dir / "song.wav").string(), status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes((dir / "song.wav").string()), ReadBytes(KELVO_RES_DIR "/SONG.wav"));

  {
    std::ofstream(dir / "small.bin", std::ios::binary) << "tiny";
  }
  std::string edited = (dir / "kelvo-edited").string();
  RunCommand(tool + " edit " + exe + " " + edited + " --remove TEX_ARTE5 --set font=" + (dir / "small.bin").string() +
          " --set TEX_=" + (dir / "small.bin").string(),
      status);
  ASSERT_EQ(status, 0);
  std::string error;
  auto original = TResourceStore::Open(exe, error);
  auto changed = TResourceStore::Open(edited, error);
  ASSERT_TRUE(changed) << error;
  ASSERT_EQ(changed->Count(), 23u);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < changed->Count(); ++i) names.emplace_back(changed->Entry(i).Name);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(std::count(names.begin(), names.end(), "TEX_ARTE5"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "font"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "TEX_"), 1);
  // A replaced entry reads back as the file it was set from.
  RunCommand(tool + " extract " + edited + " font " + (dir / "font.out").string(), status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes((dir / "font.out").string()), ReadBytes((dir / "small.bin").string()));
  // Every entry that was not touched keeps its bytes.
  for (std::size_t i = 0; i < original->Count(); ++i) {
    const auto& before = original->Entry(i);
    for (std::size_t j = 0; j < changed->Count(); ++j) {
      if (changed->Entry(j).Name != before.Name) continue;
      EXPECT_TRUE(std::equal(before.Bytes.begin(), before.Bytes.end(), changed->Entry(j).Bytes.begin(),
                             changed->Entry(j).Bytes.end()))
          << before.Name;
    }
  }
  // Removing an entry the store lacks is refused.
  RunCommand(tool + " edit " + exe + " " + edited + " --remove NOPE", status);
  EXPECT_EQ(status, 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
