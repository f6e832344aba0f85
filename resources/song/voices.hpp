// One note of one instrument, synthesised into a stereo buffer: the pitched voices
// (pad, pluck, keys, bass, lead, bell), the noise voices (waves, riser) and the drums.
#pragma once

#include <cstdint>
#include <span>

#include "resources/song/score.hpp"

namespace song {

// A stereo buffer for the whole song; voices add into it.
struct TStereoSpan {
  std::span<float> Left;
  std::span<float> Right;
};

struct TVoiceSetup {
  const TScore& Score;
  std::size_t InstrumentIndex;
  double SampleRate;
};

// The frames a note wrote to, [Begin, End); empty when it wrote none.
struct TFrameRange {
  std::size_t Begin = 0, End = 0;
};

// Adds the sound of note (its attack, its held part and its release tail) into out,
// before the instrument's own level, pan and sends. glideFrom is the pitch a legato
// lead slides from (or the note's own pitch); seed makes each note's noise and phases
// its own and reproducible. Sound beyond the end of out is dropped.
TFrameRange RenderNote(const TVoiceSetup& setup, const TNote& note, double glideFrom, std::uint64_t seed,
                       TStereoSpan out);

}  // namespace song
