// uALSA: plays one buffer of interleaved PCM frames through an ALSA device from a worker
// thread of its own, optionally looping. The device is opened and configured at
// construction; PlayBuffer starts the worker. The write loop reaches the device only
// through IPCMWriter, so it also runs against a recording stand-in.
// Depends on libasound, TThread, uDynArray, uFatal.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/thread.hpp"
#include "audio/wav.hpp"
#include "base/dynarray.hpp"

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

// The PCM calls the write loop makes (snd_pcm_writei, _prepare, _recover,
// _frames_to_bytes, snd_strerror).
class IPCMWriter {
 public:
  virtual ~IPCMWriter() = default;
  // Blocks until the device took frames; returns how many, or a negative error code.
  virtual std::int64_t WriteI(const std::uint8_t* frames, std::uint64_t count) = 0;
  virtual int Prepare() = 0;
  virtual int Recover(int error) = 0;
  virtual std::int64_t FramesToBytes(std::int64_t frames) = 0;
  virtual const char* StrError(int error) = 0;
};

// IPCMWriter over an open ALSA PCM handle.
class TALSAWriter final : public IPCMWriter {
 public:
  explicit TALSAWriter(snd_pcm_t* pcm) : PCM(pcm) {}
  std::int64_t WriteI(const std::uint8_t* frames, std::uint64_t count) override;
  int Prepare() override;
  int Recover(int error) override;
  std::int64_t FramesToBytes(std::int64_t frames) override;
  const char* StrError(int error) override;

 private:
  snd_pcm_t* PCM;
};

// How the write loop ended.
enum class TWriteLoopEnd {
  Finished,  // the end of the buffer was reached with looping off (or the buffer was empty)
  GaveUp,    // the same period failed three times in a row
};

// Writes buffer to the device one period at a time (the last write of a pass asks only for
// the frames that remain; a trailing partial frame is never written), starting again at
// byte 0 while loop is set. An underrun re-prepares the device and writes the same period
// again (a prepare that fails counts as a failure of the period); any other error clears
// loop, tries to recover; on the third failure of the same period in a row the loop gives up. An empty buffer ends at once. Allocates nothing and copies
// nothing outside the error reports.
TWriteLoopEnd RunWriteLoop(IPCMWriter& pcm, std::span<const std::uint8_t> buffer, std::uint64_t periodFrames,
                           std::atomic<bool>& loop);

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
  // A player over the given PCM calls with a fixed period, without opening a device.
  TALSA(std::unique_ptr<IPCMWriter> writer, std::uint64_t periodSize);
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
  TUInt8DynArray Buffer;
  std::atomic<bool> Loop{false};
  std::atomic<bool> Running{false};

 protected:
  void Execute() override;

 private:
  std::unique_ptr<IPCMWriter> Writer;
};
