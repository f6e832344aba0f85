// The demo with one damaged store entry, sixty times: random bytes in the headers of a
// picture, of the song or of the font, or an entry cut short, each written into a copy of
// kelvo with kelvo-res edit and run under the harness until its window maps or it ends.
// Every copy must either reach the frame loop or end with a status of the demo's table and
// a one-line report as its last line: never a signal, never a status above 128, never a
// hang before the window appears, never a sanitizer report.
//
// The mutations come from a seeded generator. KELVO_MUTATION_SEED replaces the default
// seed; KELVO_MUTATION_CASE=N runs only case N of that seed's sequence (to replay a
// failure). The seed and each mutation are printed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/facts.hpp"
#include "platform/loglines.hpp"
#include "base/files.hpp"
#include "tests/system/sanitizer_logs.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/pictures.hpp"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kDefaultSeed = 20251208;
constexpr int kCases = 60;
constexpr auto kLimit = 10s;
// The failure statuses the demo may end with (every failure but the normal end).
const std::set<int> kTableStatuses = {kExitBadPicture, kExitAudioDevice, kExitTextureMissing,
                                      kExitGLError,    kExitRangeError,  kExitAssertion};

std::vector<std::string> EntryNames() {
  std::vector<std::string> names = {std::string(kFontResource), std::string(kSongResource)};
  for (const std::string& name : PictureNames()) names.push_back(name);
  return names;
}

// The file the build embedded under an entry's name.
std::string SourceFile(const std::string& name) {
  const std::string folder = std::string(KELVO_RES_DIR) + "/";
  if (name == "FONT") return folder + "FONT.ttf";
  if (name == "SONG") return folder + "SONG.wav";
  return folder + name + ".bmp";
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) throw std::runtime_error("cannot read " + path);
  return *bytes;
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
  return value;
}

std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) throw std::out_of_range("a field past the end of the bytes");
  return ::LittleEndian32(bytes.data() + at);
}

// A byte range of an entry.
struct TRegion {
  std::size_t Begin = 0;
  std::size_t End = 0;
};

// The header-like parts of the font: the table directory, and the bodies of the tables
// that describe the whole face (head, hhea, maxp).
std::vector<TRegion> FontHeaderRegions(const std::vector<std::uint8_t>& font) {
  const std::size_t tables = BigEndian(font, 4, 2);
  std::vector<TRegion> regions = {{0, 12 + 16 * tables}};
  for (std::size_t i = 0; i < tables; ++i) {
    const std::size_t record = 12 + 16 * i;
    std::string tag(font.begin() + static_cast<std::ptrdiff_t>(record),
                    font.begin() + static_cast<std::ptrdiff_t>(record + 4));
    if (tag == "head" || tag == "hhea" || tag == "maxp")
      regions.push_back({BigEndian(font, record + 8, 4), BigEndian(font, record + 8, 4) + BigEndian(font, record + 12, 4)});
  }
  return regions;
}

// One damaged entry: its name, the new bytes and what was done, in words.
struct TMutation {
  std::string Entry;
  std::vector<std::uint8_t> Bytes;
  std::string Description;
};

// Makes the mutations of one seed, case by case; the originals are read once each.
class TMutator {
 public:
  explicit TMutator(std::uint64_t seed) : Random(seed) {}

  TMutation Make(int index) {
    switch (index % 4) {
      case 0: return PictureHeader();
      case 1: return Overwrite("SONG", {{0, 44}});
      case 2: return Overwrite("FONT", FontHeaderRegions(Original("FONT")));
      default: return Truncation();
    }
  }

 private:
  std::uint64_t Below(std::uint64_t bound) { return Random() % bound; }

  const std::vector<std::uint8_t>& Original(const std::string& name) {
    auto found = Originals.find(name);
    if (found == Originals.end()) found = Originals.emplace(name, ReadBytes(SourceFile(name))).first;
    return found->second;
  }

  // One to four bytes at random places of the given regions, each changed to another value.
  TMutation Overwrite(const std::string& name, const std::vector<TRegion>& regions) {
    TMutation mutation{name, Original(name), name + ":"};
    const std::uint64_t count = 1 + Below(4);
    for (std::uint64_t i = 0; i < count; ++i) {
      const TRegion& region = regions[Below(regions.size())];
      const std::size_t at = region.Begin + Below(region.End - region.Begin);
      const auto value = static_cast<std::uint8_t>(mutation.Bytes.at(at) ^ (1 + Below(255)));
      std::ostringstream text;
      text << " byte " << at << " " << static_cast<int>(mutation.Bytes.at(at)) << "->" << static_cast<int>(value);
      mutation.Bytes.at(at) = value;
      mutation.Description += text.str();
    }
    return mutation;
  }

  // A picture's header: mostly the 30 bytes the loader reads, sometimes the rest of the
  // info header up to the pixels.
  TMutation PictureHeader() {
    const std::vector<std::string> names = EntryNames();
    const std::string name = names[2 + Below(names.size() - 2)];
    const std::vector<std::uint8_t>& picture = Original(name);
    const std::size_t pixels = std::min<std::size_t>(LittleEndian32(picture, 10), picture.size());
    std::vector<TRegion> regions = {{0, 30}, {0, 30}, {0, 30}, {30, std::max<std::size_t>(pixels, 31)}};
    return Overwrite(name, regions);
  }

  // Any entry cut short: half the time inside its first 256 bytes, else anywhere.
  TMutation Truncation() {
    const std::vector<std::string> names = EntryNames();
    const std::string name = names[Below(names.size())];
    const std::vector<std::uint8_t>& bytes = Original(name);
    const std::size_t length = Below(2) == 0 ? Below(std::min<std::size_t>(256, bytes.size())) : Below(bytes.size());
    TMutation mutation{name, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)}, ""};
    mutation.Description = name + ": cut to " + std::to_string(length) + " of " + std::to_string(bytes.size()) + " bytes";
    return mutation;
  }

  std::mt19937_64 Random;
  std::map<std::string, std::vector<std::uint8_t>> Originals;
};

std::optional<std::uint64_t> NumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return std::nullopt;
  return std::stoull(text);
}

// A line that says what went wrong: an error line of a unit, an assertion report
// "<message> (<unit>, line <n>)", a run-time or stream error, or one of the fixed reports.
bool IsOneLineReport(const std::string& line) {
  static const std::regex report(
      R"(ERROR|[Ee]rror|\(u[A-Za-z]+, line [0-9]+\)$|^Out of memory$|invalid GetTexture call|^Unable to )");
  return std::regex_search(line, report);
}

// Writes the copy, runs it and checks how it ended; returns the outcome in words.
std::string RunCase(const fs::path& folder, const TMutation& mutation, const TSanitizerLogs& logs) {
  const fs::path entry = folder / "entry.bin";
  const fs::path demo = folder / "kelvo";
  std::ofstream(entry, std::ios::binary)
      .write(reinterpret_cast<const char*>(mutation.Bytes.data()), static_cast<std::streamsize>(mutation.Bytes.size()));
  const std::string edit = std::string(KELVO_BUILD_DIR) + "/kelvo-res edit " + KELVO_BUILD_DIR + "/kelvo " +
                           demo.string() + " --set " + mutation.Entry + "=" + entry.string();
  if (std::system(edit.c_str()) != 0) {
    ADD_FAILURE() << "could not write the copy: " << edit;
    return "no copy";
  }

  std::string outcome;
  {
    const auto command = logs.Wrap(demo.string());
    TDemoProcess process(command.Executable, command.Arguments, logs.DemoEnvironment());
    const auto start = std::chrono::steady_clock::now();
    if (process.WaitForLine(kMappedWindowLine, kLimit)) {
      process.Kill();
      outcome = "reached the frame loop";
    } else {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      TExitResult result = process.WaitExit(std::max<std::chrono::milliseconds>(1s, kLimit - spent));
      const std::vector<std::string> lines = process.Lines();
      const std::string output = process.Output();
      const std::string last = lines.empty() ? "" : lines.back();
      if (result.TimedOut) {
        process.Kill();
        ADD_FAILURE() << "hung before its window appeared; last line: " << last;
        outcome = "hang";
      } else if (!result.Exited) {
        ADD_FAILURE() << "ended by signal " << result.Signal << "; last line: " << last;
        outcome = "signal " + std::to_string(result.Signal);
      } else {
        outcome = "status " + std::to_string(result.Code) + ": " + last;
        EXPECT_TRUE(kTableStatuses.count(result.Code) == 1) << "status " << result.Code << " is not in the table\n"
                                                            << output;
        EXPECT_TRUE(!output.empty() && output.back() == '\n') << "the output ends in an unfinished line\n" << output;
        EXPECT_TRUE(IsOneLineReport(last)) << "the last line is no report: " << last;
      }
    }
  }
  const std::string reports = logs.Reports();
  EXPECT_EQ(reports, "") << "sanitizer report";
  logs.Clear();
  fs::remove(demo);
  fs::remove(entry);
  return outcome;
}

TEST(MutatedStores, EveryDamagedCopyReachesTheFrameLoopOrEndsWithItsReport) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const std::uint64_t seed = NumberFromEnvironment("KELVO_MUTATION_SEED").value_or(kDefaultSeed);
  const std::optional<std::uint64_t> only = NumberFromEnvironment("KELVO_MUTATION_CASE");
  std::cout << "mutation seed " << seed << " (KELVO_MUTATION_SEED replays it, KELVO_MUTATION_CASE=N runs case N)\n";

  const fs::path folder = fs::temp_directory_path() / ("kelvo-mutation-" + std::to_string(getpid()));
  fs::create_directories(folder);
  TSanitizerLogs logs;
  TMutator mutator(seed);
  std::map<std::string, int> tally;
  for (int index = 0; index < kCases; ++index) {
    const TMutation mutation = mutator.Make(index);
    if (only && *only != static_cast<std::uint64_t>(index)) continue;
    SCOPED_TRACE("case " + std::to_string(index) + " of seed " + std::to_string(seed) + ": " + mutation.Description);
    std::cout << "case " << index << ": " << mutation.Description << std::flush;
    const std::string outcome = RunCase(folder, mutation, logs);
    std::cout << "\n  -> " << outcome << std::endl;
    ++tally[outcome == "reached the frame loop" ? outcome : outcome.substr(0, outcome.find(':'))];
  }
  std::cout << "outcomes:";
  for (const auto& [outcome, count] : tally) std::cout << " " << outcome << " x" << count << ";";
  std::cout << std::endl;
  fs::remove_all(folder);
}

}  // namespace
