// uStore: PE, the Windows program's format, in the table of formats (formats.hpp): first, as
// it is told apart by its first bytes; the store is its section kStorePeSectionName.
#include "store/formats.hpp"
#include "store/pe.hpp"
#include "store/store.hpp"

namespace {

std::optional<TImageSection> FindPeStore(std::span<const std::uint8_t> image, std::string& error) {
  return FindPeSection(image, kStorePeSectionName, error);
}

}  // namespace

extern const TImageFormat kPeImageFormat{"PE", LooksLikePe, FindPeStore};
