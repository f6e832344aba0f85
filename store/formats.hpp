// uStore: the container formats a program's file carries the store in, as a table the store
// reader walks. Each format is one file store/formats/<order>_<format>.cpp defining its entry
// k<Format>ImageFormat (10_pe.cpp: kPeImageFormat); the build gathers them into the table in
// the order of their numbers, so a new format adds files and changes none, and the store's
// reader names no format.
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

// The format whose reader reads the image: the first in the table that recognises it, else
// the last (ELF, which reads every file no other format claims).
const TImageFormat& ImageFormatOf(std::span<const std::uint8_t> image);
