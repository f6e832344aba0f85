// uStore: where the resource store lies in an executable: an ELF section found by name,
// with every offset checked against the image, so a damaged or foreign file is refused
// with a reason instead of being read outside its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Finds a section of an ELF64 little-endian image by name. On failure returns nothing and
// sets error (a missing section is "no resource store in the executable").
struct TElfSection {
  std::uint64_t HeaderOffset = 0;  // file offset of the section's header record
  std::uint64_t Offset = 0;        // file offset of its contents
  std::uint64_t Size = 0;
};
std::optional<TElfSection> FindElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                          std::string& error);
