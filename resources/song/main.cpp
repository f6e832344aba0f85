// kelvo-gen-song: renders the demo's song from its score and writes SONG.wav.
// Usage: kelvo-gen-song OUT.wav SCORE
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "resources/song/mastering.hpp"
#include "resources/song/render.hpp"
#include "resources/song/score.hpp"
#include "resources/song/song_format.hpp"
#include "resources/song/wav_file.hpp"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Notes that start after the song has ended can never be heard: a mistake in the score.
void CheckNotesFit(const song::TScore& score) {
  const double songSeconds = static_cast<double>(kSongFrames) / kSongSampleRate;
  for (const song::TNote& note : score.Notes) {
    if (score.SecondsAt(note.Start) >= songSeconds) {
      throw std::runtime_error("a note of " + score.Instruments.at(note.Instrument).Name + " starts in bar " +
                               std::to_string(note.Start / song::kBeatsPerBar + 1.0) + ", after the end of the song");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kelvo-gen-song OUT.wav SCORE\n");
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    const song::TScore score = song::ParseScoreFile(argv[2]);
    CheckNotesFit(score);
    song::TMix mix = song::RenderScore(score, kSongSampleRate, kSongFrames);
    const double renderSeconds = SecondsSince(start);

    song::TMasterSettings settings;
    if (score.Fade) {
      settings.FadeFromSeconds = score.SecondsAt(score.Fade->FromBeat);
      settings.FadeToSeconds = score.SecondsAt(score.Fade->ToBeat);
    }
    song::TMasterReport report;
    const std::vector<std::int16_t> samples = song::MasterMix(mix.Span(), settings, kSongSampleRate, report);
    const std::vector<std::uint8_t> file = BuildWavFile(samples, kSongChannels, kSongSampleRate, SongInfoTags());
    if (file.size() != kSongFileSize) throw std::runtime_error("the song file came out at the wrong size");
    WriteFileBytes(argv[1], file);
    std::printf(
        "kelvo-gen-song: %zu notes of %zu instruments; rendered in %.1f s, total %.1f s; loudness %.2f LUFS, "
        "peak %.2f dBFS, compression up to %.1f dB, limiting up to %.1f dB\n",
        score.Notes.size(), score.Instruments.size(), renderSeconds, SecondsSince(start), report.LoudnessLufs,
        report.PeakDb, report.MaxCompressionDb, report.MaxLimitingDb);
  } catch (const song::TScoreError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvo-gen-song: %s\n", error.what());
    return 1;
  }
  return 0;
}
