// Synthesis of single notes (see voices.hpp). Every voice runs sample by sample from its
// start frame until its envelope has decayed below -80 dB after the note's end.
#include "resources/song/voices.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "base/fatal.hpp"
#include "resources/song/dsp.hpp"

namespace song {
namespace {

constexpr double kSilent = 1e-4;         // -80 dB: a voice below this after its release is done
constexpr std::size_t kControlStep = 32; // frames between updates of filter cutoffs and pitch
constexpr double kMaxTailSeconds = 30.0;

// Where a note lands in the song and how it reads its instrument's settings.
class TNoteContext {
 public:
  TNoteContext(const TVoiceSetup& setup, const TNote& note, TStereoSpan out)
      : Setup(setup), Instrument(setup.Score.Instruments.at(setup.InstrumentIndex)), Note(note), Out(out) {
    Assert(out.Left.size() == out.Right.size(), "stereo buffer halves differ in length", "song voices", __LINE__);
    const double startSeconds = setup.Score.SecondsAt(note.Start);
    const double lengthSeconds = setup.Score.SecondsAt(note.Start + note.Length) - startSeconds;
    Start = Narrow<std::size_t>(std::llround(startSeconds * setup.SampleRate));
    OffFrames = Narrow<std::size_t>(std::max<long long>(1, std::llround(lengthSeconds * setup.SampleRate)));
    MaxFrames = OffFrames + static_cast<std::size_t>(kMaxTailSeconds * setup.SampleRate);
  }

  double Param(const char* name) const { return Instrument.Param(name); }

  // A parameter that a ramp may move, read at a frame offset from the note start.
  double ParamAt(const char* name, std::size_t offset) const {
    if (const TRamp* ramp = Setup.Score.FindRamp(Setup.InstrumentIndex, name)) {
      const double seconds = static_cast<double>(Start + offset) / Setup.SampleRate;
      return ramp->ValueAt(Setup.Score.BeatAt(seconds));
    }
    return Instrument.Param(name);
  }

  // Adds one frame; false once the frame lies past the end of the song or the tail cap.
  bool Add(std::size_t offset, double left, double right) const {
    const std::size_t frame = Start + offset;
    if (offset >= MaxFrames || frame >= Out.Left.size()) return false;
    Out.Left[frame] += static_cast<float>(left);
    Out.Right[frame] += static_cast<float>(right);
    End = frame + 1;
    return true;
  }

  double Rate() const { return Setup.SampleRate; }
  double Seconds(std::size_t offset) const { return static_cast<double>(offset) / Setup.SampleRate; }

  const TVoiceSetup& Setup;
  const TInstrument& Instrument;
  const TNote& Note;
  TStereoSpan Out;
  std::size_t Start = 0;      // first frame in the song
  std::size_t OffFrames = 0;  // frames until the note is released
  std::size_t MaxFrames = 0;
  mutable std::size_t End = 0;  // one past the last frame written
};

// Spread value k of count evenly over -1..1 (0 when there is only one).
double Spread(std::size_t k, std::size_t count) {
  if (count <= 1) return 0.0;
  return 2.0 * static_cast<double>(k) / static_cast<double>(count - 1) - 1.0;
}

// Gains of a pan position scaled so that the centre is unity on both sides.
TPanGains UnityPan(double pan) {
  const TPanGains gains = PanGains(pan);
  return {gains.Left * std::numbers::sqrt2, gains.Right * std::numbers::sqrt2};
}

double Cents(double cents) { return std::exp2(cents / 1200.0); }

// Runs a sustained voice: sample(offset, envelopeLevel) gives the stereo frame before
// the envelope; the loop releases the envelope at the note's end and stops once silent.
template <class TSample>
void RunSustained(const TNoteContext& note, TEnvelope& envelope, TSample&& sample) {
  for (std::size_t i = 0;; ++i) {
    if (i == note.OffFrames) envelope.Release();
    const double level = envelope.Next();
    if (envelope.Releasing() && level < kSilent) break;
    const auto [left, right] = sample(i, level);
    if (!note.Add(i, left * level, right * level)) break;
  }
}

struct TFrame {
  double Left, Right;
};

void RenderPad(const TNoteContext& note, TRandom& random) {
  const std::size_t count = static_cast<std::size_t>(std::clamp(note.Param("voices"), 1.0, 9.0));
  const double detune = note.Param("detune");
  const double width = note.Param("width");
  const double envAmount = note.Param("envamount");
  const double resonance = note.Param("resonance");
  const double vibrato = note.Param("vibrato");
  const double baseHz = MidiToHz(note.Note.Pitch);
  const double keyTrack = std::pow(baseHz / 261.6, 0.3);
  std::vector<TOscillator> oscillators(count);
  std::vector<double> ratios(count), drift(count), driftRate(count);
  std::vector<TPanGains> pans(count);
  for (std::size_t k = 0; k < count; ++k) {
    const double position = Spread(k, count);
    ratios[k] = Cents(detune * position * (0.85 + 0.3 * random.Unit()));
    pans[k] = UnityPan(width * (k % 2 == 0 ? position : -position));
    oscillators[k].SetPhase(random.Unit());
    drift[k] = random.Unit();
    driftRate[k] = 0.08 + 0.2 * random.Unit();
  }
  const double norm = 0.5 / std::sqrt(static_cast<double>(count));
  TEnvelope envelope(note.Param("attack"), note.Param("decay"), note.Param("sustain"), note.Param("release"), note.Rate());
  TStateVariableFilter filterLeft, filterRight;
  const double velocity = note.Note.Velocity;
  RunSustained(note, envelope, [&](std::size_t i, double level) {
    if (i % kControlStep == 0) {
      const double t = note.Seconds(i);
      const double wobble = vibrato * std::sin(kTwoPi * 4.8 * t) * std::min(1.0, t / 1.5);
      for (std::size_t k = 0; k < count; ++k) {
        const double slow = 2.5 * std::sin(kTwoPi * (drift[k] + driftRate[k] * t));  // cents of slow drift
        oscillators[k].SetFrequency(baseHz * ratios[k] * Cents(slow + 100.0 * wobble), note.Rate());
      }
      const double cutoff = note.ParamAt("cutoff", i) * keyTrack * std::exp2(envAmount * level);
      filterLeft.Set(cutoff, resonance, note.Rate());
      filterRight.Set(cutoff, resonance, note.Rate());
    }
    double left = 0.0, right = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
      const double value = oscillators[k].Saw();
      left += value * pans[k].Left;
      right += value * pans[k].Right;
    }
    return TFrame{filterLeft.Low(left) * norm * velocity, filterRight.Low(right) * norm * velocity};
  });
}

void RenderPluck(const TNoteContext& note, TRandom& random) {
  const double baseHz = MidiToHz(note.Note.Pitch);
  const double detune = note.Param("detune");
  const double width = note.Param("width");
  const double pulseMix = std::clamp(note.Param("pulse"), 0.0, 1.0);
  const double envAmount = note.Param("envamount") * (0.5 + 0.5 * note.Note.Velocity);
  const double resonance = note.Param("resonance");
  const double filterDecay = std::max(0.01, note.Param("decay") * 0.6);
  TOscillator left, right;
  left.SetPhase(random.Unit());
  right.SetPhase(random.Unit());
  left.SetFrequency(baseHz * Cents(-detune * 0.5), note.Rate());
  right.SetFrequency(baseHz * Cents(detune * 0.5), note.Rate());
  const TPanGains leftPan = UnityPan(-width), rightPan = UnityPan(width);
  const double keyTrack = std::pow(baseHz / 261.6, 0.5);
  TEnvelope envelope(note.Param("attack"), note.Param("decay"), note.Param("sustain"), note.Param("release"), note.Rate());
  TStateVariableFilter filterLeft, filterRight;
  const double gain = 0.45 * note.Note.Velocity;
  RunSustained(note, envelope, [&](std::size_t i, double) {
    if (i % kControlStep == 0) {
      const double filterEnvelope = std::exp(-note.Seconds(i) / filterDecay);
      const double cutoff = note.ParamAt("cutoff", i) * keyTrack * std::exp2(envAmount * filterEnvelope);
      filterLeft.Set(cutoff, resonance, note.Rate());
      filterRight.Set(cutoff, resonance, note.Rate());
    }
    const double a = left.SawSquare(pulseMix);
    const double b = right.SawSquare(pulseMix);
    const double outLeft = a * leftPan.Left + b * rightPan.Left;
    const double outRight = a * leftPan.Right + b * rightPan.Right;
    return TFrame{filterLeft.Low(outLeft) * gain, filterRight.Low(outRight) * gain};
  });
}

// Two-operator FM: a sine carrier whose phase a decaying sine modulator bends; a soft
// auto-pan gives the tremolo of an electric piano.
void RenderKeys(const TNoteContext& note, TRandom& random) {
  const double baseHz = MidiToHz(note.Note.Pitch);
  const double ratio = note.Param("ratio");
  const double index = note.Param("index") * (0.35 + 0.65 * note.Note.Velocity);
  const double tremolo = note.Param("tremolo");
  const double width = note.Param("width");
  const double pitchScale = std::exp2(-(note.Note.Pitch - 60.0) / 24.0);
  TEnvelope envelope(note.Param("attack"), note.Param("decay") * pitchScale, 0.0, note.Param("release"), note.Rate());
  TOscillator carrier, modulator, shimmer;
  carrier.SetFrequency(baseHz, note.Rate());
  modulator.SetFrequency(baseHz * ratio, note.Rate());
  shimmer.SetFrequency(baseHz * 2.0 * Cents(3.0), note.Rate());
  const double tremoloPhase = random.Unit();
  const double gain = 0.35 * note.Note.Velocity;
  const double indexFall = std::exp(-1.0 / (0.35 * note.Rate()));
  const double shimmerFall = std::exp(-1.0 / (0.15 * note.Rate()));
  double indexDecay = 1.0, shimmerLevel = 0.12;
  TPanGains gains{1.0, 1.0};
  RunSustained(note, envelope, [&](std::size_t i, double) {
    if (i % kControlStep == 0) {
      const double pan = width * tremolo * 4.0 * SinCycles(tremoloPhase + 4.2 * note.Seconds(i));
      gains = UnityPan(std::clamp(pan, -1.0, 1.0));
    }
    const double mod = modulator.Sine() * index * (0.2 + 0.8 * indexDecay) / kTwoPi;
    const double value = SinCycles(carrier.PhaseNow() + mod) + shimmerLevel * shimmer.Sine();
    carrier.Advance();
    indexDecay *= indexFall;
    shimmerLevel *= shimmerFall;
    return TFrame{value * gains.Left * gain, value * gains.Right * gain};
  });
}

void RenderBass(const TNoteContext& note, TRandom& random) {
  const double baseHz = MidiToHz(note.Note.Pitch);
  const double sub = std::clamp(note.Param("sub"), 0.0, 1.0);
  const double drive = std::max(0.1, note.Param("drive"));
  const double envAmount = note.Param("envamount") * (0.4 + 0.6 * note.Note.Velocity);
  const double resonance = note.Param("resonance");
  const double filterDecay = std::max(0.01, note.Param("decay"));
  TOscillator saw, sine;
  const double phase = random.Unit();
  saw.SetPhase(phase);
  sine.SetPhase(phase);
  saw.SetFrequency(baseHz, note.Rate());
  sine.SetFrequency(baseHz, note.Rate());
  TEnvelope envelope(note.Param("attack"), note.Param("decay"), note.Param("sustain"), note.Param("release"), note.Rate());
  TStateVariableFilter filter;
  const double gain = 0.5 * note.Note.Velocity / SoftClip(drive);
  RunSustained(note, envelope, [&](std::size_t i, double) {
    if (i % kControlStep == 0) {
      const double cutoff = note.ParamAt("cutoff", i) * std::exp2(envAmount * std::exp(-note.Seconds(i) / filterDecay));
      filter.Set(cutoff, resonance, note.Rate());
    }
    const double raw = saw.Saw() * (1.0 - 0.5 * sub) + sine.Sine() * sub;
    const double value = SoftClip(drive * filter.Low(raw)) * gain;
    return TFrame{value, value};
  });
}

void RenderLead(const TNoteContext& note, TRandom& random, double glideFrom) {
  const double detune = note.Param("detune");
  const double width = note.Param("width");
  const double pulseMix = std::clamp(note.Param("pulse"), 0.0, 1.0);
  const double vibratoDepth = note.Param("vibrato");
  const double vibratoRate = note.Param("vibratorate");
  const double vibratoDelay = note.Param("vibratodelay");
  const double glide = std::max(0.001, note.Param("glide"));
  const double resonance = note.Param("resonance");
  TOscillator a, b;
  a.SetPhase(random.Unit());
  b.SetPhase(random.Unit());
  const TPanGains panA = UnityPan(-width), panB = UnityPan(width);
  TEnvelope envelope(note.Param("attack"), note.Param("decay"), note.Param("sustain"), note.Param("release"), note.Rate());
  TStateVariableFilter filterLeft, filterRight;
  const double gain = 0.4 * note.Note.Velocity;
  RunSustained(note, envelope, [&](std::size_t i, double level) {
    if (i % kControlStep == 0) {
      const double t = note.Seconds(i);
      const double vibratoAmount = vibratoDepth * std::clamp((t - vibratoDelay) / 0.5, 0.0, 1.0);
      const double pitch = note.Note.Pitch + (glideFrom - note.Note.Pitch) * std::exp(-t / glide) +
                           vibratoAmount * std::sin(kTwoPi * vibratoRate * t);
      const double hz = MidiToHz(pitch);
      a.SetFrequency(hz * Cents(-detune * 0.5), note.Rate());
      b.SetFrequency(hz * Cents(detune * 0.5), note.Rate());
      const double cutoff = note.ParamAt("cutoff", i) * std::pow(hz / 523.0, 0.4) * (0.6 + 0.4 * level);
      filterLeft.Set(cutoff, resonance, note.Rate());
      filterRight.Set(cutoff, resonance, note.Rate());
    }
    const double va = a.SawSquare(pulseMix);
    const double vb = b.SawSquare(pulseMix);
    const double left = va * panA.Left + vb * panB.Left;
    const double right = va * panA.Right + vb * panB.Right;
    return TFrame{filterLeft.Low(left) * gain, filterRight.Low(right) * gain};
  });
}

void RenderBell(const TNoteContext& note, TRandom& random) {
  const double baseHz = MidiToHz(note.Note.Pitch);
  const double ratio = note.Param("ratio");
  const double index = note.Param("index") * note.Note.Velocity;
  const double decay = note.Param("decay");
  const double width = note.Param("width");
  TEnvelope envelope(0.002, decay, 0.0, note.Param("release"), note.Rate());
  TOscillator carrierA, carrierB, modulator;
  carrierA.SetPhase(random.Unit());
  carrierB.SetPhase(random.Unit());
  carrierA.SetFrequency(baseHz, note.Rate());
  carrierB.SetFrequency(baseHz * Cents(4.0), note.Rate());
  modulator.SetFrequency(baseHz * ratio, note.Rate());
  const TPanGains panA = UnityPan(-width), panB = UnityPan(width);
  const double gain = 0.25 * note.Note.Velocity;
  const double indexFall = std::exp(-1.0 / (0.5 * note.Rate()));
  double depth = index;
  RunSustained(note, envelope, [&](std::size_t, double) {
    const double mod = modulator.Sine() * depth / kTwoPi;
    const double va = SinCycles(carrierA.PhaseNow() + mod);
    const double vb = SinCycles(carrierB.PhaseNow() + mod);
    carrierA.Advance();
    carrierB.Advance();
    depth *= indexFall;
    return TFrame{(va * panA.Left + vb * panB.Left) * gain, (va * panA.Right + vb * panB.Right) * gain};
  });
}

// Mixes two independent noise sources into a stereo pair whose correlation falls as
// width rises.
TFrame StereoNoise(TRandom& left, TRandom& right, double width) {
  const double a = left.Bipolar(), b = right.Bipolar();
  const double mix = 0.5 * (1.0 - std::clamp(width, 0.0, 1.0));
  return {a * (1.0 - mix) + b * mix, b * (1.0 - mix) + a * mix};
}

void RenderWaves(const TNoteContext& note, TRandom& random) {
  TRandom noiseLeft(random.Next()), noiseRight(random.Next());
  const double width = note.Param("width");
  TEnvelope envelope(note.Param("attack"), 1.0, 1.0, note.Param("release"), note.Rate());
  TStateVariableFilter filterLeft, filterRight, foamLeft, foamRight;
  const double gain = 0.5 * note.Note.Velocity;
  RunSustained(note, envelope, [&](std::size_t i, double level) {
    if (i % kControlStep == 0) {
      const double cutoff = note.ParamAt("cutoff", i) * (0.3 + 0.7 * level * level);
      filterLeft.Set(cutoff, 0.0, note.Rate());
      filterRight.Set(cutoff * 1.07, 0.0, note.Rate());
      foamLeft.Set(cutoff * 4.0, 0.3, note.Rate());
      foamRight.Set(cutoff * 4.3, 0.3, note.Rate());
    }
    const TFrame noise = StereoNoise(noiseLeft, noiseRight, width);
    const double crest = level * level * level;  // the foam only as the wave breaks
    const double left = filterLeft.Low(noise.Left) + 0.25 * crest * foamLeft.Band(noise.Left);
    const double right = filterRight.Low(noise.Right) + 0.25 * crest * foamRight.Band(noise.Right);
    return TFrame{left * gain, right * gain};
  });
}

void RenderRiser(const TNoteContext& note, TRandom& random) {
  TRandom noiseLeft(random.Next()), noiseRight(random.Next());
  const double from = note.Param("from"), to = note.Param("to");
  const double resonance = note.Param("resonance");
  const double width = note.Param("width");
  const double length = static_cast<double>(note.OffFrames);
  TEnvelope envelope(0.002, 1.0, 1.0, 0.06, note.Rate());
  TStateVariableFilter filterLeft, filterRight;
  const double gain = 0.6 * note.Note.Velocity;
  RunSustained(note, envelope, [&](std::size_t i, double) {
    const double progress = std::min(1.0, static_cast<double>(i) / length);
    if (i % kControlStep == 0) {
      const double centre = from * std::pow(to / from, progress);
      filterLeft.Set(centre, resonance, note.Rate());
      filterRight.Set(centre * 1.05, resonance, note.Rate());
    }
    const TFrame noise = StereoNoise(noiseLeft, noiseRight, width);
    const double swell = progress * progress * gain;
    return TFrame{filterLeft.Band(noise.Left) * swell, filterRight.Band(noise.Right) * swell};
  });
}

// Runs a one-shot drum: sample(offset) gives the frame; it ends when the decaying
// amplitude (reported through the second value) is silent.
template <class TSample>
void RunDrum(const TNoteContext& note, double decaySeconds, TSample&& sample) {
  const std::size_t frames = static_cast<std::size_t>(decaySeconds * std::log(1.0 / kSilent) * note.Rate()) + 1;
  const double attackFrames = 0.0008 * note.Rate();  // a short ramp so no hit starts with a step
  for (std::size_t i = 0; i < frames; ++i) {
    const double ramp = std::min(1.0, (static_cast<double>(i) + 1.0) / attackFrames);
    const TFrame frame = sample(i);
    if (!note.Add(i, frame.Left * ramp, frame.Right * ramp)) break;
  }
}

double DrumVelocity(const TNote& note) { return std::pow(note.Velocity, 1.4); }

void RenderKick(const TNoteContext& note, TRandom& random) {
  const double decay = note.Param("decay");
  const double pitch = note.Param("pitch"), sweep = note.Param("sweep");
  const double click = note.Param("click");
  const double drive = std::max(0.1, note.Param("drive"));
  const double gain = 0.9 * DrumVelocity(note.Note) / SoftClip(drive);
  double phase = 0.0;
  TOnePole clickFilter;
  clickFilter.Set(3000.0, note.Rate());
  TDecay pitchFall(0.035, note.Rate(), sweep), bodyFall(decay, note.Rate()), clickFall(0.004, note.Rate(), click);
  RunDrum(note, decay, [&](std::size_t) {
    phase += (pitch + pitchFall.Next()) / note.Rate();
    phase -= std::floor(phase);
    const double body = SinCycles(phase) * bodyFall.Next();
    const double tick = clickFilter.Low(random.Bipolar()) * clickFall.Next();
    const double value = SoftClip(drive * (body + tick)) * gain;
    return TFrame{value, value};
  });
}

void RenderSnare(const TNoteContext& note, TRandom& random) {
  const double decay = note.Param("decay"), toneDecay = note.Param("tonedecay");
  const double tone = note.Param("tone"), noiseMix = std::clamp(note.Param("noise"), 0.0, 1.0);
  TOscillator low, high;
  low.SetFrequency(tone, note.Rate());
  high.SetFrequency(tone * 1.62, note.Rate());
  TStateVariableFilter noiseFilter;
  noiseFilter.Set(4200.0, 0.2, note.Rate());
  TOnePole lowCut;
  lowCut.Set(900.0, note.Rate());
  const double gain = 0.6 * DrumVelocity(note.Note);
  TDecay bodyFall(toneDecay, note.Rate(), 1.0 - noiseMix), noiseFall(decay, note.Rate(), noiseMix * 1.6);
  RunDrum(note, std::max(decay, toneDecay), [&](std::size_t) {
    const double body = (low.Sine() + 0.5 * high.Sine()) * bodyFall.Next();
    const double noise = noiseFilter.Process(lowCut.High(random.Bipolar())).Low * noiseFall.Next();
    const double value = (body + noise) * gain;
    return TFrame{value, value};
  });
}

void RenderRim(const TNoteContext& note, TRandom& random) {
  const double decay = note.Param("decay"), tone = note.Param("tone");
  TOscillator body;
  body.SetFrequency(tone * 0.47, note.Rate());
  TStateVariableFilter click;
  click.Set(tone, 0.7, note.Rate());
  const double gain = 0.5 * DrumVelocity(note.Note);
  TDecay fall(decay, note.Rate(), gain);
  RunDrum(note, decay, [&](std::size_t) {
    const double value = (body.Sine() * 0.6 + click.Band(random.Bipolar()) * 1.5) * fall.Next();
    return TFrame{value, value};
  });
}

void RenderNoiseHit(const TNoteContext& note, TRandom& random, double decay, double cutoff, double gain) {
  TStateVariableFilter high, band;
  high.Set(cutoff, 0.1, note.Rate());
  band.Set(cutoff * 1.4, 0.5, note.Rate());
  const double level = gain * DrumVelocity(note.Note);
  TDecay fall(decay, note.Rate(), level);
  RunDrum(note, decay, [&](std::size_t) {
    const double noise = random.Bipolar();
    const double value = (high.High(noise) + 0.6 * band.Band(noise)) * fall.Next();
    return TFrame{value, value};
  });
}

void RenderClap(const TNoteContext& note, TRandom& random) {
  const double decay = note.Param("decay"), tone = note.Param("tone");
  TRandom noiseLeft(random.Next()), noiseRight(random.Next());
  TStateVariableFilter left, right;
  left.Set(tone, 0.4, note.Rate());
  right.Set(tone * 1.08, 0.4, note.Rate());
  const double gain = 0.8 * DrumVelocity(note.Note);
  RunDrum(note, decay + 0.03, [&](std::size_t i) {
    const double t = note.Seconds(i);
    // three quick bursts, then the diffuse tail
    double envelope = std::exp(-std::fmod(std::min(t, 0.0299), 0.01) / 0.0035);
    if (t >= 0.03) envelope = 0.8 * std::exp(-(t - 0.03) / decay);
    const TFrame noise = StereoNoise(noiseLeft, noiseRight, 0.5);
    return TFrame{left.Band(noise.Left) * envelope * gain, right.Band(noise.Right) * envelope * gain};
  });
}

void RenderShaker(const TNoteContext& note, TRandom& random) {
  const double decay = note.Param("decay"), cutoff = note.Param("cutoff");
  TStateVariableFilter filter;
  filter.Set(cutoff, 0.3, note.Rate());
  const double gain = 0.5 * DrumVelocity(note.Note);
  TDecay fall(decay, note.Rate());
  RunDrum(note, decay + 0.01, [&](std::size_t i) {
    const double envelope = std::min(1.0, note.Seconds(i) / 0.012) * fall.Next();
    const double value = filter.Process(random.Bipolar()).High * envelope * gain;
    return TFrame{value, value};
  });
}

// Wide stereo noise over a bed of inharmonic partials, high-passed.
void RenderCrash(const TNoteContext& note, TRandom& random) {
  const double decay = note.Param("decay"), cutoff = note.Param("cutoff");
  TRandom noiseLeft(random.Next()), noiseRight(random.Next());
  static constexpr std::array kPartials = {311.0, 427.0, 563.0, 751.0, 887.0, 1193.0};
  std::array<TOscillator, kPartials.size()> partials;
  for (std::size_t k = 0; k < kPartials.size(); ++k) {
    partials[k].SetPhase(random.Unit());
    partials[k].SetFrequency(kPartials[k] * 1.9, note.Rate());
  }
  TStateVariableFilter left, right, metal;
  left.Set(cutoff, 0.15, note.Rate());
  right.Set(cutoff * 1.1, 0.15, note.Rate());
  metal.Set(cutoff * 0.8, 0.2, note.Rate());
  const double gain = 0.35 * DrumVelocity(note.Note);
  TDecay fall(decay, note.Rate()), strike(0.08, note.Rate(), 0.3);
  RunDrum(note, decay, [&](std::size_t) {
    double ring = 0.0;
    for (TOscillator& partial : partials) ring += partial.Pulse(0.5);
    const double metallic = metal.High(ring) * 0.08;
    const TFrame noise = StereoNoise(noiseLeft, noiseRight, 0.9);
    const double envelope = fall.Next() * (0.7 + strike.Next());
    return TFrame{(left.High(noise.Left) + metallic) * envelope * gain,
                  (right.High(noise.Right) + metallic) * envelope * gain};
  });
}

}  // namespace

namespace {

void RenderKind(const TNoteContext& context, double glideFrom, TRandom& random) {
  switch (context.Instrument.Kind->Kind) {
    case EKind::Pad: return RenderPad(context, random);
    case EKind::Pluck: return RenderPluck(context, random);
    case EKind::Keys: return RenderKeys(context, random);
    case EKind::Bass: return RenderBass(context, random);
    case EKind::Lead: return RenderLead(context, random, glideFrom);
    case EKind::Bell: return RenderBell(context, random);
    case EKind::Waves: return RenderWaves(context, random);
    case EKind::Riser: return RenderRiser(context, random);
    case EKind::Kick: return RenderKick(context, random);
    case EKind::Snare: return RenderSnare(context, random);
    case EKind::Rim: return RenderRim(context, random);
    case EKind::Hat: return RenderNoiseHit(context, random, context.Param("decay"), context.Param("cutoff"), 0.35);
    case EKind::OpenHat: return RenderNoiseHit(context, random, context.Param("decay"), context.Param("cutoff"), 0.3);
    case EKind::Clap: return RenderClap(context, random);
    case EKind::Shaker: return RenderShaker(context, random);
    case EKind::Crash: return RenderCrash(context, random);
  }
}

}  // namespace

TFrameRange RenderNote(const TVoiceSetup& setup, const TNote& note, double glideFrom, std::uint64_t seed,
                       TStereoSpan out) {
  const TNoteContext context(setup, note, out);
  if (context.Start >= out.Left.size()) return {};
  TRandom random(seed);
  RenderKind(context, glideFrom, random);
  if (context.End <= context.Start) return {};
  return {context.Start, context.End};
}

}  // namespace song
