// uStore: where the resource store lies in an executable: an ELF section found by name,
// with every offset checked against the image, so a damaged or foreign file is refused
// with a reason instead of being read outside its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "store/section.hpp"

// Finds a section of an ELF64 little-endian image by name. On failure returns nothing and
// sets error (a missing section is "no resource store in the executable").
std::optional<TImageSection> FindElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                          std::string& error);
