// Fuzz target: the store reader. Bytes that begin like an ELF file go through the section
// search first and the store is then read from the section found; any other bytes are read
// as a store blob directly. Whatever is accepted must lie inside the input: every entry's
// name and bytes are read whole through the entry's stream, and the names come in strictly
// ascending order. Depends on uStore.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/store.hpp"
#include "tests/fuzz/fuzz_check.hpp"

namespace {

bool Inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::span<const std::uint8_t> blob = input;
  if (size >= 4 && std::memcmp(data, "\x7f" "ELF", 4) == 0) {
    std::string error;
    const std::optional<TElfSection> section = FindElfSection(input, kStoreSectionName, error);
    if (!section) {
      Require(!error.empty(), "a failed section search says why");
      return 0;
    }
    Require(section->Offset <= size && section->Size <= size - section->Offset, "the section lies inside the file");
    Require(section->HeaderOffset <= size && 64 <= size - section->HeaderOffset,
            "the section's header record lies inside the file");
    blob = input.subspan(static_cast<std::size_t>(section->Offset), static_cast<std::size_t>(section->Size));
  }

  const TStoreParse parsed = ParseStore(blob);
  if (!parsed.Ok()) {
    Require(parsed.Entries.empty(), "a rejected store hands out no entries");
    return 0;
  }
  std::vector<std::uint8_t> copy;
  for (std::size_t i = 0; i < parsed.Entries.size(); ++i) {
    const TResourceEntry& entry = parsed.Entries[i];
    const std::span<const std::uint8_t> name(reinterpret_cast<const std::uint8_t*>(entry.Name.data()),
                                             entry.Name.size());
    Require(!entry.Name.empty() && Inside(name, blob), "an entry's name lies inside the store");
    Require(Inside(entry.Bytes, blob), "an entry's bytes lie inside the store");
    Require(i == 0 || parsed.Entries[i - 1].Name < entry.Name, "names come in strictly ascending order");
    // Read the entry the way its consumers do: whole, through its stream.
    TResourceStream stream(entry.Bytes);
    copy.resize(entry.Bytes.size());
    Require(stream.Read(copy.data(), copy.size()) == copy.size(), "an entry's stream gives all its bytes");
    Require(copy.empty() || std::memcmp(copy.data(), entry.Bytes.data(), copy.size()) == 0,
            "an entry's stream gives its bytes unchanged");
    std::uint8_t beyond = 0;
    Require(stream.Read(&beyond, 1) == 0, "an entry's stream ends with the entry");
  }
  return 0;
}
