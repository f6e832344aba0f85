// uStore: ELF, the build machine's own format, in the table of formats (formats.hpp): last,
// claiming every file no other format recognises, so a file of no known format is refused
// with the ELF reader's reason; the store is its section kStoreSectionName.
#include "store/elf.hpp"
#include "store/formats.hpp"
#include "store/store.hpp"

namespace {

std::optional<TImageSection> FindElfStore(std::span<const std::uint8_t> image, std::string& error) {
  return FindElfSection(image, kStoreSectionName, error);
}

}  // namespace

extern const TImageFormat kElfImageFormat{"ELF", nullptr, FindElfStore};
