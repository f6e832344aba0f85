// The loudness meter (see loudness.hpp).
#include "resources/song/loudness.hpp"

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "base/fatal.hpp"

namespace song {
namespace {

// Analog prototypes of the two K-weighting stages, mapped to the sample rate with the
// bilinear transform (at 48 kHz this reproduces the published coefficients).
constexpr double kShelfHz = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kHighPassHz = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;

constexpr double kAbsoluteGate = -70.0;
constexpr double kRelativeGate = -10.0;
constexpr double kOffset = -0.691;

class TBiquadState {
 public:
  explicit TBiquadState(const TBiquad& filter) : F(filter) {}
  double Process(double x) {
    const double y = F.B[0] * x + S1;
    S1 = F.B[1] * x - F.A[1] * y + S2;
    S2 = F.B[2] * x - F.A[2] * y;
    return y;
  }

 private:
  TBiquad F;
  double S1 = 0.0, S2 = 0.0;
};

// Mean square of the K-weighted signal over consecutive 100 ms segments.
std::vector<double> SegmentPowers(std::span<const float> samples, const TKWeighting& weighting, std::size_t segment) {
  TBiquadState shelf(weighting.Shelf), highPass(weighting.HighPass);
  std::vector<double> powers;
  double sum = 0.0;
  std::size_t filled = 0;
  for (const float sample : samples) {
    const double y = highPass.Process(shelf.Process(sample));
    sum += y * y;
    if (++filled == segment) {
      powers.push_back(sum / static_cast<double>(segment));
      sum = 0.0;
      filled = 0;
    }
  }
  return powers;
}

double Loudness(double power) { return kOffset + 10.0 * std::log10(power); }

}  // namespace

TKWeighting KWeightingFor(double sampleRate) {
  TKWeighting weighting;
  {
    const double k = std::tan(std::numbers::pi * kShelfHz / sampleRate);
    const double vh = std::pow(10.0, kShelfGainDb / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / kShelfQ + k * k;
    weighting.Shelf.B = {(vh + vb * k / kShelfQ + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / kShelfQ + k * k) / a0};
    weighting.Shelf.A = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / kShelfQ + k * k) / a0};
  }
  {
    const double k = std::tan(std::numbers::pi * kHighPassHz / sampleRate);
    const double a0 = 1.0 + k / kHighPassQ + k * k;
    weighting.HighPass.B = {1.0, -2.0, 1.0};
    weighting.HighPass.A = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / kHighPassQ + k * k) / a0};
  }
  return weighting;
}

double IntegratedLoudness(std::span<const float> left, std::span<const float> right, double sampleRate) {
  Assert(left.size() == right.size(), "channels differ in length", "song loudness", __LINE__);
  const TKWeighting weighting = KWeightingFor(sampleRate);
  const std::size_t segment = static_cast<std::size_t>(std::lround(sampleRate * 0.1));
  const std::vector<double> powersLeft = SegmentPowers(left, weighting, segment);
  const std::vector<double> powersRight = SegmentPowers(right, weighting, segment);

  // A 400 ms block is four consecutive segments; blocks start every segment.
  std::vector<double> blocks;
  for (std::size_t first = 0; first + 4 <= powersLeft.size(); ++first) {
    double power = 0.0;
    for (std::size_t k = first; k < first + 4; ++k) {
      power += powersLeft.at(k) + powersRight.at(k);
    }
    blocks.push_back(power / 4.0);
  }

  double sum = 0.0;
  std::size_t count = 0;
  for (const double power : blocks) {
    if (Loudness(power) > kAbsoluteGate) {
      sum += power;
      ++count;
    }
  }
  if (count == 0) return -std::numeric_limits<double>::infinity();
  const double relativeGate = Loudness(sum / static_cast<double>(count)) + kRelativeGate;

  sum = 0.0;
  count = 0;
  for (const double power : blocks) {
    const double loudness = Loudness(power);
    if (loudness > kAbsoluteGate && loudness > relativeGate) {
      sum += power;
      ++count;
    }
  }
  if (count == 0) return -std::numeric_limits<double>::infinity();
  return Loudness(sum / static_cast<double>(count));
}

}  // namespace song
