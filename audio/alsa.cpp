// uALSA: device set-up, the write loop and the player's worker thread (see alsa.hpp).
#include "audio/alsa.hpp"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "base/fatal.hpp"

namespace {

// A period that fails this many times in a row ends playback.
constexpr int kFailuresBeforeGivingUp = 3;

[[noreturn]] void SetupFailed(const std::string& what, int error) {
  FatalLine("[uALSA] ERROR: " + what + snd_strerror(error), kExitAudioDevice);
}

}  // namespace

std::int64_t TALSAWriter::WriteI(const std::uint8_t* frames, std::uint64_t count) {
  return snd_pcm_writei(PCM, frames, count);
}

int TALSAWriter::Prepare() { return snd_pcm_prepare(PCM); }

int TALSAWriter::Recover(int error) { return snd_pcm_recover(PCM, error, 1); }

std::int64_t TALSAWriter::FramesToBytes(std::int64_t frames) { return snd_pcm_frames_to_bytes(PCM, frames); }

const char* TALSAWriter::StrError(int error) { return snd_strerror(error); }

TWriteLoopEnd RunWriteLoop(IPCMWriter& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
                           std::atomic<bool>& loop) {
  const std::int64_t frameBytes = pcm.FramesToBytes(1);
  if (frameBytes <= 0 || periodFrames == 0) {
    WriteLine("[uALSA] ERROR: giving up playback");
    return TWriteLoopEnd::GaveUp;
  }
  const std::size_t length = buffer.size();
  const auto bytesPerFrame = static_cast<std::uint64_t>(frameBytes);
  // Less than one frame is nothing to play, looped or not.
  if (length < bytesPerFrame) return TWriteLoopEnd::Finished;

  std::size_t position = 0;
  int failures = 0;
  while (position < length || loop.load()) {
    if (position >= length) position = 0;
    const std::uint64_t framesLeft = (length - position) / bytesPerFrame;
    if (framesLeft == 0) {
      // Only a partial frame is left: the pass is over.
      position = length;
      continue;
    }
    const std::uint64_t frames = std::min(periodFrames, framesLeft);
    const std::int64_t result = pcm.WriteI(buffer.data() + position, frames);
    if (result == -EPIPE) {
      WriteLine("[uALSA] WARNING: Buffer underrun during playback (-EPIPE)");
      // A device that cannot be prepared again would underrun on every write: that counts
      // as a failure of the period, like any other write error.
      if (pcm.Prepare() < 0 && ++failures >= kFailuresBeforeGivingUp) {
        WriteLine("[uALSA] ERROR: giving up playback");
        return TWriteLoopEnd::GaveUp;
      }
      continue;
    }
    if (result < 0) {
      const int error = Narrow<int>(result);
      WriteLine(std::string("[uALSA] ERROR: Can't write to PCM device: ") + pcm.StrError(error));
      loop.store(false);
      pcm.Recover(error);
      if (++failures >= kFailuresBeforeGivingUp) {
        WriteLine("[uALSA] ERROR: giving up playback");
        return TWriteLoopEnd::GaveUp;
      }
      continue;
    }
    failures = 0;
    // A device never takes more than it was offered; the position stays inside the buffer.
    const auto taken = std::min(static_cast<std::uint64_t>(result), frames);
    position += Narrow<std::size_t>(pcm.FramesToBytes(static_cast<std::int64_t>(taken)));
  }
  return TWriteLoopEnd::Finished;
}

std::optional<std::string> RateMismatchWarning(unsigned int deviceRate, unsigned int songRate) {
  if (deviceRate == songRate) return std::nullopt;
  return "[uALSA] WARNING: device plays at " + std::to_string(deviceRate) + " Hz, not " + std::to_string(songRate) +
         " Hz; a plug device (plughw:...) converts";
}

std::string FormatConstantName(std::int32_t format) {
  // Value 2 has two constant names; the endian-neutral one is printed.
  if (format == SND_PCM_FORMAT_S16) return "SND_PCM_FORMAT_S16";
  const char* name = snd_pcm_format_name(static_cast<snd_pcm_format_t>(format));
  if (name == nullptr) return "SND_PCM_FORMAT_UNKNOWN";
  return std::string("SND_PCM_FORMAT_") + name;
}

TALSA::TALSA(TALSAConfig& config) : TThread(kPlaybackStackSize) {
  WriteLine("[uALSA] using audio device: " + config.Device + "; samplerate: " + std::to_string(config.SampleRate) +
            "; channels: " + std::to_string(config.Channels) + "; format: " + FormatConstantName(config.Format));

  int error = snd_pcm_open(&PCM, config.Device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (error < 0) {
    FatalLine("[uALSA] ERROR: can't open PCM Device \"" + config.Device + "\": " + snd_strerror(error),
              kExitAudioDevice);
  }
  snd_pcm_hw_params_malloc(&HWParams);
  snd_pcm_hw_params_any(PCM, HWParams);

  error = snd_pcm_hw_params_set_access(PCM, HWParams, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (error < 0) SetupFailed("Can't set interleaved mode: ", error);
  error = snd_pcm_hw_params_set_format(PCM, HWParams, static_cast<snd_pcm_format_t>(config.Format));
  if (error < 0) SetupFailed("Can't set format: ", error);
  error = snd_pcm_hw_params_set_channels(PCM, HWParams, config.Channels);
  if (error < 0) SetupFailed("Can't set channels number: ", error);

  const auto songRate = Narrow<unsigned int>(config.SampleRate);
  unsigned int rate = songRate;
  error = snd_pcm_hw_params_set_rate_near(PCM, HWParams, &rate, nullptr);
  if (error < 0) SetupFailed("Can't set rate: ", error);
  config.SampleRate = Narrow<std::int32_t>(rate);
  if (std::optional<std::string> warning = RateMismatchWarning(rate, songRate)) WriteLine(*warning);

  error = snd_pcm_hw_params(PCM, HWParams);
  if (error < 0) SetupFailed("Can't set harware parameters: ", error);

  snd_pcm_uframes_t periodSize = 0;
  unsigned int periodTime = 0;
  snd_pcm_hw_params_get_period_size(HWParams, &periodSize, nullptr);
  snd_pcm_hw_params_get_period_time(HWParams, &periodTime, nullptr);
  PeriodSize = periodSize;
  PeriodTime = periodTime;
  Writer = std::make_unique<TALSAWriter>(PCM);

  Buffer = TUInt8DynArray();
  WriteLine("[uALSA] INFO: ALSA setup done");
  Running.store(false);
}

TALSA::TALSA(std::unique_ptr<IPCMWriter> writer, std::uint64_t periodSize)
    : TThread(kPlaybackStackSize), PeriodSize(periodSize), Writer(std::move(writer)) {}

TALSA::~TALSA() {
  // A looping worker never ends by itself: clearing the flag lets it finish its pass.
  Loop.store(false);
  Finish();
  if (HWParams != nullptr) snd_pcm_hw_params_free(HWParams);
}

bool TALSA::PlayBuffer(TUInt8DynArray buffer, bool loop) {
  if (Running.load()) {
    WriteLine("[uALSA] ERROR: PlayBuffer called whilst thread not finished.");
    return false;
  }
  if (Resumed()) {
    WriteLine("[uALSA] ERROR: PlayBuffer called after playback finished; a player plays once.");
    return false;
  }
  Buffer = std::move(buffer);
  Loop.store(loop);
  Start();
  return true;
}

void TALSA::Start() {
  if (Running.load()) {
    WriteLine("[uALSA] ERROR: Start called whilst thread not finished.");
    return;
  }
  if (Resumed()) {
    WriteLine("[uALSA] ERROR: Start called after playback finished; a player plays once.");
    return;
  }
  if (Buffer.Empty()) WriteLine("[uALSA] WARNING: pcm buffer is empty!");
  Running.store(true);
  Resume();
}

void TALSA::Execute() {
  RunWriteLoop(*Writer, Buffer.Span(), PeriodSize, Loop);
  Running.store(false);
}

TALSAConfig SongConfig(std::string_view device, const TWAV& song) {
  TALSAConfig config;
  config.Device = device;
  config.SampleRate = Narrow<std::int32_t>(song.FmtChunk.SampleRate);
  config.Channels = song.FmtChunk.NumChannels;
  config.Format = SND_PCM_FORMAT_S16_LE;
  return config;
}
