// The send effects of the mix: a stereo reverb (parallel damped combs into series
// all-passes, with pre-delay and band-limited input) and a filtered ping-pong delay.
// Both process a whole song buffer at once.
#pragma once

#include "resources/song/voices.hpp"

namespace song {

struct TReverbSettings {
  double PreDelaySeconds = 0.025;
  double Feedback = 0.86;  // comb feedback: the length of the tail
  double Damping = 0.3;    // high-frequency loss per pass, 0..1
  double LowCutHz = 220.0; // keeps the tail from muddying the bass
  double HighCutHz = 7000.0;
  double Width = 1.0;      // 0 mono .. 1 fully decorrelated sides
};

// Replaces the contents of io (the reverb send) with the wet reverb signal.
void ApplyReverb(TStereoSpan io, const TReverbSettings& settings, double sampleRate);

struct TDelaySettings {
  double DelaySeconds = 0.375;  // a dotted eighth at 120 beats per minute
  double Feedback = 0.38;
  double LowCutHz = 300.0;
  double HighCutHz = 3500.0;
};

// Replaces the contents of io (the delay send) with the echoes, bouncing left and right.
void ApplyPingPongDelay(TStereoSpan io, const TDelaySettings& settings, double sampleRate);

}  // namespace song
