// uPCM: the sound output the player writes the song to, as the system gives it: a device
// opened by name for interleaved signed 16-bit little-endian frames, written one period at
// a time from the player's worker thread. Every write ends in an outcome the player's loop
// understands without the system's error codes: frames taken, an underrun (the device ran
// dry), a suspension, a device that went away, or another error with its words. The device
// can say how many of the frames written are not heard yet, and can be opened again after it
// went away. Null outputs for the tests live in platform/null.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What the song is played with: the device's name ("default" is the system's default
// output), the song's rate and channel count; the samples are always S16 little-endian.
struct TPCMRequest {
  std::string Device;
  unsigned int Rate = 0;
  unsigned int Channels = 0;
};

// How one write ended.
enum class TPCMResult {
  Written,     // Frames frames were taken (possibly fewer than offered, possibly none)
  Underrun,    // the device ran dry; the player restarts it (Restart) and writes again
  Suspended,   // the system suspended the device; the player resumes it (Resume)
  DeviceGone,  // the device or the sound server went away (Error says how)
  Failed,      // any other error (Error holds its words); the player recovers (Recover)
};
struct TPCMOutcome {
  TPCMResult Result = TPCMResult::Written;
  std::uint64_t Frames = 0;
  std::string Error;
};

class IPCMOutput {
 public:
  virtual ~IPCMOutput() = default;
  // Bytes per frame (channels x 2).
  virtual std::uint64_t FrameBytes() const = 0;
  // Blocks until the device took frames (at most count) or failed.
  virtual TPCMOutcome Write(const std::uint8_t* frames, std::uint64_t count) = 0;
  // After an underrun: prepares the device to play again; nothing when it will, else the
  // words of why not (the device went away).
  virtual std::optional<std::string> Restart() = 0;
  // After a suspension: resumes the device; false when it cannot be (it went away).
  virtual bool Resume() = 0;
  // The words for a device that stays suspended or keeps running dry ("Streams pipe error",
  // "Broken pipe" on ALSA).
  virtual std::string SuspendedWords() const = 0;
  virtual std::string UnderrunWords() const = 0;
  // After another error: what the system does to play on.
  virtual void Recover() = 0;
  // The frames written but not yet heard, or nothing when the device cannot say now.
  virtual std::optional<std::int64_t> Delay() = 0;
  // Closes the device and opens the same one again with the same parameters, silently;
  // nothing on success with periodFrames set to its period, else the words of why not.
  virtual std::optional<std::string> Reopen(std::uint64_t& periodFrames) = 0;
};

// An output whose device never stops on its own account nor goes away (a device without
// hardware behind it: a null device, a browser's audio graph): after an underrun or a
// suspension it plays on as it is, and no error needs recovering from.
class TSteadyPCMOutput : public IPCMOutput {
 public:
  std::optional<std::string> Restart() override { return std::nullopt; }
  bool Resume() override { return true; }
  void Recover() override {}
};

// A device opened for the request: the output, the rate it plays at, its period in frames;
// or, where it cannot be opened or configured, the one line that says what failed (the
// player ends the demo with it and status 110).
struct TPCMDevice {
  std::unique_ptr<IPCMOutput> Output;
  unsigned int Rate = 0;
  std::uint64_t PeriodFrames = 0;
  std::string Failure;
};

// Opens and configures the device. With announce, a device that plays at another rate than
// the request's says so in one warning line.
TPCMDevice OpenPCMDevice(const TPCMRequest& request, bool announce);

// The system's code of that sample format (SND_PCM_FORMAT_S16_LE, 2, on ALSA), which the
// player's configuration carries, and the name the player's first line gives it
// ("SND_PCM_FORMAT_S16" on ALSA).
std::int32_t PCMFormatCode();
std::string PCMFormatName();
