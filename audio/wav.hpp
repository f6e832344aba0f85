// uWAV: reads a RIFF/WAVE song in its canonical 44-byte layout ("fmt " with a 16-byte PCM
// body directly followed by "data") into its format fields and raw sample bytes. An
// embedded song goes through a temporary file beside the executable. Depends on uShared,
// uStore, uFatal.
#pragma once

#include <cstdint>
#include <string>

#include "engine/shared.hpp"
#include "engine/store.hpp"

struct TRiffHeader {
  std::uint32_t ChunkID = 0;    // "RIFF", first character in the most significant byte
  std::uint32_t ChunkSize = 0;  // not used
  std::uint32_t Format = 0;     // "WAVE"
};

struct TFmtChunk {
  std::uint32_t ChunkID = 0;  // "fmt "
  std::uint32_t ChunkSize = 0;
  std::uint16_t AudioFormat = 0;
  std::uint16_t NumChannels = 0;
  std::uint32_t SampleRate = 0;
  std::uint32_t ByteRate = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
};

class TWAV {
 public:
  // Fills the object from a file; false (and no output) when the file cannot be opened,
  // true after a complete load; any malformed content ends the demo with an assertion.
  bool LoadFromFile(const std::string& path);
  // Writes the entry to a temporary file beside the executable, loads it and deletes it.
  void LoadFromResourceLazinessHack(const TResourceEntry& entry);

  TRiffHeader RiffHeader;
  TFmtChunk FmtChunk;
  TUInt8DynArray Data;
};
