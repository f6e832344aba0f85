// The fixed shape of the demo's song: the frame count and rate the resource store
// expects, and the tags of its INFO chunk.
#pragma once

#include <cstdint>
#include <vector>

#include "resources/song/wav_file.hpp"

inline constexpr std::uint32_t kSongSampleRate = 44100;
inline constexpr std::uint16_t kSongChannels = 2;
// The player and the resource store are built around this exact length (18723666 bytes
// of file in all with the 66-byte INFO chunk).
inline constexpr std::size_t kSongFrames = 4680889;
inline constexpr std::size_t kSongFileSize = 18723666;

inline std::vector<TInfoTag> SongInfoTags() {
  return {{"INAM", "Harbour Light"}, {"IART", "ombrel"}, {"IPRD", "tessic"}};
}
