// Small file helpers shared by the tests: a file's bytes or text whole (a file that cannot
// be read throws, which fails the test with its path), writing a file whole, and a folder's
// entry names in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/files.hpp"

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) throw std::runtime_error("cannot read " + path.string());
  return std::move(*bytes);
}

inline std::string ReadAll(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

inline void WriteAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> Entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
