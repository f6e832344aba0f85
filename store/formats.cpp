// uStore: the table of container formats (see formats.hpp). ELF is last: a file that is
// neither PE nor anything else known is refused with the ELF reader's reason, as the build
// machine's own format.
#include "store/formats.hpp"

#include <iterator>

#include "store/elf.hpp"
#include "store/pe.hpp"
#include "store/store.hpp"

namespace {

std::optional<TImageSection> FindPeStore(std::span<const std::uint8_t> image, std::string& error) {
  return FindPeSection(image, kStorePeSectionName, error);
}

std::optional<TImageSection> FindElfStore(std::span<const std::uint8_t> image, std::string& error) {
  return FindElfSection(image, kStoreSectionName, error);
}

constexpr TImageFormat kFormats[] = {
    {"PE", LooksLikePe, FindPeStore},
    {"ELF", nullptr, FindElfStore},
};

}  // namespace

const TImageFormat& ImageFormatOf(std::span<const std::uint8_t> image) {
  for (const TImageFormat& format : kFormats) {
    if (format.Recognises == nullptr || format.Recognises(image)) return format;
  }
  return kFormats[std::size(kFormats) - 1];
}
