// The master bus: low-cut, a gentle stereo-linked compressor, loudness normalisation,
// a look-ahead peak limiter, the closing fade and the TPDF-dithered conversion to 16-bit
// samples.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "resources/song/voices.hpp"

namespace song {

struct TMasterSettings {
  double TargetLufs = -14.0;
  double CeilingDb = -1.3;          // sample peak limit, below -1 dBFS even after dither
  double LowCutHz = 25.0;
  double ThresholdDb = -18.0;       // compressor, applied after the mix is brought to -20 LUFS
  double Ratio = 2.0;
  double KneeDb = 8.0;
  double AttackSeconds = 0.010;
  double ReleaseSeconds = 0.180;
  double LimiterLookaheadSeconds = 0.002;
  double LimiterReleaseSeconds = 0.080;
  std::optional<double> FadeFromSeconds;  // the fade reaches silence at FadeToSeconds
  std::optional<double> FadeToSeconds;
  std::uint64_t DitherSeed = 0x6B656C766F;
};

struct TMasterReport {
  double LoudnessLufs = 0.0;      // integrated loudness of the result
  double PeakDb = 0.0;            // highest sample, dBFS
  double MaxCompressionDb = 0.0;  // deepest compressor gain reduction
  double MaxLimitingDb = 0.0;     // deepest limiter gain reduction
  double MakeupDb = 0.0;          // gain from the compressed mix to the limiter input
};

// Masters the mix in place (it is overwritten) and returns interleaved 16-bit frames.
std::vector<std::int16_t> MasterMix(TStereoSpan mix, const TMasterSettings& settings, double sampleRate,
                                    TMasterReport& report);

}  // namespace song
