// uStore: finding a section of an ELF64 little-endian image by name (see elf.hpp).
#include "store/elf.hpp"

#include <elf.h>

#include <cstring>

#include "store/layout.hpp"
#include "store/store.hpp"

std::optional<TElfSection> FindElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                          std::string& error) {
  auto fail = [&](const char* why) -> std::optional<TElfSection> {
    error = why;
    return std::nullopt;
  };
  if (image.size() < sizeof(Elf64_Ehdr)) return fail("not an ELF file");
  auto header = LoadPlain<Elf64_Ehdr>(image, 0);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB)
    return fail("not a 64-bit little-endian ELF file");
  if (header.e_shentsize != sizeof(Elf64_Shdr)) return fail("unexpected ELF section header size");
  if (!Inside(header.e_shoff, std::uint64_t{header.e_shnum} * sizeof(Elf64_Shdr), image.size()))
    return fail("ELF section headers outside the file");
  if (header.e_shstrndx >= header.e_shnum) return fail("ELF section names missing");
  auto section = [&](std::size_t index) {
    return LoadPlain<Elf64_Shdr>(image, static_cast<std::size_t>(header.e_shoff + index * sizeof(Elf64_Shdr)));
  };
  Elf64_Shdr names = section(header.e_shstrndx);
  if (!Inside(names.sh_offset, names.sh_size, image.size())) return fail("ELF section names outside the file");
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr candidate = section(i);
    if (candidate.sh_name >= names.sh_size) continue;
    const char* start = reinterpret_cast<const char*>(image.data() + names.sh_offset + candidate.sh_name);
    std::size_t room = static_cast<std::size_t>(names.sh_size - candidate.sh_name);
    std::size_t length = strnlen(start, room);
    if (length == room || std::string_view(start, length) != name) continue;
    if (candidate.sh_type == SHT_NOBITS || !Inside(candidate.sh_offset, candidate.sh_size, image.size()))
      return fail("resource store section outside the file");
    TElfSection found;
    found.HeaderOffset = header.e_shoff + i * sizeof(Elf64_Shdr);
    found.Offset = candidate.sh_offset;
    found.Size = candidate.sh_size;
    return found;
  }
  return fail("no resource store in the executable");
}
