// uPCM on the web: the song goes to Web Audio. An AudioContext at the song's rate (the
// browser resamples to its output) plays what the player's task puts into a ring buffer in
// the module's memory; a write that finds the ring full gives the other tasks and the
// browser their turn until frames have left it.
//
// Where the browser has AudioWorklet, the frames are played off the page's main thread, so a
// long frame of the loop does not hold the sound up: the main thread moves frames from the
// ring into chunks (one Float32Array per channel) and posts them, transferred, to an
// AudioWorkletNode through its port, keeping the node's queue at about kQueueFrames. The
// node's processor (its code given as a Blob URL, so the page needs no other file) plays its
// queue, counts the render calls that found it dry, and reports what it has played, and at
// which frame of the context, every few calls; each report tops the queue up again. Without
// shared memory (a page that is not cross-origin isolated has none) the port is the only way
// between the two. The delay is what the ring holds, plus what was posted and not played by
// now (the last report, moved on by the context's time since), plus the latency the context
// reports.
//
// Where AudioWorklet is missing (older browsers, pages not in a secure context) or its module
// is refused, a ScriptProcessorNode on the main thread pulls from the ring instead, and the
// node's buffer takes the queue's place in the delay.
//
// A ring (or queue) that runs dry once the song has started is heard as silence and counted;
// the next write reports it as an underrun. A test's tap, Module.kelvoAudioTap, sees in order
// the song's frames handed to Web Audio, one array per channel, never silence (see pcm.hpp).
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
// The fallback node's buffer; half of it on average is part of the delay.
constexpr int kNodeFrames = 2048;
// What the worklet's queue is kept at (about 0.74 s at 44.1 kHz): it plays on through a
// pass of the frame loop that long, during which the main thread posts nothing (a software
// WebGL on a loaded machine takes half a second for one). Frames only move from the ring to
// the queue early, so the sound starts as soon and the delay the player reckons with counts
// them all.
constexpr int kQueueFrames = 32768;

// Opens the context, and its worklet node (or, failing that, the fallback node), which read
// the ring through the module's memory; 0 when the browser has no Web Audio or refuses the
// rate, else the context's rate. The worklet's node is made once its module has loaded; until
// then the frames wait in the ring.
EM_JS(int, kelvo_audio_open, (int rate, int channels, const std::int16_t* data, std::uint32_t* readCounter,
                              const std::uint32_t* writeCounter, int capacity, int nodeFrames, int queueFrames,
                              std::uint32_t* dry), {
  const Context = globalThis.AudioContext || globalThis.webkitAudioContext;
  if (!Context) return 0;
  let context;
  try {
    context = new Context({sampleRate: rate, latencyHint: "interactive"});
  } catch (e) {
    return 0;
  }
  const audio = {context: context, node: null, posted: 0, played: 0, at: 0, pump: null, queued: null};
  Module.kelvoAudio = audio;
  let started = false;

  // Up to `frames` frames from the ring, one Float32Array per channel; the ring's read count
  // moves past them. The tap sees them as they go.
  const take = (frames) => {
    const read = HEAPU32[readCounter >> 2];
    const available = (HEAPU32[writeCounter >> 2] - read) >>> 0;
    const count = Math.min(available, frames);
    const base = data >> 1;
    const taken = [];
    for (let c = 0; c < channels; ++c) {
      const target = new Float32Array(count);
      for (let i = 0; i < count; ++i) target[i] = HEAP16[base + ((read + i) % capacity) * channels + c] / 32768;
      taken.push(target);
    }
    HEAPU32[readCounter >> 2] = (read + count) >>> 0;
    if (Module.kelvoAudioTap && count > 0) Module.kelvoAudioTap(taken.map((samples) => samples.slice()));
    return taken;
  };

  const fallBack = () => {
    const node = context.createScriptProcessor(nodeFrames, 0, channels);
    node.onaudioprocess = (event) => {
      const out = event.outputBuffer;
      const frames = out.length;
      const taken = take(frames);
      const count = taken[0].length;
      for (let c = 0; c < channels; ++c) {
        const target = out.getChannelData(c);
        target.set(taken[c]);
        target.fill(0, count);
      }
      if (count < frames && started) HEAPU32[dry >> 2] += 1;
      if (count > 0) started = true;
    };
    node.connect(context.destination);
    audio.node = node;
    audio.queued = () => nodeFrames / 2;
  };

  // The worklet's processor: a queue of chunks played in order, silence where it runs dry
  // (counted once the song has started), and a report of the frames played by the end of a
  // render call and the context's frame there, every eighth call and whenever it ran dry.
  const processor = `
    class KelvoQueue extends AudioWorkletProcessor {
      constructor() {
        super();
        this.chunks = [];
        this.offset = 0;
        this.played = 0;
        this.dry = 0;
        this.started = false;
        this.calls = 0;
        this.port.onmessage = (event) => this.chunks.push(event.data);
      }
      process(inputs, outputs) {
        const out = outputs[0];
        const frames = out[0].length;
        let done = 0;
        while (done < frames && this.chunks.length > 0) {
          const chunk = this.chunks[0];
          const count = Math.min(frames - done, chunk[0].length - this.offset);
          for (let c = 0; c < out.length; ++c) out[c].set(chunk[c].subarray(this.offset, this.offset + count), done);
          done += count;
          this.offset += count;
          if (this.offset === chunk[0].length) {
            this.chunks.shift();
            this.offset = 0;
          }
        }
        for (let c = 0; c < out.length; ++c) out[c].fill(0, done);
        this.played += done;
        const ranDry = done < frames && this.started;
        if (ranDry) this.dry += 1;
        if (done > 0) this.started = true;
        if (++this.calls % 8 === 0 || ranDry)
          this.port.postMessage({played: this.played, dry: this.dry, at: currentFrame + frames});
        return true;
      }
    }
    registerProcessor("kelvo-queue", KelvoQueue);`;

  const useWorklet = (node) => {
    audio.node = node;
    // Frames posted and not yet played: the last report, moved on by the context's frames
    // since (a queue plays one frame per frame of the context until it runs dry).
    audio.queued = () => {
      const since = Math.max(0, Math.round(context.currentTime * context.sampleRate) - audio.at);
      return audio.posted - Math.min(audio.posted, audio.played + since);
    };
    audio.pump = () => {
      const queued = audio.queued();
      const wanted = queueFrames - queued;
      // Small chunks only when the queue runs low: each message has its cost.
      if (wanted <= 0 || (wanted < 1024 && queued > queueFrames / 2)) return;
      const taken = take(wanted);
      if (taken[0].length === 0) return;
      audio.posted += taken[0].length;
      node.port.postMessage(taken, taken.map((samples) => samples.buffer));
    };
    node.port.onmessage = (event) => {
      const report = event.data;
      audio.played = report.played;
      audio.at = report.at;
      HEAPU32[dry >> 2] = report.dry;
      audio.pump();
    };
    node.connect(context.destination);
    audio.pump();
  };

  if (typeof AudioWorkletNode === "function" && context.audioWorklet) {
    const url = URL.createObjectURL(new Blob([processor], {type: "text/javascript"}));
    context.audioWorklet.addModule(url)
      .then(() => useWorklet(new AudioWorkletNode(context, "kelvo-queue",
                                                  {numberOfInputs: 0, outputChannelCount: [channels]})))
      .catch(() => fallBack())
      .finally(() => URL.revokeObjectURL(url));
  } else {
    fallBack();
  }
  if (context.state !== "running") context.resume();
  return context.sampleRate;
});

// Hands the worklet what the ring holds, up to its queue's level (the fallback node pulls by
// itself).
EM_JS(void, kelvo_audio_pump, (), {
  const audio = Module.kelvoAudio;
  if (audio && audio.pump) audio.pump();
});

// The frames Web Audio holds beyond the ring: the worklet's queue or the fallback node's
// buffer, and the latency the context reports, at the context's rate; -1 while no node
// plays (the worklet's module still loading, or the context not running).
EM_JS(double, kelvo_audio_held, (), {
  const audio = Module.kelvoAudio;
  if (!audio || !audio.queued || audio.context.state !== "running") return -1;
  const seconds = (audio.context.outputLatency || 0) + (audio.context.baseLatency || 0);
  return audio.queued() + seconds * audio.context.sampleRate;
});

class TWebAudioOutput final : public TSteadyPCMOutput {
 public:
  explicit TWebAudioOutput(unsigned int channels) : Channels(channels), Ring(channels) {}

  bool Open(unsigned int rate) {
    return kelvo_audio_open(static_cast<int>(rate), static_cast<int>(Channels), Ring.Data(), Ring.ReadCounter(),
                            Ring.WriteCounter(), static_cast<int>(Ring.CapacityFrames()), kNodeFrames, kQueueFrames,
                            &DryCallbacks) == static_cast<int>(rate);
  }

  std::uint64_t FrameBytes() const override { return std::uint64_t{Channels} * 2; }

  TPCMOutcome Write(const std::uint8_t* frames, std::uint64_t count) override {
    if (DryCallbacks != SeenDry) {
      SeenDry = DryCallbacks;
      return {TPCMResult::Underrun, 0, {}};
    }
    // Until frames have left the ring, the main thread and the browser go on.
    while (Ring.Free() == 0) YieldTask();
    const auto offered = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kRingFrames));
    const std::uint32_t taken = Ring.Put(reinterpret_cast<const std::int16_t*>(frames), offered);
    kelvo_audio_pump();
    return {TPCMResult::Written, taken, {}};
  }

  std::string SuspendedWords() const override { return "the audio context is suspended"; }
  std::string UnderrunWords() const override { return "the ring buffer keeps running dry"; }

  std::optional<std::int64_t> Delay() override {
    const double held = kelvo_audio_held();
    if (held < 0) return std::nullopt;
    return static_cast<std::int64_t>(Ring.Filled()) + static_cast<std::int64_t>(std::lround(held));
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
