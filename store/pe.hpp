// uStore: where the resource store lies in a Windows executable: a PE32+ section found by
// name, with every offset checked against the image, so a damaged or foreign file is refused
// with a reason instead of being read outside its bytes; and the rewrite kelvo-res makes when
// it replaces the store. Pure byte parsing: no Windows header is needed, so the Linux tools
// read and edit Windows executables too.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/section.hpp"

// The store's section in a Windows executable. An image's section names are at most eight
// bytes (a longer one lives in a string table the loader does not keep), so the ELF name
// ".kelvores" cannot be used there.
inline constexpr std::string_view kStorePeSectionName = ".kelvo";

// True when the image begins as a DOS/PE executable does ("MZ").
bool LooksLikePe(std::span<const std::uint8_t> image);

// Finds a section of a PE32+ image by its exact name (at most eight bytes). The result says
// what FindElfSection's does: the file offset of the section's header record, and the file
// offset and size of its contents (its virtual size where that is smaller than its raw size,
// which is padded to the file alignment). On failure returns nothing and sets error (a
// missing section is "no resource store in the executable").
std::optional<TImageSection> FindPeSection(std::span<const std::uint8_t> image, std::string_view name,
                                         std::string& error);

// A copy of the image whose section (found by FindPeSection) holds contents instead: the
// section must be the last one, in the file and in memory, with nothing but padding behind
// it; its raw and virtual sizes, the image's size and (where the image has one) its checksum
// are set anew. A signed image is refused (the edit would break the signature). On failure
// returns nothing and sets error.
std::optional<std::vector<std::uint8_t>> ReplacePeSection(std::span<const std::uint8_t> image,
                                                          const TImageSection& section,
                                                          std::span<const std::uint8_t> contents, std::string& error);

// A copy of the image with one more section, named name (at most eight bytes), holding
// contents as read-only initialised data: placed after the last section in memory and at the
// end of the file, with the image's size and (where it has one) its checksum set anew. This
// is how the build puts the store into the Windows executable (objcopy cannot place a new
// section in a linked image by itself). An image with a section of that name already, with
// no room for another section header, or with data behind its last section is refused. On
// failure returns nothing and sets error.
std::optional<std::vector<std::uint8_t>> AddPeSection(std::span<const std::uint8_t> image, std::string_view name,
                                                      std::span<const std::uint8_t> contents, std::string& error);

// The PE checksum of an image (as the loader checks it for drivers and imagehlp computes it):
// the image's 16-bit words summed with carries folded, the checksum field itself left out,
// plus the image's length.
std::uint32_t PeChecksum(std::span<const std::uint8_t> image, std::size_t checksumOffset);
