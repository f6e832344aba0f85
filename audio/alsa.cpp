// uALSA: device set-up, the write loop and the player's worker thread (see alsa.hpp).
#include "audio/alsa.hpp"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "base/fatal.hpp"
#include "base/loglines.hpp"
#include "platform/clock.hpp"

namespace {

// A period that fails this many times in a row ends playback.
constexpr int kFailuresBeforeGivingUp = 3;
// Underruns in a row, with no frame taken between them, that show preparing does not cure
// the device: it went away (a sound server that died answers every write so).
constexpr int kUncuredUnderruns = 3;

// The time frames take to play at rate frames a second; whole seconds and the rest apart,
// as in FramesAt, so no run time overflows.
std::int64_t MicrosecondsFor(std::uint64_t frames, unsigned int rate) {
  if (rate == 0) return 0;
  return static_cast<std::int64_t>(frames / rate * 1000000 + frames % rate * 1000000 / rate);
}

std::string Seconds(std::int64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(microseconds) / 1e6);
  return text;
}

}  // namespace

std::int64_t TALSAWriter::WriteI(const std::uint8_t* frames, std::uint64_t count) {
  return snd_pcm_writei(PCM, frames, count);
}

int TALSAWriter::Prepare() { return snd_pcm_prepare(PCM); }

int TALSAWriter::Recover(int error) { return snd_pcm_recover(PCM, error, 1); }

std::int64_t TALSAWriter::FramesToBytes(std::int64_t frames) { return snd_pcm_frames_to_bytes(PCM, frames); }

const char* TALSAWriter::StrError(int error) { return snd_strerror(error); }

std::optional<std::int64_t> TALSAWriter::Delay() {
  snd_pcm_sframes_t frames = 0;
  if (PCM == nullptr || snd_pcm_delay(PCM, &frames) < 0) return std::nullopt;
  return frames;
}

int TALSAWriter::Reopen(std::uint64_t& periodFrames) {
  if (PCM != nullptr) snd_pcm_close(PCM);
  PCM = nullptr;
  std::uint32_t periodTime = 0;
  int error = 0;
  snd_pcm_t* pcm = nullptr;
  TALSAConfig config = Config;
  if (!OpenPCMDevice(config, pcm, HWParams, periodFrames, periodTime, error, false).empty()) {
    if (pcm != nullptr) snd_pcm_close(pcm);
    return error < 0 ? error : -ENODEV;
  }
  PCM = pcm;
  return 0;
}

std::int64_t TSteadyPlaybackClock::NowMicroseconds() { return MonotonicMicroseconds(); }

void TSteadyPlaybackClock::SleepMicroseconds(std::int64_t duration) { ::SleepMicroseconds(duration); }

bool DeviceGone(int error) {
  return error == -ENODEV || error == -EBADFD || error == -EIO || error == -ESTRPIPE || error == -EPIPE;
}

std::uint64_t FramesAt(std::int64_t elapsedMicroseconds, unsigned int rate) {
  const auto elapsed = static_cast<std::uint64_t>(std::max<std::int64_t>(elapsedMicroseconds, 0));
  // Whole seconds and the rest apart: no overflow for any run time.
  return elapsed / 1000000 * rate + elapsed % 1000000 * rate / 1000000;
}

std::optional<std::int64_t> HeardOrigin(std::int64_t nowMicroseconds, std::uint64_t written, std::int64_t delayFrames,
                                        unsigned int rate) {
  if (rate == 0 || delayFrames < 0 || static_cast<std::uint64_t>(delayFrames) >= written) return std::nullopt;
  return nowMicroseconds - MicrosecondsFor(written - static_cast<std::uint64_t>(delayFrames), rate);
}

std::optional<std::uint64_t> SongFrameAt(std::int64_t elapsedMicroseconds, unsigned int rate,
                                         std::uint64_t songFrames, bool loop, std::uint64_t untilPass) {
  if (songFrames == 0) return std::nullopt;
  const std::uint64_t frames = FramesAt(elapsedMicroseconds, rate);
  if (!loop && frames / songFrames > untilPass) return std::nullopt;
  return frames % songFrames;
}

bool TLineLimiter::Allow(std::int64_t nowMicroseconds, std::uint64_t& held) {
  if (Written_ && nowMicroseconds - Last_ < 1000000) {
    ++Held_;
    return false;
  }
  Written_ = true;
  Last_ = nowMicroseconds;
  held = std::exchange(Held_, 0);
  return true;
}

namespace {

// Writes the line when its limiter allows it, with the count of those held back.
void LimitedLine(TLineLimiter& limiter, std::int64_t now, std::string_view line) {
  std::uint64_t held = 0;
  if (limiter.Allow(now, held)) WriteLine(WithHeldBack(line, held));
}

}  // namespace

TWriteLoopEnd RunWriteLoop(IPCMWriter& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
                           std::atomic<bool>& loop, IPlaybackClock& clock, unsigned int rate) {
  const std::int64_t frameBytes = pcm.FramesToBytes(1);
  if (frameBytes <= 0 || periodFrames == 0) {
    WriteLine("[uALSA] ERROR: giving up playback");
    return TWriteLoopEnd::GaveUp;
  }
  const std::size_t length = buffer.size();
  const auto bytesPerFrame = static_cast<std::uint64_t>(frameBytes);
  // Less than one frame is nothing to play, looped or not.
  if (length < bytesPerFrame) return TWriteLoopEnd::Finished;
  const std::uint64_t songFrames = length / bytesPerFrame;

  // The clock of the song counts from the moment frame 0 was heard: the time of the first
  // write until the device's delay tells better.
  std::int64_t origin = clock.NowMicroseconds();
  std::int64_t heardBefore = 0;  // the most frames (over all passes) known heard in this stream
  bool returned = false;         // the device came back and its new stream was not heard yet
  std::int64_t returnedAt = 0;
  std::uint64_t pass = 0;
  std::size_t position = 0;

  // Asks the device what is heard; returns its delay. A stream that was heard further than
  // before plays (it does not fill its buffer, start, or stall), so it dates frame 0. The
  // first time the stream after a return is heard, a place off the clock's by more than the
  // tolerance (a new stream plays after its own start-up) jumps once to the clock's.
  auto listen = [&]() -> std::optional<std::int64_t> {
    const std::optional<std::int64_t> delay = pcm.Delay();
    if (!delay) return delay;
    const std::int64_t now = clock.NowMicroseconds();
    const std::uint64_t written = pass * songFrames + position / bytesPerFrame;
    const std::optional<std::int64_t> heardOrigin = HeardOrigin(now, written, *delay, rate);
    const std::int64_t heard = static_cast<std::int64_t>(written) - *delay;
    if (!heardOrigin || heard <= heardBefore) return delay;
    heardBefore = heard;
    if (!returned) {
      origin = *heardOrigin;
      return delay;
    }
    returned = false;
    if (std::abs(*heardOrigin - origin) <= kReturnToleranceMicroseconds) return delay;
    const std::int64_t target = static_cast<std::int64_t>(FramesAt(now - origin, rate)) + *delay;
    const auto place = static_cast<std::uint64_t>(std::max<std::int64_t>(target, 0));
    if (!loop.load() && place / songFrames > pass) {
      position = length;  // past the end of a song that does not loop
      return delay;
    }
    pass = place / songFrames;
    position = Narrow<std::size_t>(place % songFrames * bytesPerFrame);
    heardBefore = static_cast<std::int64_t>(place);
    return delay;
  };

  int failures = 0;
  int underrunsInARow = 0;
  TLineLimiter underrunLines;
  TLineLimiter errorLines;
  while (position < length || loop.load()) {
    if (returned) {
      // Until the stream after a return is heard (for a second at most), it is given only
      // kReturnAheadMicroseconds of song, so that mending its place is heard soon.
      const std::optional<std::int64_t> delay = listen();
      const bool ahead = delay && *delay > 0 &&
                         MicrosecondsFor(static_cast<std::uint64_t>(*delay), rate) >= kReturnAheadMicroseconds;
      if (returned && ahead && clock.NowMicroseconds() - returnedAt < kReturnListenMicroseconds) {
        clock.SleepMicroseconds(kReturnPollMicroseconds);
        continue;
      }
    }
    if (position >= length) {
      position = 0;
      ++pass;
    }
    const std::uint64_t framesLeft = (length - position) / bytesPerFrame;
    if (framesLeft == 0) {
      // Only a partial frame is left: the pass is over.
      position = length;
      continue;
    }
    const std::uint64_t frames = std::min(periodFrames, framesLeft);
    const std::int64_t result = pcm.WriteI(buffer.data() + position, frames);
    int gone = 0;
    if (result == -EPIPE) {
      LimitedLine(underrunLines, clock.NowMicroseconds(), kUnderrunLine);
      // A device that cannot be prepared again, or keeps underrunning however often it is
      // prepared, went away.
      const int prepared = pcm.Prepare();
      if (prepared < 0 || ++underrunsInARow >= kUncuredUnderruns) {
        gone = prepared < 0 ? prepared : -EPIPE;
      } else {
        // A stream prepared again plays after its own start-up: a return not yet heard is
        // mended once this one is.
        if (returned) heardBefore = static_cast<std::int64_t>(pass * songFrames + position / bytesPerFrame);
        continue;
      }
    } else if (result == -ESTRPIPE) {
      // Suspended: resumed where the system allows it, else gone (and so is a device that
      // is suspended again at once, however often it is resumed).
      const int recovered = pcm.Recover(-ESTRPIPE);
      if (recovered >= 0 && ++underrunsInARow < kUncuredUnderruns) continue;
      gone = -ESTRPIPE;
    } else if (result < 0 && DeviceGone(Narrow<int>(result))) {
      gone = Narrow<int>(result);
    } else if (result < 0) {
      const int error = Narrow<int>(result);
      LimitedLine(errorLines, clock.NowMicroseconds(),
                  std::string("[uALSA] ERROR: Can't write to PCM device: ") + pcm.StrError(error));
      loop.store(false);
      pcm.Recover(error);
      if (++failures >= kFailuresBeforeGivingUp) {
        WriteLine("[uALSA] ERROR: giving up playback");
        return TWriteLoopEnd::GaveUp;
      }
      continue;
    }

    if (gone != 0) {
      // Said once; then the same device is opened again four times a second, with one more
      // line every ten seconds, until it plays or the song (not looping) would have ended.
      WriteLine(std::string("[uALSA] WARNING: the sound device went away (") + pcm.StrError(gone) +
                "); opening it again four times a second");
      const std::int64_t goneAt = clock.NowMicroseconds();
      std::int64_t lastLine = goneAt;
      std::optional<std::uint64_t> frame;
      for (;;) {
        clock.SleepMicroseconds(kReopenIntervalMicroseconds);
        const std::int64_t now = clock.NowMicroseconds();
        if (!SongFrameAt(now - origin, rate, songFrames, loop.load(), pass)) return TWriteLoopEnd::Finished;
        const int error = pcm.Reopen(periodFrames);
        if (error >= 0 && periodFrames > 0) {
          // The place the song would have reached had it never stopped (a new stream plays
          // its first frame soon; listen mends the place once it is heard).
          const std::int64_t back = clock.NowMicroseconds();
          frame = SongFrameAt(back - origin, rate, songFrames, loop.load(), pass);
          if (!frame) return TWriteLoopEnd::Finished;
          WriteLine("[uALSA] INFO: the sound device is back after " + Seconds(back - goneAt) +
                    "; the song goes on at " + Seconds(static_cast<std::int64_t>(*frame * 1000000 / rate)));
          pass = FramesAt(back - origin, rate) / songFrames;
          break;
        }
        if (now - lastLine >= kStillGoneLineMicroseconds) {
          WriteLine("[uALSA] WARNING: the sound device is still away after " + Seconds(now - goneAt) + " (" +
                    pcm.StrError(error) + ")");
          lastLine = now;
        }
      }
      position = Narrow<std::size_t>(*frame * bytesPerFrame);
      heardBefore = static_cast<std::int64_t>(pass * songFrames + *frame);
      returned = true;
      returnedAt = clock.NowMicroseconds();
      failures = 0;
      underrunsInARow = 0;
      continue;
    }
    failures = 0;
    if (result > 0) underrunsInARow = 0;
    // A device never takes more than it was offered; the position stays inside the buffer.
    const auto taken = std::min(static_cast<std::uint64_t>(result), frames);
    position += Narrow<std::size_t>(pcm.FramesToBytes(static_cast<std::int64_t>(taken)));
    if (taken > 0) listen();
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

std::string OpenPCMDevice(TALSAConfig& config, snd_pcm_t*& pcm, snd_pcm_hw_params_t* hwParams,
                          std::uint64_t& periodSize, std::uint32_t& periodTime, int& error, bool announce) {
  error = snd_pcm_open(&pcm, config.Device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (error < 0) {
    pcm = nullptr;
    return "[uALSA] ERROR: can't open PCM Device \"" + config.Device + "\": " + snd_strerror(error);
  }
  auto failed = [&](const std::string& what) { return "[uALSA] ERROR: " + what + snd_strerror(error); };
  snd_pcm_hw_params_any(pcm, hwParams);
  error = snd_pcm_hw_params_set_access(pcm, hwParams, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (error < 0) return failed("Can't set interleaved mode: ");
  error = snd_pcm_hw_params_set_format(pcm, hwParams, static_cast<snd_pcm_format_t>(config.Format));
  if (error < 0) return failed("Can't set format: ");
  error = snd_pcm_hw_params_set_channels(pcm, hwParams, config.Channels);
  if (error < 0) return failed("Can't set channels number: ");

  const auto songRate = Narrow<unsigned int>(config.SampleRate);
  unsigned int rate = songRate;
  error = snd_pcm_hw_params_set_rate_near(pcm, hwParams, &rate, nullptr);
  if (error < 0) return failed("Can't set rate: ");
  config.SampleRate = Narrow<std::int32_t>(rate);
  if (std::optional<std::string> warning = RateMismatchWarning(rate, songRate); warning && announce) {
    WriteLine(*warning);
  }

  error = snd_pcm_hw_params(pcm, hwParams);
  if (error < 0) return failed("Can't set harware parameters: ");

  snd_pcm_uframes_t frames = 0;
  unsigned int time = 0;
  snd_pcm_hw_params_get_period_size(hwParams, &frames, nullptr);
  snd_pcm_hw_params_get_period_time(hwParams, &time, nullptr);
  periodSize = frames;
  periodTime = time;
  return {};
}

TALSA::TALSA(TALSAConfig& config) : TThread(kPlaybackStackSize), Clock(std::make_unique<TSteadyPlaybackClock>()) {
  WriteLine("[uALSA] using audio device: " + config.Device + "; samplerate: " + std::to_string(config.SampleRate) +
            "; channels: " + std::to_string(config.Channels) + "; format: " + FormatConstantName(config.Format));
  snd_pcm_hw_params_malloc(&HWParams);
  // The device as asked for, kept for opening it again after it went away.
  const TALSAConfig asked = config;
  int error = 0;
  const std::string failure = OpenPCMDevice(config, PCM, HWParams, PeriodSize, PeriodTime, error, true);
  if (!failure.empty()) FatalLine(failure, kExitAudioDevice);
  SampleRate = Narrow<unsigned int>(config.SampleRate);
  Writer = std::make_unique<TALSAWriter>(PCM, HWParams, asked);

  Buffer = TUInt8DynArray();
  WriteLine("[uALSA] INFO: ALSA setup done");
  Running.store(false);
}

TALSA::TALSA(std::unique_ptr<IPCMWriter> writer, std::uint64_t periodSize, unsigned int rate,
             std::unique_ptr<IPlaybackClock> clock)
    : TThread(kPlaybackStackSize),
      PeriodSize(periodSize),
      SampleRate(rate),
      Writer(std::move(writer)),
      Clock(std::move(clock)) {}

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
  RunWriteLoop(*Writer, Buffer.Span(), PeriodSize, Loop, *Clock, SampleRate);
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
