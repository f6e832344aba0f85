// uStore: finding a section of an ELF64 little-endian image by name (see elf.hpp).
#include "store/elf.hpp"

#include <cstring>

#include "store/layout.hpp"
#include "store/store.hpp"

namespace {

// The ELF64 file header and section header records as the format lays them out
// (little-endian, as the reader requires).
struct TElf64Header {
  unsigned char e_ident[16];
  std::uint16_t e_type;
  std::uint16_t e_machine;
  std::uint32_t e_version;
  std::uint64_t e_entry;
  std::uint64_t e_phoff;
  std::uint64_t e_shoff;
  std::uint32_t e_flags;
  std::uint16_t e_ehsize;
  std::uint16_t e_phentsize;
  std::uint16_t e_phnum;
  std::uint16_t e_shentsize;
  std::uint16_t e_shnum;
  std::uint16_t e_shstrndx;
};
struct TElf64Section {
  std::uint32_t sh_name;
  std::uint32_t sh_type;
  std::uint64_t sh_flags;
  std::uint64_t sh_addr;
  std::uint64_t sh_offset;
  std::uint64_t sh_size;
  std::uint32_t sh_link;
  std::uint32_t sh_info;
  std::uint64_t sh_addralign;
  std::uint64_t sh_entsize;
};
static_assert(sizeof(TElf64Header) == 64 && sizeof(TElf64Section) == 64);

constexpr unsigned char kElfMagic[4] = {0x7f, 'E', 'L', 'F'};
constexpr std::size_t kClassByte = 4;  // 2: 64-bit
constexpr std::size_t kDataByte = 5;   // 1: little-endian
constexpr std::uint32_t kNoBitsSection = 8;

}  // namespace

std::optional<TImageSection> FindElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                          std::string& error) {
  auto fail = [&](const char* why) -> std::optional<TImageSection> {
    error = why;
    return std::nullopt;
  };
  if (image.size() < sizeof(TElf64Header)) return fail("not an ELF file");
  auto header = LoadPlain<TElf64Header>(image, 0);
  if (std::memcmp(header.e_ident, kElfMagic, sizeof kElfMagic) != 0 || header.e_ident[kClassByte] != 2 ||
      header.e_ident[kDataByte] != 1)
    return fail("not a 64-bit little-endian ELF file");
  if (header.e_shentsize != sizeof(TElf64Section)) return fail("unexpected ELF section header size");
  if (!Inside(header.e_shoff, std::uint64_t{header.e_shnum} * sizeof(TElf64Section), image.size()))
    return fail("ELF section headers outside the file");
  if (header.e_shstrndx >= header.e_shnum) return fail("ELF section names missing");
  auto section = [&](std::size_t index) {
    return LoadPlain<TElf64Section>(image, static_cast<std::size_t>(header.e_shoff + index * sizeof(TElf64Section)));
  };
  TElf64Section names = section(header.e_shstrndx);
  if (!Inside(names.sh_offset, names.sh_size, image.size())) return fail("ELF section names outside the file");
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    TElf64Section candidate = section(i);
    if (candidate.sh_name >= names.sh_size) continue;
    const char* start = reinterpret_cast<const char*>(image.data() + names.sh_offset + candidate.sh_name);
    std::size_t room = static_cast<std::size_t>(names.sh_size - candidate.sh_name);
    std::size_t length = strnlen(start, room);
    if (length == room || std::string_view(start, length) != name) continue;
    if (candidate.sh_type == kNoBitsSection || !Inside(candidate.sh_offset, candidate.sh_size, image.size()))
      return fail("resource store section outside the file");
    TImageSection found;
    found.HeaderOffset = header.e_shoff + i * sizeof(TElf64Section);
    found.Offset = candidate.sh_offset;
    found.Size = candidate.sh_size;
    return found;
  }
  return fail("no resource store in the executable");
}
