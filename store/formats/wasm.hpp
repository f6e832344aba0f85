// uStore: where the resource store lies in a WebAssembly module: a custom section found by
// name, with every length checked against the module, so a damaged or foreign file is
// refused with a reason instead of being read outside its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/section.hpp"

// True when the image begins as a WebAssembly module does ("\0asm", version 1).
bool LooksLikeWasm(std::span<const std::uint8_t> image);

// Finds a custom section of a WebAssembly module by its exact name. The result says what
// FindElfSection's does: HeaderOffset is the offset of the section's id byte, Offset and
// Size those of its contents after the name. On failure returns nothing and sets error (a
// missing section is "no resource store in the executable").
std::optional<TImageSection> FindWasmSection(std::span<const std::uint8_t> image, std::string_view name,
                                           std::string& error);

// A copy of the module with contents as its custom section of that name: a section of the
// name it already has is left out, and the new one is appended after the last section
// (where the web build puts the store, and kelvo-res replaces it). A module whose sections
// cannot be read is refused: nothing, with error set.
std::optional<std::vector<std::uint8_t>> WithWasmSection(std::span<const std::uint8_t> image, std::string_view name,
                                                         std::span<const std::uint8_t> contents, std::string& error);
