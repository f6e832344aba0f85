// kelvo-gen-song: renders the demo's song from its score and writes SONG.wav.
// Usage: kelvo-gen-song OUT.wav SCORE
#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>
#include <string>
#include <vector>

#include <utility>  // std::in_range, used by Narrow

#include "engine/fatal.hpp"
#include "resources/song/song_format.hpp"
#include "resources/song/wav_file.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kelvo-gen-song OUT.wav SCORE\n");
    return 2;
  }
  try {
    std::vector<std::int16_t> samples(kSongFrames * kSongChannels, 0);
    const double notes[] = {293.66, 369.99, 440.0, 554.37};
    for (std::size_t frame = 0; frame < kSongFrames; ++frame) {
      const double t = static_cast<double>(frame) / kSongSampleRate;
      const double beat = std::fmod(t, 0.5);
      const double env = std::min(1.0, beat * 200.0) * std::exp(-beat * 8.0);
      const double f = notes[static_cast<std::size_t>(t / 2.0) % 4];
      const double v = 0.3 * env * std::sin(2.0 * std::numbers::pi * f * beat);
      samples[frame * 2] = static_cast<std::int16_t>(std::lround(v * 32767.0));
      samples[frame * 2 + 1] = static_cast<std::int16_t>(std::lround(v * 0.8 * 32767.0));
    }
    const std::vector<std::uint8_t> file = BuildWavFile(samples, kSongChannels, kSongSampleRate, SongInfoTags());
    Assert(file.size() == kSongFileSize, "song file has the wrong size", "kelvo-gen-song", __LINE__);
    WriteFileBytes(argv[1], file);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvo-gen-song: %s\n", error.what());
    return 1;
  }
  return 0;
}
