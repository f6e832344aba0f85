// uPlatformFile in memory: the temporary files of a system that keeps them in its own memory
// rather than on a disk (a system without a file system of its own, or one that needs none).
// A file is a buffer owned by its handle; its name never reaches a disk, so nothing stands at
// it at any time and nothing is left behind however the process ends. Libraries that open
// files by name are given ReadAt instead. memory_file.cpp defines every TPlatformFile member;
// a system that uses it adds that file in its system.cmake and keeps in its own tempfile.cpp
// only where its private "folder" is (PlaceInPrivateFolder; see tempfile.hpp).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/tempfile.hpp"

// The open file: its bytes (what such a system's tests read through SystemHandle).
struct TFileHandle {
  std::vector<std::uint8_t> Bytes;
};
