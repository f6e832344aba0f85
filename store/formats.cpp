// uStore: the walk of the table of container formats (see formats.hpp). The table itself,
// store/format_table.hpp in the build tree, is written by store/CMakeLists.txt from the files
// store/formats/<order>_<format>.cpp in the order of their numbers.
#include "store/formats.hpp"

#include <iterator>

#include "store/format_table.hpp"

const TImageFormat& ImageFormatOf(std::span<const std::uint8_t> image) {
  for (const TImageFormat* format : kImageFormats) {
    if (format->Recognises == nullptr || format->Recognises(image)) return *format;
  }
  return *kImageFormats[std::size(kImageFormats) - 1];
}
