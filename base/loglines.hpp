// uLogLines: the log lines that mark the demo's progress, written by the units that reach
// each point and waited for by the tests, the benchmarks and the tools. The lines of the
// system's window (the GL set-up done, the window mapped) are the platform's
// (platform/loglines.hpp, made from platform/<system>/loglines.txt).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One scene renderer is registered with the engine.
inline constexpr std::string_view kRegisteredRendererLine = "[uKelvo] INFO: registered renderer";
// The song and the font go through temporary files; these prefixes come before the path.
inline constexpr std::string_view kSongTempFilePrefix =
    "[uWAV] LoadFromResourceLazinessHack: Creating temporary song file: ";
inline constexpr std::string_view kFontTempFilePrefix =
    "[uFont] GenerateTextureAtlasBMP: Creating temporary font file: ";

// A warning that can recur is written at most once a second; the next one written carries
// the count held back since the last: "<warning> (N more since the last such line)".
inline constexpr std::string_view kHeldBackSuffix = " more since the last such line)";

inline std::string WithHeldBack(std::string_view warning, std::uint64_t held) {
  std::string line(warning);
  if (held > 0) line += " (" + std::to_string(held) + std::string(kHeldBackSuffix);
  return line;
}

// How many occurrences of the warning a line stands for (after a frame-rate report that
// ended in a carriage return, if any): 0 when it is another line, else 1 and the count it
// carries.
inline std::uint64_t OccurrencesInLine(std::string_view line, std::string_view warning) {
  const std::size_t at = line.find(warning);
  if (at == std::string_view::npos) return 0;
  std::string_view rest = line.substr(at + warning.size());
  if (rest.size() < 2 + kHeldBackSuffix.size() || rest.substr(0, 2) != " (" ||
      rest.substr(rest.size() - kHeldBackSuffix.size()) != kHeldBackSuffix) {
    return rest.empty() ? 1 : 0;
  }
  std::uint64_t held = 0;
  for (char digit : rest.substr(2, rest.size() - 2 - kHeldBackSuffix.size())) {
    if (digit < '0' || digit > '9') return 0;
    held = held * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  return 1 + held;
}
