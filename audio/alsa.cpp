// uALSA: the write loop and the player's worker thread (see alsa.hpp). The device itself,
// its set-up lines and its errors are the platform's (platform/pcm.hpp); here every write
// ends in an outcome, and the loop's steps below decide what follows it.
#include "audio/alsa.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "base/fatal.hpp"
#include "base/loglines.hpp"
#include "platform/clock.hpp"
#include "platform/system.hpp"

namespace {

// A period that fails this many times in a row ends playback.
constexpr int kFailuresBeforeGivingUp = 3;
// Underruns (or suspensions) in a row, with no frame taken between them, that show
// restarting (or resuming) does not cure the device: it went away (a sound server that died
// answers every write so).
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

// Writes the line when its limiter allows it, with the count of those held back.
void LimitedLine(TLineLimiter& limiter, std::int64_t now, std::string_view line) {
  std::uint64_t held = 0;
  if (limiter.Allow(now, held)) WriteLine(WithHeldBack(line, held));
}

}  // namespace

std::int64_t TSteadyPlaybackClock::NowMicroseconds() { return MonotonicMicroseconds(); }

void TSteadyPlaybackClock::SleepMicroseconds(std::int64_t duration) { ::SleepMicroseconds(duration); }

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

// What the loop does after a write that did not simply take frames.
enum class TNext {
  WriteAgain,  // go round again (the same place, or a new one)
  Reconnect,   // the device went away: open it again
  GiveUp,      // the same period failed too often
};

// The write loop's state and its steps. The position is a byte offset into the buffer; the
// song's clock counts from Origin, the moment frame 0 was heard.
class TWriteLoop {
 public:
  TWriteLoop(IPCMOutput& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
             std::atomic<bool>& loop, IPlaybackClock& clock, unsigned int rate, std::uint64_t frameBytes)
      : PCM(pcm),
        Buffer(buffer),
        PeriodFrames(periodFrames),
        Loop(loop),
        Clock(clock),
        Rate(rate),
        FrameBytes(frameBytes),
        SongFrames(buffer.size() / frameBytes),
        Origin(clock.NowMicroseconds()) {}

  TWriteLoopEnd Run() {
    while (Position < Buffer.size() || Loop.load()) {
      if (Returned && HoldAfterReturn()) continue;
      if (!StartPass()) continue;
      const std::uint64_t frames = std::min(PeriodFrames, (Buffer.size() - Position) / FrameBytes);
      const TPCMOutcome outcome = PCM.Write(Buffer.data() + Position, frames);
      TNext next = TNext::WriteAgain;
      switch (outcome.Result) {
        case TPCMResult::Written:
          Advance(outcome.Frames, frames);
          continue;
        case TPCMResult::Underrun:
          next = HandleUnderrun();
          break;
        case TPCMResult::Suspended:
          next = HandleSuspension();
          break;
        case TPCMResult::DeviceGone:
          GoneWords = outcome.Error;
          next = TNext::Reconnect;
          break;
        case TPCMResult::Failed:
          next = HandleError(outcome.Error);
          break;
      }
      if (next == TNext::GiveUp) {
        WriteLine(AudioLine("ERROR: giving up playback"));
        return TWriteLoopEnd::GaveUp;
      }
      if (next == TNext::Reconnect && !Reconnect()) return TWriteLoopEnd::Finished;
    }
    return TWriteLoopEnd::Finished;
  }

 private:
  // Frames written to the device over all passes.
  std::uint64_t Written() const { return Pass * SongFrames + Position / FrameBytes; }

  // Asks the device what is heard; returns its delay. A stream that was heard further than
  // before plays (it does not fill its buffer, start, or stall), so it dates frame 0. The
  // first time the stream after a return is heard, a place off the clock's by more than the
  // tolerance (a new stream plays after its own start-up) jumps once to the clock's.
  std::optional<std::int64_t> Listen() {
    const std::optional<std::int64_t> delay = PCM.Delay();
    if (!delay) return delay;
    const std::int64_t now = Clock.NowMicroseconds();
    const std::uint64_t written = Written();
    const std::optional<std::int64_t> heardOrigin = HeardOrigin(now, written, *delay, Rate);
    const std::int64_t heard = static_cast<std::int64_t>(written) - *delay;
    if (!heardOrigin || heard <= HeardBefore) return delay;
    HeardBefore = heard;
    if (!Returned) {
      Origin = *heardOrigin;
      return delay;
    }
    Returned = false;
    if (std::abs(*heardOrigin - Origin) <= kReturnToleranceMicroseconds) return delay;
    MendPlace(now, *delay);
    return delay;
  }

  // Moves the position to the frame the clock gives, delay frames ahead of what is heard now
  // (past the end of a song that does not loop, if it is over).
  void MendPlace(std::int64_t now, std::int64_t delay) {
    const std::int64_t target = static_cast<std::int64_t>(FramesAt(now - Origin, Rate)) + delay;
    const auto place = static_cast<std::uint64_t>(std::max<std::int64_t>(target, 0));
    if (!Loop.load() && place / SongFrames > Pass) {
      Position = Buffer.size();
      return;
    }
    Pass = place / SongFrames;
    Position = Narrow<std::size_t>(place % SongFrames * FrameBytes);
    HeardBefore = static_cast<std::int64_t>(place);
  }

  // Until the stream after a return is heard (for a second at most), it is given only
  // kReturnAheadMicroseconds of song, so that mending its place is heard soon. True when
  // it waited a poll instead of writing.
  bool HoldAfterReturn() {
    const std::optional<std::int64_t> delay = Listen();
    const bool ahead = delay && *delay > 0 &&
                       MicrosecondsFor(static_cast<std::uint64_t>(*delay), Rate) >= kReturnAheadMicroseconds;
    if (!Returned || !ahead || Clock.NowMicroseconds() - ReturnedAt >= kReturnListenMicroseconds) return false;
    Clock.SleepMicroseconds(kReturnPollMicroseconds);
    return true;
  }

  // At the end of the buffer a new pass begins at byte 0. False when only a partial frame
  // is left: the pass is over.
  bool StartPass() {
    if (Position >= Buffer.size()) {
      Position = 0;
      ++Pass;
    }
    if ((Buffer.size() - Position) / FrameBytes > 0) return true;
    Position = Buffer.size();
    return false;
  }

  // The device took `taken` of the frames offered (never more than offered: the position
  // stays inside the buffer).
  void Advance(std::uint64_t taken, std::uint64_t offered) {
    Failures = 0;
    if (taken > 0) UnderrunsInARow = 0;
    taken = std::min(taken, offered);
    Position += Narrow<std::size_t>(taken * FrameBytes);
    if (taken > 0) Listen();
  }

  // The device ran dry: said at most once a second, restarted, and the same period written
  // again. A device that cannot be restarted, or keeps running dry however often it is
  // restarted, went away.
  TNext HandleUnderrun() {
    LimitedLine(UnderrunLines, Clock.NowMicroseconds(), kUnderrunLine);
    if (std::optional<std::string> failure = PCM.Restart()) {
      GoneWords = std::move(*failure);
      return TNext::Reconnect;
    }
    if (++UnderrunsInARow >= kUncuredUnderruns) {
      GoneWords = PCM.UnderrunWords();
      return TNext::Reconnect;
    }
    // A restarted stream plays after its own start-up: a return not yet heard is mended
    // once this one is.
    if (Returned) HeardBefore = static_cast<std::int64_t>(Written());
    return TNext::WriteAgain;
  }

  // Suspended: resumed where the system allows it, else gone (and so is a device that is
  // suspended again at once, however often it is resumed).
  TNext HandleSuspension() {
    if (PCM.Resume() && ++UnderrunsInARow < kUncuredUnderruns) return TNext::WriteAgain;
    GoneWords = PCM.SuspendedWords();
    return TNext::Reconnect;
  }

  // Any other error: said at most once a second; looping ends, the device recovers, and the
  // same period is tried again, three times at most.
  TNext HandleError(const std::string& words) {
    LimitedLine(ErrorLines, Clock.NowMicroseconds(), AudioLine("ERROR: Can't write to PCM device: " + words));
    Loop.store(false);
    PCM.Recover();
    return ++Failures >= kFailuresBeforeGivingUp ? TNext::GiveUp : TNext::WriteAgain;
  }

  // Said once; then the same device is opened again four times a second, with one more line
  // every ten seconds, until it plays (true, the position at the clock's frame) or the song
  // (not looping) would have ended (false).
  bool Reconnect() {
    WriteLine(
        AudioLine("WARNING: the sound device went away (" + GoneWords + "); opening it again four times a second"));
    const std::int64_t goneAt = Clock.NowMicroseconds();
    std::int64_t lastLine = goneAt;
    std::optional<std::uint64_t> frame;
    for (;;) {
      Clock.SleepMicroseconds(kReopenIntervalMicroseconds);
      const std::int64_t now = Clock.NowMicroseconds();
      if (!SongFrameAt(now - Origin, Rate, SongFrames, Loop.load(), Pass)) return false;
      const std::optional<std::string> failure = PCM.Reopen(PeriodFrames);
      if (!failure && PeriodFrames > 0) {
        // The place the song would have reached had it never stopped (a new stream plays
        // its first frame soon; Listen mends the place once it is heard).
        const std::int64_t back = Clock.NowMicroseconds();
        frame = SongFrameAt(back - Origin, Rate, SongFrames, Loop.load(), Pass);
        if (!frame) return false;
        WriteLine(AudioLine("INFO: the sound device is back after " + Seconds(back - goneAt) +
                             "; the song goes on at " + Seconds(static_cast<std::int64_t>(*frame * 1000000 / Rate))));
        Pass = FramesAt(back - Origin, Rate) / SongFrames;
        break;
      }
      if (now - lastLine >= kStillGoneLineMicroseconds) {
        WriteLine(AudioLine("WARNING: the sound device is still away after " + Seconds(now - goneAt) + " (" +
                             failure.value_or("it has no period") + ")"));
        lastLine = now;
      }
    }
    Position = Narrow<std::size_t>(*frame * FrameBytes);
    HeardBefore = static_cast<std::int64_t>(Pass * SongFrames + *frame);
    Returned = true;
    ReturnedAt = Clock.NowMicroseconds();
    Failures = 0;
    UnderrunsInARow = 0;
    return true;
  }

  IPCMOutput& PCM;
  const std::span<const std::uint8_t> Buffer;
  std::uint64_t PeriodFrames;
  std::atomic<bool>& Loop;
  IPlaybackClock& Clock;
  const unsigned int Rate;
  const std::uint64_t FrameBytes;
  const std::uint64_t SongFrames;

  std::int64_t Origin;           // when frame 0 was heard (the first write's time until known)
  std::int64_t HeardBefore = 0;  // the most frames (over all passes) known heard in this stream
  bool Returned = false;         // the device came back and its new stream was not heard yet
  std::int64_t ReturnedAt = 0;
  std::uint64_t Pass = 0;
  std::size_t Position = 0;
  int Failures = 0;
  int UnderrunsInARow = 0;
  std::string GoneWords;  // why the device went away, for the line that says so
  TLineLimiter UnderrunLines;
  TLineLimiter ErrorLines;
};

}  // namespace

TWriteLoopEnd RunWriteLoop(IPCMOutput& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
                           std::atomic<bool>& loop, IPlaybackClock& clock, unsigned int rate) {
  const std::uint64_t frameBytes = pcm.FrameBytes();
  if (frameBytes == 0 || periodFrames == 0) {
    WriteLine(AudioLine("ERROR: giving up playback"));
    return TWriteLoopEnd::GaveUp;
  }
  // Less than one frame is nothing to play, looped or not.
  if (buffer.size() < frameBytes) return TWriteLoopEnd::Finished;
  return TWriteLoop(pcm, buffer, periodFrames, loop, clock, rate, frameBytes).Run();
}

TALSA::TALSA(TALSAConfig& config) : TThread(kPlaybackStackSize), Clock(std::make_unique<TSteadyPlaybackClock>()) {
  WriteLine(AudioLine("using audio device: " + config.Device + "; samplerate: " + std::to_string(config.SampleRate) +
                       "; channels: " + std::to_string(config.Channels) + "; format: " + PCMFormatName()));
  Assert(config.Format == PCMFormatCode(), "the player writes S16 little-endian samples only", "uALSA", __LINE__);
  TPCMDevice device = OpenPCMDevice({config.Device, Narrow<unsigned int>(config.SampleRate), config.Channels}, true);
  if (!device.Failure.empty()) FatalLine(device.Failure, kExitAudioDevice);
  config.SampleRate = Narrow<std::int32_t>(device.Rate);
  SampleRate = device.Rate;
  PeriodSize = device.PeriodFrames;
  Output = std::move(device.Output);

  Buffer = TUInt8DynArray();
  WriteLine(AudioLine("INFO: " + std::string(kSoundSystem) + " setup done"));
  Running.store(false);
}

TALSA::TALSA(std::unique_ptr<IPCMOutput> output, std::uint64_t periodSize, unsigned int rate,
             std::unique_ptr<IPlaybackClock> clock)
    : TThread(kPlaybackStackSize),
      PeriodSize(periodSize),
      SampleRate(rate),
      Output(std::move(output)),
      Clock(std::move(clock)) {}

TALSA::~TALSA() {
  // A looping worker never ends by itself: clearing the flag lets it finish its pass.
  Loop.store(false);
  Finish();
}

bool TALSA::PlayBuffer(TUInt8DynArray buffer, bool loop) {
  if (Running.load()) {
    WriteLine(AudioLine("ERROR: PlayBuffer called whilst thread not finished."));
    return false;
  }
  if (Resumed()) {
    WriteLine(AudioLine("ERROR: PlayBuffer called after playback finished; a player plays once."));
    return false;
  }
  Buffer = std::move(buffer);
  Loop.store(loop);
  Start();
  return true;
}

void TALSA::Start() {
  if (Running.load()) {
    WriteLine(AudioLine("ERROR: Start called whilst thread not finished."));
    return;
  }
  if (Resumed()) {
    WriteLine(AudioLine("ERROR: Start called after playback finished; a player plays once."));
    return;
  }
  if (Buffer.Empty()) WriteLine(AudioLine("WARNING: pcm buffer is empty!"));
  Running.store(true);
  Resume();
}

void TALSA::Execute() {
  RunWriteLoop(*Output, Buffer.Span(), PeriodSize, Loop, *Clock, SampleRate);
  Running.store(false);
}

TALSAConfig SongConfig(std::string_view device, const TWAV& song) {
  TALSAConfig config;
  config.Device = device;
  config.SampleRate = Narrow<std::int32_t>(song.FmtChunk.SampleRate);
  config.Channels = song.FmtChunk.NumChannels;
  config.Format = PCMFormatCode();
  return config;
}
