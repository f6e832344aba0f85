// uStore: where the resource store lies in a WebAssembly module: a custom section found by
// name, with every length checked against the module, so a damaged or foreign file is
// refused with a reason instead of being read outside its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "store/elf.hpp"

// True when the image begins as a WebAssembly module does ("\0asm", version 1).
bool LooksLikeWasm(std::span<const std::uint8_t> image);

// Finds a custom section of a WebAssembly module by its exact name. The result says what
// FindElfSection's does: HeaderOffset is the offset of the section's id byte, Offset and
// Size those of its contents after the name. On failure returns nothing and sets error (a
// missing section is "no resource store in the executable").
std::optional<TElfSection> FindWasmSection(std::span<const std::uint8_t> image, std::string_view name,
                                           std::string& error);
