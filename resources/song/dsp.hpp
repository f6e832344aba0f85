// Small signal-processing building blocks of the song synthesizer: a seeded random
// generator, band-limited oscillators (polyBLEP), an envelope with smooth exponential
// segments, a zero-delay-feedback state-variable filter, one-pole filters and panning.
// Header-only; depends on the standard library only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace song {

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;

// SplitMix64: tiny, fast and fully determined by its seed.
class TRandom {
 public:
  explicit TRandom(std::uint64_t seed) : State(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  // Uniform in [-1, 1).
  double Bipolar() { return Unit() * 2.0 - 1.0; }

 private:
  std::uint64_t State;
};

inline double MidiToHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }
inline double DbToGain(double db) { return std::pow(10.0, db / 20.0); }
inline double GainToDb(double gain) { return 20.0 * std::log10(std::max(gain, 1e-12)); }

// sin(2 pi cycles) by range reduction and an odd Taylor polynomial (error below 1e-7),
// several times faster than std::sin and the same on every machine.
inline double SinCycles(double cycles) {
  double x = cycles - std::floor(cycles + 0.5);  // [-0.5, 0.5)
  if (x > 0.25) {
    x = 0.5 - x;
  } else if (x < -0.25) {
    x = -0.5 - x;
  }
  const double z = x * kTwoPi;
  const double z2 = z * z;
  return z * (1.0 + z2 * (-1.0 / 6.0 + z2 * (1.0 / 120.0 + z2 * (-1.0 / 5040.0 + z2 * (1.0 / 362880.0 +
                                                                                        z2 * (-1.0 / 39916800.0))))));
}

// The polyBLEP residual: subtracting it at each discontinuity removes most of the
// aliasing of a naive sawtooth or pulse.
inline double PolyBlep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

// A phase accumulator with band-limited saw, pulse and plain sine outputs.
class TOscillator {
 public:
  void SetPhase(double phase) { Phase = phase - std::floor(phase); }
  void SetFrequency(double hz, double sampleRate) { Step = std::clamp(hz / sampleRate, 0.0, 0.45); }
  double Saw() {
    const double value = 2.0 * Phase - 1.0 - PolyBlep(Phase, Step);
    Advance();
    return value;
  }
  double Pulse(double width) {
    double shifted = Phase + (1.0 - width);
    shifted -= std::floor(shifted);
    double value = Phase < width ? 1.0 : -1.0;
    value += PolyBlep(Phase, Step);
    value -= PolyBlep(shifted, Step);
    Advance();
    return value;
  }
  // A blend of the band-limited saw and square at one phase: 0 is all saw, 1 all square.
  double SawSquare(double squareMix) {
    const double saw = 2.0 * Phase - 1.0 - PolyBlep(Phase, Step);
    double shifted = Phase + 0.5;
    shifted -= std::floor(shifted);
    const double square = (Phase < 0.5 ? 1.0 : -1.0) + PolyBlep(Phase, Step) - PolyBlep(shifted, Step);
    Advance();
    return saw + (square - saw) * squareMix;
  }
  double Sine() {
    const double value = SinCycles(Phase);
    Advance();
    return value;
  }
  double PhaseNow() const { return Phase; }
  void Advance() {
    Phase += Step;
    if (Phase >= 1.0) Phase -= 1.0;
  }

 private:
  double Phase = 0.0;
  double Step = 0.0;
};

// Attack, decay, sustain, release. Every segment moves the level towards a target with
// a one-pole step, so there is never a jump; the attack aims past 1 so that it arrives
// in about the given time instead of creeping up asymptotically. decay is the time
// constant of the fall to the sustain level; release is the time to fall by 60 dB.
class TEnvelope {
 public:
  static constexpr double kSixtyDbInTimeConstants = 6.907755;  // ln(1000)
  static constexpr double kAttackTarget = 1.6;
  // Time constants until a rise towards kAttackTarget passes 1: ln(1.6 / 0.6).
  static constexpr double kAttackTimeConstants = 0.980829;
  TEnvelope(double attack, double decay, double sustain, double release, double sampleRate)
      : AttackCoef(Coef(std::max(attack, 0.002) / kAttackTimeConstants, sampleRate)),
        DecayCoef(Coef(std::max(decay, 0.005), sampleRate)),
        ReleaseCoef(Coef(std::max(release, 0.01) / kSixtyDbInTimeConstants, sampleRate)),
        Sustain(std::clamp(sustain, 0.0, 1.0)) {}

  double Next() {
    switch (Stage) {
      case EStage::Attack:
        Level += (kAttackTarget - Level) * AttackCoef;
        if (Level >= 1.0) {
          Level = 1.0;
          Stage = EStage::Decay;
        }
        break;
      case EStage::Decay:
        Level += (Sustain - Level) * DecayCoef;
        break;
      case EStage::Release:
        Level -= Level * ReleaseCoef;
        break;
    }
    return Level;
  }
  void Release() { Stage = EStage::Release; }
  bool Releasing() const { return Stage == EStage::Release; }
  double LevelNow() const { return Level; }

 private:
  enum class EStage { Attack, Decay, Release };
  // Per-sample step of a one-pole with time constant seconds.
  static double Coef(double seconds, double sampleRate) { return 1.0 - std::exp(-1.0 / (seconds * sampleRate)); }
  double AttackCoef, DecayCoef, ReleaseCoef, Sustain;
  double Level = 0.0;
  EStage Stage = EStage::Attack;
};

// Zero-delay-feedback state-variable filter (trapezoidal integration): stable under fast
// cutoff changes, with simultaneous low-, band- and high-pass outputs.
class TStateVariableFilter {
 public:
  struct TOutput {
    double Low, Band, High;
  };
  // resonance in [0, 1): 0 is Q = 0.5, near 1 rings.
  void Set(double cutoffHz, double resonance, double sampleRate) {
    const double limited = std::clamp(cutoffHz, 10.0, sampleRate * 0.45);
    const double g = std::tan(std::numbers::pi * limited / sampleRate);
    K = 2.0 - 2.0 * std::clamp(resonance, 0.0, 0.98);
    A1 = 1.0 / (1.0 + g * (g + K));
    A2 = g * A1;
    A3 = g * A2;
  }
  TOutput Process(double input) {
    const double v3 = input - Ic2;
    const double v1 = A1 * Ic1 + A2 * v3;
    const double v2 = Ic2 + A2 * Ic1 + A3 * v3;
    Ic1 = 2.0 * v1 - Ic1;
    Ic2 = 2.0 * v2 - Ic2;
    return {v2, v1, input - K * v1 - v2};
  }
  double Low(double input) { return Process(input).Low; }
  double High(double input) { return Process(input).High; }
  double Band(double input) { return Process(input).Band; }

 private:
  double K = 2.0, A1 = 0.0, A2 = 0.0, A3 = 0.0;
  double Ic1 = 0.0, Ic2 = 0.0;
};

// One-pole low-pass; the high-pass is the input minus it.
class TOnePole {
 public:
  void Set(double cutoffHz, double sampleRate) { Coef = 1.0 - std::exp(-kTwoPi * cutoffHz / sampleRate); }
  double Low(double input) { return State += (input - State) * Coef; }
  double High(double input) { return input - Low(input); }

 private:
  double Coef = 1.0;
  double State = 0.0;
};

// Equal-power pan law: pan -1 is hard left, 0 centre (both -3 dB), +1 hard right.
struct TPanGains {
  double Left, Right;
};
inline TPanGains PanGains(double pan) {
  const double angle = (std::clamp(pan, -1.0, 1.0) + 1.0) * std::numbers::pi / 4.0;
  return {std::cos(angle), std::sin(angle)};
}

// Gentle symmetric saturation that stays linear for small signals: a rational
// approximation of tanh that reaches exactly 1 at |x| = 3 and stays there.
inline double SoftClip(double x) {
  const double c = std::clamp(x, -3.0, 3.0);
  return c * (27.0 + c * c) / (27.0 + 9.0 * c * c);
}

// An exponential fall from a start value, one multiplication per sample.
class TDecay {
 public:
  TDecay(double timeConstantSeconds, double sampleRate, double start = 1.0)
      : Value(start), Factor(std::exp(-1.0 / (timeConstantSeconds * sampleRate))) {}
  double Next() {
    const double value = Value;
    Value *= Factor;
    return value;
  }

 private:
  double Value;
  double Factor;
};

}  // namespace song
