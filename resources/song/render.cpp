// The mixer (see render.hpp).
#include "resources/song/render.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <thread>

#include "base/fatal.hpp"
#include "resources/song/dsp.hpp"
#include "resources/song/effects.hpp"

namespace song {
namespace {

constexpr std::size_t kThreads = 2;
constexpr std::size_t kBlock = 4096;        // frames per block of the activity map
constexpr std::size_t kControlFrames = 64;  // frames between reads of level and sends
constexpr double kDelayIntoReverb = 0.3;  // echoes get some room too
constexpr std::uint64_t kSeedBase = 0x7465737369630000ull;
constexpr std::uint64_t kHumanSeed = 0x6F6D6272656C0000ull;
constexpr double kHumanSeconds = 0.006;
constexpr double kHumanVelocity = 0.12;

struct TBus {
  explicit TBus(std::size_t frames) : Dry{std::vector<float>(frames), std::vector<float>(frames)},
                                      Reverb{std::vector<float>(frames), std::vector<float>(frames)},
                                      Delay{std::vector<float>(frames), std::vector<float>(frames)} {}
  TMix Dry, Reverb, Delay;
};

// How far the kick pulls ducked instruments down at each frame (0 none .. 1 all): a
// fast dip at every kick that recovers over a fifth of a second.
std::vector<float> KickPump(const TScore& score, double sampleRate, std::size_t frames) {
  std::vector<float> pump(frames, 0.0f);
  const std::size_t attack = static_cast<std::size_t>(0.004 * sampleRate);
  const std::size_t length = static_cast<std::size_t>(0.4 * sampleRate);
  for (const TNote& note : score.Notes) {
    if (score.Instruments.at(note.Instrument).Kind->Kind != EKind::Kick) continue;
    const std::size_t start = static_cast<std::size_t>(std::llround(score.SecondsAt(note.Start) * sampleRate));
    for (std::size_t i = 0; i < length && start + i < frames; ++i) {
      const double t = static_cast<double>(i) / sampleRate;
      const double depth = std::min(1.0, static_cast<double>(i) / static_cast<double>(attack)) * std::exp(-t / 0.12) *
                           std::min(1.0, note.Velocity);
      float& value = pump[start + i];
      value = std::max(value, static_cast<float>(depth));
    }
  }
  return pump;
}

// The value of a parameter at a frame, following its ramp when it has one.
class TParamReader {
 public:
  TParamReader(const TScore& score, std::size_t instrument, const char* name, double sampleRate)
      : Score(score), Ramp(score.FindRamp(instrument, name)), Constant(score.Instruments.at(instrument).Param(name)),
        SampleRate(sampleRate) {}
  double At(std::size_t frame) const {
    return Ramp != nullptr ? Ramp->ValueAt(Score.BeatAt(static_cast<double>(frame) / SampleRate)) : Constant;
  }

 private:
  const TScore& Score;
  const TRamp* Ramp;
  double Constant;
  double SampleRate;
};

// Renders one instrument's notes into scratch (which is all zeros on entry and again on
// return) and mixes the result into the bus. Only the blocks of frames that some note
// reached are mixed, so sparse instruments cost little.
void RenderInstrument(const TScore& score, std::size_t instrument, const std::vector<std::size_t>& notes,
                      const std::vector<float>& pump, double sampleRate, TMix& scratch, TBus& bus) {
  const std::size_t frames = scratch.Left.size();
  std::vector<bool> active(frames / kBlock + 1, false);
  const TVoiceSetup setup{score, instrument, sampleRate};
  const TNote* previous = nullptr;
  const double humanize = std::clamp(score.Instruments.at(instrument).Param("humanize"), 0.0, 1.0);
  for (const std::size_t index : notes) {
    TNote note = score.Notes.at(index);
    if (humanize > 0.0) {
      // Up to 6 ms early or late and 12 % softer or louder, the same on every run.
      TRandom stray(kHumanSeed ^ (index * 0xD1B54A32D192ED03ull));
      note.Start = std::max(0.0, score.BeatAt(score.SecondsAt(note.Start) + humanize * kHumanSeconds * stray.Bipolar()));
      note.Velocity *= 1.0 + humanize * kHumanVelocity * stray.Bipolar();
    }
    // A note that starts as the one before it ends (or overlaps it) slides from its pitch.
    const bool legato = previous != nullptr && previous->Start + previous->Length >= note.Start - 1e-6;
    const double glideFrom = legato ? previous->Pitch : note.Pitch;
    const TFrameRange range = RenderNote(setup, note, glideFrom, kSeedBase ^ (index * 0x9E3779B97F4A7C15ull), scratch.Span());
    if (range.End > range.Begin) {
      for (std::size_t block = range.Begin / kBlock; block <= (range.End - 1) / kBlock; ++block) active.at(block) = true;
    }
    previous = &score.Notes.at(index);
  }
  const TInstrument& info = score.Instruments.at(instrument);
  const TPanGains pan = PanGains(info.Param("pan"));
  const double panLeft = pan.Left * std::numbers::sqrt2, panRight = pan.Right * std::numbers::sqrt2;
  const double duck = std::clamp(info.Param("duck"), 0.0, 1.0);
  const TParamReader gain(score, instrument, "gain", sampleRate);
  const TParamReader reverb(score, instrument, "reverb", sampleRate);
  const TParamReader delay(score, instrument, "delay", sampleRate);
  double level = 0.0, reverbSend = 0.0, delaySend = 0.0;
  for (std::size_t block = 0; block < active.size(); ++block) {
    if (!active[block]) continue;
    const std::size_t end = std::min(frames, (block + 1) * kBlock);
    for (std::size_t i = block * kBlock; i < end; ++i) {
      if (i % kControlFrames == 0) {
        level = DbToGain(gain.At(i));
        reverbSend = reverb.At(i);
        delaySend = delay.At(i);
      }
      const double g = level * (1.0 - duck * pump[i]);
      const double left = scratch.Left[i] * g * panLeft, right = scratch.Right[i] * g * panRight;
      scratch.Left[i] = 0.0f;
      scratch.Right[i] = 0.0f;
      bus.Dry.Left[i] += static_cast<float>(left);
      bus.Dry.Right[i] += static_cast<float>(right);
      bus.Reverb.Left[i] += static_cast<float>(left * reverbSend);
      bus.Reverb.Right[i] += static_cast<float>(right * reverbSend);
      bus.Delay.Left[i] += static_cast<float>(left * delaySend);
      bus.Delay.Right[i] += static_cast<float>(right * delaySend);
    }
  }
}

// A rough cost of an instrument: its sounding seconds weighted by how many oscillators
// its voices run. Used only to share the work evenly between the threads.
double Cost(const TScore& score, std::size_t instrument, const std::vector<std::size_t>& notes) {
  const TInstrument& info = score.Instruments.at(instrument);
  double weight = 2.0;
  switch (info.Kind->Kind) {
    case EKind::Pad: weight = 2.0 + info.Param("voices"); break;
    case EKind::Crash: weight = 8.0; break;
    default: break;
  }
  double seconds = 0.0;
  for (const std::size_t index : notes) seconds += score.Notes.at(index).Length * score.SecondsPerBeat() + 1.0;
  return weight * seconds;
}

void AddInto(TMix& into, const TMix& from) {
  for (std::size_t i = 0; i < into.Left.size(); ++i) {
    into.Left[i] += from.Left[i];
    into.Right[i] += from.Right[i];
  }
}

}  // namespace

TMix RenderScore(const TScore& score, double sampleRate, std::size_t frames) {
  const std::size_t instruments = score.Instruments.size();
  std::vector<std::vector<std::size_t>> notesOf(instruments);
  for (std::size_t i = 0; i < score.Notes.size(); ++i) notesOf.at(score.Notes[i].Instrument).push_back(i);
  for (std::vector<std::size_t>& notes : notesOf) {
    std::stable_sort(notes.begin(), notes.end(),
                     [&](std::size_t a, std::size_t b) { return score.Notes[a].Start < score.Notes[b].Start; });
  }
  const std::vector<float> pump = KickPump(score, sampleRate, frames);

  // A fixed plan: the costliest instrument goes to the thread with the least work so far.
  std::vector<std::size_t> order(instruments);
  for (std::size_t i = 0; i < instruments; ++i) order[i] = i;
  std::vector<double> costs(instruments);
  for (std::size_t i = 0; i < instruments; ++i) costs[i] = Cost(score, i, notesOf[i]);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return costs[a] > costs[b]; });
  std::array<std::vector<std::size_t>, kThreads> plan;
  std::array<double, kThreads> load{};
  for (const std::size_t instrument : order) {
    const std::size_t lightest = load[0] <= load[1] ? 0 : 1;
    plan[lightest].push_back(instrument);
    load[lightest] += costs[instrument];
  }
  for (std::vector<std::size_t>& share : plan) std::sort(share.begin(), share.end());

  std::vector<TBus> buses;
  for (std::size_t t = 0; t < kThreads; ++t) buses.emplace_back(frames);
  auto work = [&](std::size_t thread) {
    TMix scratch{std::vector<float>(frames), std::vector<float>(frames)};
    for (const std::size_t instrument : plan.at(thread)) {
      RenderInstrument(score, instrument, notesOf.at(instrument), pump, sampleRate, scratch, buses.at(thread));
    }
  };
  std::thread helper(work, 1);
  work(0);
  helper.join();

  TBus& bus = buses[0];
  AddInto(bus.Dry, buses[1].Dry);
  AddInto(bus.Reverb, buses[1].Reverb);
  AddInto(bus.Delay, buses[1].Delay);
  buses.pop_back();

  ApplyPingPongDelay(bus.Delay.Span(), TDelaySettings{}, sampleRate);
  for (std::size_t i = 0; i < frames; ++i) {
    bus.Reverb.Left[i] += static_cast<float>(bus.Delay.Left[i] * kDelayIntoReverb);
    bus.Reverb.Right[i] += static_cast<float>(bus.Delay.Right[i] * kDelayIntoReverb);
  }
  ApplyReverb(bus.Reverb.Span(), TReverbSettings{}, sampleRate);
  for (std::size_t i = 0; i < frames; ++i) {
    bus.Dry.Left[i] += bus.Delay.Left[i] + bus.Reverb.Left[i];
    bus.Dry.Right[i] += bus.Delay.Right[i] + bus.Reverb.Right[i];
  }
  return std::move(bus.Dry);
}

}  // namespace song
