// Test support: the pictures the build generates and embeds, from the build's own list
// (KELVO_PICTURE_NAMES in the top CMakeLists.txt, handed over as a definition), so no test
// keeps a copy of it.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

// In the order the build lists them: the sixteen pages, then the harbour scene's four.
inline std::vector<std::string> PictureNames() {
  std::vector<std::string> names;
  std::string_view list = KELVO_PICTURE_NAMES;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    names.emplace_back(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return names;
}

// In the store's order: ascending bytes of the names.
inline std::vector<std::string> PictureNamesInStoreOrder() {
  std::vector<std::string> names = PictureNames();
  std::sort(names.begin(), names.end());
  return names;
}
