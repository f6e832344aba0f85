// The master bus (see mastering.hpp).
#include "resources/song/mastering.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>

#include "base/fatal.hpp"
#include "resources/song/dsp.hpp"
#include "resources/song/loudness.hpp"

namespace song {
namespace {

constexpr double kPreCompressionLufs = -20.0;
constexpr double kFullScale = 32768.0;

void Scale(TStereoSpan io, double gain) {
  for (std::size_t i = 0; i < io.Left.size(); ++i) {
    io.Left[i] = static_cast<float>(io.Left[i] * gain);
    io.Right[i] = static_cast<float>(io.Right[i] * gain);
  }
}

double Measure(TStereoSpan io, double sampleRate) {
  const double loudness = IntegratedLoudness(io.Left, io.Right, sampleRate);
  if (!std::isfinite(loudness)) throw std::runtime_error("the mix is silent");
  return loudness;
}

// Second-order Butterworth high-pass, removing DC and sub-sonic rumble.
void LowCut(TStereoSpan io, double cutoffHz, double sampleRate) {
  TStateVariableFilter left, right;
  const double butterworth = 1.0 - std::numbers::sqrt2 / 2.0;  // Q = 0.707
  left.Set(cutoffHz, butterworth, sampleRate);
  right.Set(cutoffHz, butterworth, sampleRate);
  for (std::size_t i = 0; i < io.Left.size(); ++i) {
    io.Left[i] = static_cast<float>(left.High(io.Left[i]));
    io.Right[i] = static_cast<float>(right.High(io.Right[i]));
  }
}

// Feed-forward compressor with a soft knee, driven by the short-term power of the louder
// channel; returns the deepest gain reduction in dB.
double Compress(TStereoSpan io, const TMasterSettings& settings, double sampleRate) {
  const double powerCoef = 1.0 - std::exp(-1.0 / (0.005 * sampleRate));
  const double attack = std::exp(-1.0 / (settings.AttackSeconds * sampleRate));
  const double release = std::exp(-1.0 / (settings.ReleaseSeconds * sampleRate));
  const double slope = 1.0 / settings.Ratio - 1.0;
  const double knee = settings.KneeDb;
  double power = 0.0, reduction = 0.0, deepest = 0.0;
  for (std::size_t i = 0; i < io.Left.size(); ++i) {
    const double l = io.Left[i], r = io.Right[i];
    power += (std::max(l * l, r * r) - power) * powerCoef;
    const double over = 10.0 * std::log10(power + 1e-12) + 3.01 - settings.ThresholdDb;  // +3 dB: sine peak vs mean
    double target = 0.0;
    if (2.0 * over >= knee) {
      target = slope * over;
    } else if (2.0 * over > -knee) {
      target = slope * (over + knee / 2.0) * (over + knee / 2.0) / (2.0 * knee);
    }
    const double coef = target < reduction ? attack : release;
    reduction = coef * reduction + (1.0 - coef) * target;
    deepest = std::min(deepest, reduction);
    const double gain = DbToGain(reduction);
    io.Left[i] = static_cast<float>(l * gain);
    io.Right[i] = static_cast<float>(r * gain);
  }
  return -deepest;
}

// Gain of the closing fade at a frame: 1 before it, cos^3 down to exactly 0 at its end.
double FadeGain(std::size_t frame, const TMasterSettings& settings, double sampleRate) {
  if (!settings.FadeFromSeconds || !settings.FadeToSeconds) return 1.0;
  const double t = static_cast<double>(frame) / sampleRate;
  const double progress = (t - *settings.FadeFromSeconds) / (*settings.FadeToSeconds - *settings.FadeFromSeconds);
  if (progress <= 0.0) return 1.0;
  if (progress >= 1.0) return 0.0;
  const double c = std::cos(progress * std::numbers::pi / 2.0);
  return c * c * c;
}

// Look-ahead limiter. The gain each sample needs is min-filtered over the look-ahead
// window, released smoothly, then averaged over the same window: every averaged value
// comes from windows that contain the peak, so no sample exceeds the ceiling and the
// gain never steps. Writes gain * input * fade into out; returns the deepest reduction.
double Limit(TStereoSpan input, TStereoSpan out, double gain, const TMasterSettings& settings, double sampleRate) {
  const std::size_t count = input.Left.size();
  const double ceiling = DbToGain(settings.CeilingDb);
  const std::size_t window = std::max<std::size_t>(1, static_cast<std::size_t>(settings.LimiterLookaheadSeconds * sampleRate));
  std::vector<double> need(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double peak = std::max(std::abs(input.Left[i]), std::abs(input.Right[i])) * gain;
    need[i] = peak > ceiling ? ceiling / peak : 1.0;
  }
  // Sliding minimum over need[i .. i + window - 1].
  std::vector<double> smooth(count);
  std::deque<std::size_t> candidates;
  const double releaseCoef = 1.0 - std::exp(-1.0 / (settings.LimiterReleaseSeconds * sampleRate));
  double released = 1.0;
  std::size_t next = 0;
  for (std::size_t i = 0; i < count; ++i) {
    while (next < count && next < i + window) {
      while (!candidates.empty() && need[candidates.back()] >= need[next]) candidates.pop_back();
      candidates.push_back(next++);
    }
    while (candidates.front() < i) candidates.pop_front();
    const double minimum = need[CheckIndex(candidates.front(), count)];
    released = minimum < released ? minimum : released + (minimum - released) * releaseCoef;
    smooth[i] = released;
  }
  double deepest = 1.0;
  double sum = smooth.empty() ? 0.0 : smooth[0] * static_cast<double>(window);
  for (std::size_t i = 0; i < count; ++i) {
    sum += smooth[i] - (i >= window ? smooth[i - window] : smooth[0]);
    const double limiterGain = std::min(1.0, sum / static_cast<double>(window));
    deepest = std::min(deepest, limiterGain);
    const double g = gain * limiterGain * FadeGain(i, settings, sampleRate);
    // The clamp only guards against rounding in the running sum.
    out.Left[i] = static_cast<float>(std::clamp(input.Left[i] * g, -ceiling, ceiling));
    out.Right[i] = static_cast<float>(std::clamp(input.Right[i] * g, -ceiling, ceiling));
  }
  return -GainToDb(deepest);
}

std::int16_t Quantise(double value, double dither) {
  const double scaled = std::round(value * kFullScale + dither);
  return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

}  // namespace

std::vector<std::int16_t> MasterMix(TStereoSpan mix, const TMasterSettings& settings, double sampleRate,
                                    TMasterReport& report) {
  Assert(mix.Left.size() == mix.Right.size(), "mix halves differ in length", "song mastering", __LINE__);
  const std::size_t count = mix.Left.size();
  LowCut(mix, settings.LowCutHz, sampleRate);
  Scale(mix, DbToGain(kPreCompressionLufs - Measure(mix, sampleRate)));
  report.MaxCompressionDb = Compress(mix, settings, sampleRate);

  // The limiter and the fade change the loudness a little, so aim, measure and correct.
  std::vector<float> outLeft(count), outRight(count);
  const TStereoSpan out{outLeft, outRight};
  double gainDb = settings.TargetLufs - Measure(mix, sampleRate);
  for (int pass = 0; pass < 4; ++pass) {
    report.MaxLimitingDb = Limit(mix, out, DbToGain(gainDb), settings, sampleRate);
    report.LoudnessLufs = Measure(out, sampleRate);
    if (std::abs(report.LoudnessLufs - settings.TargetLufs) < 0.05) break;
    gainDb += settings.TargetLufs - report.LoudnessLufs;
  }
  report.MakeupDb = gainDb;

  std::vector<std::int16_t> samples(count * 2);
  TRandom random(settings.DitherSeed);
  int peak = 0;
  for (std::size_t i = 0; i < count; ++i) {
    // Triangular dither of one step; none once the fade has reached silence.
    const double scale = FadeGain(i, settings, sampleRate) > 0.0 ? 1.0 : 0.0;
    const double ditherLeft = (random.Unit() - random.Unit()) * scale;
    const double ditherRight = (random.Unit() - random.Unit()) * scale;
    samples[2 * i] = Quantise(outLeft[i], ditherLeft);
    samples[2 * i + 1] = Quantise(outRight[i], ditherRight);
    peak = std::max({peak, std::abs(int{samples[2 * i]}), std::abs(int{samples[2 * i + 1]})});
  }
  report.PeakDb = GainToDb(peak / kFullScale);
  return samples;
}

}  // namespace song
