// uPCM on the web: the song goes to Web Audio. An AudioContext at the song's rate (the
// browser resamples to its output) pulls through a ScriptProcessorNode from a ring buffer
// that the player's task fills; a write that finds the ring full gives the other tasks and
// the browser their turn until the callback has taken frames. The delay is what the ring
// holds plus the node's buffer and the latency the context reports. A ring that runs dry is
// heard as silence and counted; the next write reports it as an underrun (see pcm.hpp).
#include "platform/pcm.hpp"

#include <emscripten.h>

#include <cmath>
#include <memory>

#include "base/fatal.hpp"
#include "platform/system.hpp"
#include "platform/web/ring.hpp"
#include "platform/web/tasks.hpp"

namespace {

// About 1.5 s at 44.1 kHz: the player's task fills it once a pass of the frame loop, and
// a software renderer on a busy machine may take half a second for a pass.
constexpr std::uint32_t kRingFrames = 65536;
// The player's period.
constexpr std::uint64_t kPeriodFrames = 1024;
// The node's buffer; it is part of the delay.
constexpr int kNodeFrames = 2048;

// Opens the context and its node, which read the ring through the module's memory; 0 when
// the browser has no Web Audio or refuses the rate, else the context's rate.
EM_JS(int, kelvo_audio_open, (int rate, int channels, const std::int16_t* data, std::uint32_t* readCounter,
                              const std::uint32_t* writeCounter, int capacity, int nodeFrames, std::uint32_t* dry), {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return 0;
  let context;
  try {
    context = new Context({sampleRate: rate, latencyHint: "interactive"});
  } catch (e) {
    return 0;
  }
  const node = context.createScriptProcessor(nodeFrames, 0, channels);
  node.onaudioprocess = (event) => {
    const out = event.outputBuffer;
    const frames = out.length;
    const read = HEAPU32[readCounter >> 2];
    const written = HEAPU32[writeCounter >> 2];
    const available = (written - read) >>> 0;
    const take = Math.min(available, frames);
    const base = data >> 1;
    for (let c = 0; c < channels; ++c) {
      const target = out.getChannelData(c);
      for (let i = 0; i < take; ++i)
        target[i] = HEAP16[base + ((read + i) % capacity) * channels + c] / 32768;
      target.fill(0, take);
    }
    HEAPU32[readCounter >> 2] = (read + take) >>> 0;
    if (take < frames && Module.kelvoAudioStarted) HEAPU32[dry >> 2] += 1;
    if (take > 0) Module.kelvoAudioStarted = true;
    // A test's tap sees, in order, the song's frames handed to Web Audio (one array per
    // channel), never the silence that fills a ring run dry.
    if (Module.kelvoAudioTap && take > 0) {
      const taken = [];
      for (let c = 0; c < channels; ++c) taken.push(out.getChannelData(c).slice(0, take));
      Module.kelvoAudioTap(taken);
    }
  };
  node.connect(context.destination);
  if (context.state !== "running") context.resume();
  Module.kelvoAudio = {context: context, node: node};
  return context.sampleRate;
});

// The frames the browser holds after the node (its latency), at the context's rate.
EM_JS(double, kelvo_audio_latency, (), {
  const audio = Module.kelvoAudio;
  if (!audio) return 0;
  const seconds = (audio.context.outputLatency || 0) + (audio.context.baseLatency || 0);
  return seconds * audio.context.sampleRate;
});

EM_JS(int, kelvo_audio_running, (), { return Module.kelvoAudio && Module.kelvoAudio.context.state === "running"; });

class TWebAudioOutput final : public TSteadyPCMOutput {
 public:
  explicit TWebAudioOutput(unsigned int channels) : Channels(channels), Ring(channels) {}

  bool Open(unsigned int rate) {
    return kelvo_audio_open(static_cast<int>(rate), static_cast<int>(Channels), Ring.Data(), Ring.ReadCounter(),
                            Ring.WriteCounter(), static_cast<int>(Ring.CapacityFrames()), kNodeFrames, &DryCallbacks) ==
           static_cast<int>(rate);
  }

  std::uint64_t FrameBytes() const override { return std::uint64_t{Channels} * 2; }

  TPCMOutcome Write(const std::uint8_t* frames, std::uint64_t count) override {
    if (DryCallbacks != SeenDry) {
      SeenDry = DryCallbacks;
      return {TPCMResult::Underrun, 0, {}};
    }
    // Until the callback has made room, the main thread and the browser go on.
    while (Ring.Free() == 0) YieldTask();
    const auto offered = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kRingFrames));
    const std::uint32_t taken = Ring.Put(reinterpret_cast<const std::int16_t*>(frames), offered);
    return {TPCMResult::Written, taken, {}};
  }

  std::string SuspendedWords() const override { return "the audio context is suspended"; }
  std::string UnderrunWords() const override { return "the ring buffer keeps running dry"; }

  std::optional<std::int64_t> Delay() override {
    if (!kelvo_audio_running()) return std::nullopt;
    return static_cast<std::int64_t>(Ring.Filled()) + kNodeFrames / 2 +
           static_cast<std::int64_t>(std::lround(kelvo_audio_latency()));
  }

  std::optional<std::string> Reopen(std::uint64_t& periodFrames) override {
    periodFrames = kPeriodFrames;
    return std::nullopt;
  }

 private:
  const unsigned int Channels;
  TSampleRing<kRingFrames> Ring;
  std::uint32_t DryCallbacks = 0;
  std::uint32_t SeenDry = 0;
};

}  // namespace

TPCMDevice OpenPCMDevice(const TPCMRequest& request, bool) {
  TPCMDevice device;
  auto output = std::make_unique<TWebAudioOutput>(request.Channels);
  if (request.Channels == 0 || !output->Open(request.Rate)) {
    device.Failure = AudioLine("ERROR: Web Audio cannot play " + std::to_string(request.Channels) + " channels at " +
                               std::to_string(request.Rate) + " Hz in this browser");
    return device;
  }
  device.Output = std::move(output);
  device.Rate = request.Rate;
  device.PeriodFrames = kPeriodFrames;
  return device;
}

// The code and name of interleaved signed 16-bit little-endian samples, as the player's
// configuration carries them.
std::int32_t PCMFormatCode() { return 1; }
std::string PCMFormatName() { return "S16LE"; }
