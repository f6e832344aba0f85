// uStore: the container formats a program's file carries the store in (ELF, PE), as a
// table the store reader walks: a new format adds its reader and one entry, and the reader
// of the store names none of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "store/section.hpp"

struct TImageFormat {
  std::string_view Name;  // "ELF", "PE"
  // True when the file begins as one of this format does; null for the last format, which
  // reads every file no other format claims and says why it is not one of its own.
  bool (*Recognises)(std::span<const std::uint8_t> image);
  // The store's section in a file of this format, or nothing with the reason in error (a
  // missing section is "no resource store in the executable").
  std::optional<TImageSection> (*FindStore)(std::span<const std::uint8_t> image, std::string& error);
};

// The format whose reader reads the image: the first that recognises it, else the last.
const TImageFormat& ImageFormatOf(std::span<const std::uint8_t> image);
