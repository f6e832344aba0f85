// Reverb and delay over whole buffers (see effects.hpp).
#include "resources/song/effects.hpp"

#include <array>
#include <cmath>
#include <vector>

#include "base/fatal.hpp"
#include "resources/song/dsp.hpp"

namespace song {
namespace {

// A circular delay line whose read position is its write position.
class TDelayLine {
 public:
  explicit TDelayLine(std::size_t length) : Buffer(std::max<std::size_t>(length, 1), 0.0) {}
  double Read() const { return Buffer[CheckIndex(Position, Buffer.size())]; }
  void Write(double value) {
    Buffer[CheckIndex(Position, Buffer.size())] = value;
    if (++Position == Buffer.size()) Position = 0;
  }

 private:
  std::vector<double> Buffer;
  std::size_t Position = 0;
};

class TComb {
 public:
  TComb(std::size_t length, double feedback, double damping) : Line(length), Feedback(feedback), Damping(damping) {}
  double Process(double input) {
    const double output = Line.Read();
    Filtered = output * (1.0 - Damping) + Filtered * Damping;
    Line.Write(input + Filtered * Feedback);
    return output;
  }

 private:
  TDelayLine Line;
  double Feedback, Damping;
  double Filtered = 0.0;
};

class TAllPass {
 public:
  explicit TAllPass(std::size_t length) : Line(length) {}
  double Process(double input) {
    const double delayed = Line.Read();
    Line.Write(input + delayed * 0.5);
    return delayed - input;
  }

 private:
  TDelayLine Line;
};

// Comb and all-pass lengths in frames at 44.1 kHz; the right side's are a little longer
// so the two tails are decorrelated.
constexpr std::array<std::size_t, 8> kCombLengths = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<std::size_t, 4> kAllPassLengths = {556, 441, 341, 225};
constexpr std::size_t kStereoSpread = 23;

class TReverbSide {
 public:
  TReverbSide(std::size_t offset, double scale, double feedback, double damping) {
    for (std::size_t length : kCombLengths) Combs.emplace_back(Scaled(length + offset, scale), feedback, damping);
    for (std::size_t length : kAllPassLengths) AllPasses.emplace_back(Scaled(length + offset, scale));
  }
  double Process(double input) {
    double sum = 0.0;
    for (TComb& comb : Combs) sum += comb.Process(input);
    for (TAllPass& allPass : AllPasses) sum = allPass.Process(sum);
    return sum;
  }

 private:
  static std::size_t Scaled(std::size_t length, double scale) {
    return static_cast<std::size_t>(std::lround(static_cast<double>(length) * scale));
  }
  std::vector<TComb> Combs;
  std::vector<TAllPass> AllPasses;
};

}  // namespace

void ApplyReverb(TStereoSpan io, const TReverbSettings& settings, double sampleRate) {
  Assert(io.Left.size() == io.Right.size(), "reverb halves differ in length", "song effects", __LINE__);
  const double scale = sampleRate / 44100.0;
  TReverbSide left(0, scale, settings.Feedback, settings.Damping);
  TReverbSide right(kStereoSpread, scale, settings.Feedback, settings.Damping);
  TDelayLine preDelay(static_cast<std::size_t>(settings.PreDelaySeconds * sampleRate));
  TOnePole lowCut, highCut;
  lowCut.Set(settings.LowCutHz, sampleRate);
  highCut.Set(settings.HighCutHz, sampleRate);
  const double wet1 = 0.5 * (1.0 + settings.Width), wet2 = 0.5 * (1.0 - settings.Width);
  constexpr double kInputGain = 0.03;  // the combs sum eight loud paths
  for (std::size_t i = 0; i < io.Left.size(); ++i) {
    const double input = highCut.Low(lowCut.High((io.Left[i] + io.Right[i]) * kInputGain));
    const double delayed = preDelay.Read();
    preDelay.Write(input);
    const double outLeft = left.Process(delayed), outRight = right.Process(delayed);
    io.Left[i] = static_cast<float>(outLeft * wet1 + outRight * wet2);
    io.Right[i] = static_cast<float>(outRight * wet1 + outLeft * wet2);
  }
}

void ApplyPingPongDelay(TStereoSpan io, const TDelaySettings& settings, double sampleRate) {
  Assert(io.Left.size() == io.Right.size(), "delay halves differ in length", "song effects", __LINE__);
  const std::size_t length = static_cast<std::size_t>(std::lround(settings.DelaySeconds * sampleRate));
  TDelayLine lineLeft(length), lineRight(length);
  TOnePole lowCutLeft, lowCutRight, highCutLeft, highCutRight;
  lowCutLeft.Set(settings.LowCutHz, sampleRate);
  lowCutRight.Set(settings.LowCutHz, sampleRate);
  highCutLeft.Set(settings.HighCutHz, sampleRate);
  highCutRight.Set(settings.HighCutHz, sampleRate);
  for (std::size_t i = 0; i < io.Left.size(); ++i) {
    const double echoLeft = lineLeft.Read(), echoRight = lineRight.Read();
    const double input = 0.5 * (io.Left[i] + io.Right[i]);
    // The input enters on the left; each echo crosses to the other side.
    lineLeft.Write(highCutLeft.Low(lowCutLeft.High(input + echoRight * settings.Feedback)));
    lineRight.Write(highCutRight.Low(lowCutRight.High(echoLeft * settings.Feedback)));
    io.Left[i] = static_cast<float>(echoLeft);
    io.Right[i] = static_cast<float>(echoRight);
  }
}

}  // namespace song
