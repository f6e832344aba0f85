// uALSA: plays one buffer of interleaved PCM frames through an ALSA device from a worker
// thread of its own, optionally looping. The device is opened and configured at
// construction; PlayBuffer starts the worker. A device or sound server that goes away while
// playing is opened again, at most four times a second, and the song goes on at the place
// the clock gives, as if it had never stopped; the clock counts from when the first frame
// was heard (the device's delay tells), not from when it was written. Every warning of the
// worker is written at most once a second. The write loop reaches the device only through IPCMWriter and keeps
// time through IPlaybackClock, so it also runs against stand-ins.
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
#include "platform/thread.hpp"

// ALSA's opaque handles, as <alsa/asoundlib.h> declares them.
typedef struct _snd_pcm snd_pcm_t;
typedef struct _snd_pcm_hw_params snd_pcm_hw_params_t;

struct TALSAConfig {
  std::string Device;
  std::int32_t SampleRate = 0;  // replaced by the rate the device chose
  std::uint32_t Channels = 0;
  std::int32_t Format = 0;      // snd_pcm_format_t
};

// What the song is played with on the named device: its own rate and channel count, its
// samples as signed 16-bit little-endian frames (the one format the player writes).
TALSAConfig SongConfig(std::string_view device, const TWAV& song);

// The PCM calls the write loop makes (snd_pcm_writei, _prepare, _recover, _delay,
// _frames_to_bytes, snd_strerror, and opening the device again).
class IPCMWriter {
 public:
  virtual ~IPCMWriter() = default;
  // Blocks until the device took frames; returns how many, or a negative error code.
  virtual std::int64_t WriteI(const std::uint8_t* frames, std::uint64_t count) = 0;
  virtual int Prepare() = 0;
  virtual int Recover(int error) = 0;
  virtual std::int64_t FramesToBytes(std::int64_t frames) = 0;
  virtual const char* StrError(int error) = 0;
  // The frames written but not yet heard, or nothing when the device cannot say now.
  virtual std::optional<std::int64_t> Delay() = 0;
  // Closes the device and opens the same one again with the same parameters, silently;
  // 0 with periodFrames set to its period, or a negative error code.
  virtual int Reopen(std::uint64_t& periodFrames) = 0;
};

// Opens and configures the device, filling the handle, the rate the device chose and the
// period; "" on success, else the one line that says what failed (its error in error).
// With announce the rate warning is written where the rates differ.
std::string OpenPCMDevice(TALSAConfig& config, snd_pcm_t*& pcm, snd_pcm_hw_params_t* hwParams,
                          std::uint64_t& periodSize, std::uint32_t& periodTime, int& error, bool announce);

// IPCMWriter over an ALSA PCM handle, which it opens again after the device went away.
class TALSAWriter final : public IPCMWriter {
 public:
  TALSAWriter(snd_pcm_t* pcm, snd_pcm_hw_params_t* hwParams, const TALSAConfig& config)
      : PCM(pcm), HWParams(hwParams), Config(config) {}
  std::int64_t WriteI(const std::uint8_t* frames, std::uint64_t count) override;
  int Prepare() override;
  int Recover(int error) override;
  std::int64_t FramesToBytes(std::int64_t frames) override;
  const char* StrError(int error) override;
  std::optional<std::int64_t> Delay() override;
  int Reopen(std::uint64_t& periodFrames) override;

 private:
  snd_pcm_t* PCM;
  snd_pcm_hw_params_t* HWParams;
  TALSAConfig Config;
};

// The clock the write loop keeps time by, and its way of waiting.
class IPlaybackClock {
 public:
  virtual ~IPlaybackClock() = default;
  virtual std::int64_t NowMicroseconds() = 0;
  virtual void SleepMicroseconds(std::int64_t duration) = 0;
};

// The monotonic clock (std::chrono::steady_clock) and a real sleep.
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

// True for the write errors of a device or sound server that went away: ENODEV, EBADFD,
// EIO, and ESTRPIPE (when resuming fails or does not last) and EPIPE (when preparing does
// not cure it), which the loop passes on only in those cases.
bool DeviceGone(int error);

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
// byte 0 while loop is set. An underrun re-prepares the device and writes the same period
// again; its warning is written at most once a second. A device that goes away (DeviceGone,
// or three underruns in a row that preparing does not cure) is reported once, then opened
// again every kReopenIntervalMicroseconds with one further line every ten seconds; once it
// opens, playing goes on at the frame the clock gives (rate frames a second), with one line.
// The clock counts from the moment frame 0 was heard, taken from the device's delay after
// each write that finds more heard than the one before (the time of the first write while
// the device cannot say). A new stream has an empty buffer and plays its first frame after
// its own start-up, not after the old stream's delay: it gets the frame the clock gives at
// the return and, until it is heard (a second at most; a stream prepared again after an
// underrun must be heard anew), no more than kReturnAheadMicroseconds of song, its delay
// asked every kReturnPollMicroseconds; once it is heard, a place more than
// kReturnToleranceMicroseconds off the clock's is mended by one jump. Any other error
// clears loop and tries to recover;
// on the third failure of the same period in a row the loop gives up. An empty buffer ends
// at once. Allocates nothing and copies nothing outside the reports.
TWriteLoopEnd RunWriteLoop(IPCMWriter& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
                           std::atomic<bool>& loop, IPlaybackClock& clock, unsigned int rate);

// The warning for a device that chose another rate than the song's (it would play the song
// too fast or too slow, and out of tune); nothing when the rates agree.
std::optional<std::string> RateMismatchWarning(unsigned int deviceRate, unsigned int songRate);

// The ALSA constant name of a sample format (value 2 is printed as "SND_PCM_FORMAT_S16").
std::string FormatConstantName(std::int32_t format);

inline constexpr std::size_t kPlaybackStackSize = 4 * 1024 * 1024;

class TALSA : public TThread {
 public:
  // Opens and configures the device; any failure ends the demo with status 110.
  explicit TALSA(TALSAConfig& config);
  // A player over the given PCM calls and clock with a fixed period and rate, without
  // opening a device.
  TALSA(std::unique_ptr<IPCMWriter> writer, std::uint64_t periodSize, unsigned int rate = 44100,
        std::unique_ptr<IPlaybackClock> clock = std::make_unique<TSteadyPlaybackClock>());
  // Ends the looping, waits for the worker to finish its pass and frees the hardware
  // parameters (the demo never destroys its player; the tests do).
  ~TALSA() override;

  // Hands the worker the buffer and starts it; false while it still runs, or once it has
  // played (the worker plays one buffer in the life of the object).
  bool PlayBuffer(TUInt8DynArray buffer, bool loop);
  void Start();

  snd_pcm_t* PCM = nullptr;
  snd_pcm_hw_params_t* HWParams = nullptr;
  std::uint64_t PeriodSize = 0;  // frames per write
  std::uint32_t PeriodTime = 0;  // microseconds, not used
  unsigned int SampleRate = 0;   // the rate the device chose
  TUInt8DynArray Buffer;
  std::atomic<bool> Loop{false};
  std::atomic<bool> Running{false};

 protected:
  void Execute() override;

 private:
  std::unique_ptr<IPCMWriter> Writer;
  std::unique_ptr<IPlaybackClock> Clock;
};
