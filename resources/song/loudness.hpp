// Integrated loudness of a stereo signal: K-weighting (a high-shelf and a high-pass
// biquad), mean squares over 400 ms blocks that overlap by 75 %, an absolute gate at
// -70 LUFS and a relative gate 10 LU below the loudness of the blocks that passed it.
// Shared by the song's mastering and its tests.
#pragma once

#include <array>
#include <span>

namespace song {

struct TBiquad {
  std::array<double, 3> B;  // feed-forward b0 b1 b2
  std::array<double, 3> A;  // feedback a0 (always 1) a1 a2
};

struct TKWeighting {
  TBiquad Shelf;     // stage 1: +4 dB above about 1.7 kHz (the head's effect)
  TBiquad HighPass;  // stage 2: the low-frequency roll-off below about 40 Hz
};

// The K-weighting filters designed for a sample rate.
TKWeighting KWeightingFor(double sampleRate);

// Integrated loudness in LUFS of two channels (left and right weighted 1.0 each);
// -infinity when no block passes the absolute gate.
double IntegratedLoudness(std::span<const float> left, std::span<const float> right, double sampleRate);

}  // namespace song
