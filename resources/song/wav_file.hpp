// Writes the song as a canonical RIFF/WAVE file: the 44-byte header (PCM, 16-bit), the
// interleaved samples, then one LIST/INFO chunk that names the piece and its makers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TInfoTag {
  std::string Id;    // four-character code such as "INAM"
  std::string Text;  // stored zero-terminated and padded to an even length
};

// Builds the complete file in memory. Fails (std::runtime_error) when a tag id is not
// four characters or the sizes do not fit the 32-bit fields.
std::vector<std::uint8_t> BuildWavFile(const std::vector<std::int16_t>& interleaved,
                                       std::uint16_t channels, std::uint32_t sampleRate,
                                       const std::vector<TInfoTag>& tags);

// Writes bytes to path; fails (std::runtime_error) with the path and the system's reason.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
