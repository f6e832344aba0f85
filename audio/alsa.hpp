// uALSA: plays one buffer of interleaved PCM frames through the system's sound output
// (platform/pcm.hpp) from a worker thread of its own, optionally looping. The device is
// opened and configured at construction; PlayBuffer starts the worker. A device or sound
// server that goes away while playing is opened again, at most four times a second, and the
// song goes on at the place the clock gives, as if it had never stopped; the clock counts
// from when the first frame was heard (the device's delay tells), not from when it was
// written. Every warning of the worker is written at most once a second. The write loop
// reaches the device only through IPCMOutput's outcomes and keeps time through
// IPlaybackClock, so it also runs against stand-ins. Its lines are the player's, under the
// system's unit name (kAudioUnit).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/wav.hpp"
#include "base/dynarray.hpp"
#include "platform/pcm.hpp"
#include "platform/thread.hpp"

struct TALSAConfig {
  std::string Device;
  std::int32_t SampleRate = 0;  // replaced by the rate the device chose
  std::uint32_t Channels = 0;
  std::int32_t Format = 0;      // the system's code of S16 little-endian (PCMFormatCode)
};

// What the song is played with on the named device: its own rate and channel count, its
// samples as signed 16-bit little-endian frames (the one format the player writes).
TALSAConfig SongConfig(std::string_view device, const TWAV& song);

// The clock the write loop keeps time by, and its way of waiting.
class IPlaybackClock {
 public:
  virtual ~IPlaybackClock() = default;
  virtual std::int64_t NowMicroseconds() = 0;
  virtual void SleepMicroseconds(std::int64_t duration) = 0;
};

// The monotonic clock (platform/clock.hpp) and a real sleep.
class TSteadyPlaybackClock final : public IPlaybackClock {
 public:
  std::int64_t NowMicroseconds() override;
  void SleepMicroseconds(std::int64_t duration) override;
};

// How the write loop ended.
enum class TWriteLoopEnd {
  Finished,  // the end of the buffer was reached with looping off (or the buffer was empty)
  GaveUp,    // the same period failed three times in a row
};

// The frame of a song of songFrames frames that plays elapsedMicroseconds after its start
// at rate frames a second, looping; or nothing once the pass that began at pass
// `untilPass` is over and the song does not loop.
std::optional<std::uint64_t> SongFrameAt(std::int64_t elapsedMicroseconds, unsigned int rate,
                                         std::uint64_t songFrames, bool loop, std::uint64_t untilPass);

// The frames that play in elapsedMicroseconds at rate frames a second (none before 0).
std::uint64_t FramesAt(std::int64_t elapsedMicroseconds, unsigned int rate);

// When frame 0 of the song was heard, from a write: at nowMicroseconds the device had been
// given `written` frames (counted over all passes) of which delayFrames were not yet heard.
// Nothing while no frame has been heard yet (the device still fills its buffer or starts).
std::optional<std::int64_t> HeardOrigin(std::int64_t nowMicroseconds, std::uint64_t written, std::int64_t delayFrames,
                                        unsigned int rate);

// At most one line a second: Allow says whether a line may be written now and, when it may,
// sets held to how many were held back since the last one.
class TLineLimiter {
 public:
  bool Allow(std::int64_t nowMicroseconds, std::uint64_t& held);

 private:
  bool Written_ = false;
  std::int64_t Last_ = 0;
  std::uint64_t Held_ = 0;
};

inline constexpr std::int64_t kReopenIntervalMicroseconds = 250000;      // four tries a second
inline constexpr std::int64_t kStillGoneLineMicroseconds = 10000000;     // a line every ten seconds
// After a return: the song a new stream is given until it is heard, how often its delay is
// asked meanwhile, for how long at most, and how far off the clock its place may stay.
inline constexpr std::int64_t kReturnAheadMicroseconds = 200000;
inline constexpr std::int64_t kReturnPollMicroseconds = 5000;
inline constexpr std::int64_t kReturnListenMicroseconds = 1000000;
inline constexpr std::int64_t kReturnToleranceMicroseconds = 10000;

// Writes buffer to the device one period at a time (the last write of a pass asks only for
// the frames that remain; a trailing partial frame is never written), starting again at
// byte 0 while loop is set. An underrun restarts the device and writes the same period
// again; its warning is written at most once a second. A device that goes away (DeviceGone,
// a suspension that resuming does not end, or three underruns in a row that restarting does
// not cure) is reported once, then opened again every kReopenIntervalMicroseconds with one
// further line every ten seconds; once it opens, playing goes on at the frame the clock
// gives (rate frames a second), with one line. The clock counts from the moment frame 0 was
// heard, taken from the device's delay after each write that finds more heard than the one
// before (the time of the first write while the device cannot say). A new stream has an
// empty buffer and plays its first frame after its own start-up, not after the old stream's
// delay: it gets the frame the clock gives at the return and, until it is heard (a second at
// most; a stream restarted after an underrun must be heard anew), no more than
// kReturnAheadMicroseconds of song, its delay asked every kReturnPollMicroseconds; once it
// is heard, a place more than kReturnToleranceMicroseconds off the clock's is mended by one
// jump. Any other error clears loop and recovers; on the third failure of the same period in
// a row the loop gives up. An empty buffer ends at once. Allocates nothing and copies
// nothing outside the reports.
TWriteLoopEnd RunWriteLoop(IPCMOutput& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
                           std::atomic<bool>& loop, IPlaybackClock& clock, unsigned int rate);

inline constexpr std::size_t kPlaybackStackSize = 4 * 1024 * 1024;

class TALSA : public TThread {
 public:
  // Opens and configures the device; any failure ends the demo with status 110.
  explicit TALSA(TALSAConfig& config);
  // A player over the given output and clock with a fixed period and rate, without opening
  // a device.
  TALSA(std::unique_ptr<IPCMOutput> output, std::uint64_t periodSize, unsigned int rate = 44100,
        std::unique_ptr<IPlaybackClock> clock = std::make_unique<TSteadyPlaybackClock>());
  // Ends the looping and waits for the worker to finish its pass (the demo never destroys
  // its player; the tests do).
  ~TALSA() override;

  // Hands the worker the buffer and starts it; false while it still runs, or once it has
  // played (the worker plays one buffer in the life of the object).
  bool PlayBuffer(TUInt8DynArray buffer, bool loop);
  void Start();

  std::uint64_t PeriodSize = 0;  // frames per write
  unsigned int SampleRate = 0;   // the rate the device chose
  TUInt8DynArray Buffer;
  std::atomic<bool> Loop{false};
  std::atomic<bool> Running{false};

 protected:
  void Execute() override;

 private:
  std::unique_ptr<IPCMOutput> Output;
  std::unique_ptr<IPlaybackClock> Clock;
};
