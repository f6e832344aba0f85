// uImage in memory: the mappings of a system that cannot map a file (or has no file to map):
// a "mapping" is a copy of the file's bytes in memory, read-only by convention, that lives as
// long as its object; nothing is prefetched or released, since the whole copy is in memory
// already. memory_image.cpp defines every TMappedFile member; a system that uses it adds that
// file in its system.cmake and defines, in its own image.cpp, the path functions of
// image.hpp and where its own image's bytes come from (ReadProgramImage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image.hpp"

// The mapping: the file's bytes.
struct TMappingHandle {
  std::vector<std::uint8_t> Bytes;
};

// Reads the whole file at path with the standard library; false with error "cannot open
// <path>: <the C library's words>" or "cannot read <path>" (an empty file is not read).
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

// The system's part: the running program's own image, whole, into bytes (what OpenSelf
// maps); false with error set as Open sets it.
bool ReadProgramImage(std::vector<std::uint8_t>& bytes, std::string& error);
