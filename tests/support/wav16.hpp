// Test support: reads the samples of a 16-bit PCM WAV file (the sink recorder's and the
// song's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The samples of a 16-bit PCM WAV file, interleaved.
struct TWavSamples {
  int SampleRate = 0;
  int Channels = 0;
  std::vector<std::int16_t> Samples;
  std::size_t Frames() const { return Channels > 0 ? Samples.size() / static_cast<std::size_t>(Channels) : 0; }
};

// Reads a 16-bit PCM WAV file. A data chunk whose size was never filled in (a recorder
// that was killed) is read to the end of the file. Throws std::runtime_error on anything
// else than 16-bit PCM.
TWavSamples ReadWav16(const std::string& path);
