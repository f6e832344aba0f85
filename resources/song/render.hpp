// Renders a score into a stereo mix: every instrument's notes into its own buffer, its
// level, pan, kick ducking and sends applied, then the delay and the reverb returns.
// Two worker threads share the instruments by a fixed plan, so the sum is the same on
// every run.
#pragma once

#include <cstddef>
#include <vector>

#include "resources/song/score.hpp"
#include "resources/song/voices.hpp"

namespace song {

struct TMix {
  std::vector<float> Left, Right;
  TStereoSpan Span() { return {Left, Right}; }
};

TMix RenderScore(const TScore& score, double sampleRate, std::size_t frames);

}  // namespace song
