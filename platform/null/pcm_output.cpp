// uNullPCM: a device that plays nothing, in real time (see pcm.hpp); every system has it,
// and the null system plays through it (pcm.cpp).
#include "platform/null/pcm.hpp"

#include <algorithm>
#include <memory>

#include "platform/clock.hpp"
#include "platform/system.hpp"

namespace {

constexpr std::uint64_t kPeriodsInBuffer = 4;

class TNullPCMOutput final : public TSteadyPCMOutput {
 public:
  TNullPCMOutput(unsigned int rate, unsigned int channels, std::uint64_t periodFrames)
      : Rate(rate), Channels(channels), PeriodFrames(periodFrames), BufferFrames(kPeriodsInBuffer * periodFrames) {}

  std::uint64_t FrameBytes() const override { return std::uint64_t{Channels} * 2; }

  TPCMOutcome Write(const std::uint8_t*, std::uint64_t count) override {
    std::int64_t now = MonotonicMicroseconds();
    if (Played(now) >= Written) {
      // A new stream, or one that ran dry: it starts again with these frames.
      Start = now;
      Written = 0;
    }
    const std::uint64_t taken = std::min(count, BufferFrames);
    // Waits until the frames beyond the buffer's room have played.
    const std::uint64_t mustHavePlayed = Written + taken > BufferFrames ? Written + taken - BufferFrames : 0;
    if (Played(now) < mustHavePlayed) {
      SleepMicroseconds(Start + MicrosecondsFor(mustHavePlayed) - now);
      now = MonotonicMicroseconds();
    }
    Written += taken;
    return {TPCMResult::Written, taken, {}};
  }

  std::string SuspendedWords() const override { return "suspended"; }
  std::string UnderrunWords() const override { return "ran dry"; }

  std::optional<std::int64_t> Delay() override {
    return static_cast<std::int64_t>(Written - Played(MonotonicMicroseconds()));
  }

  std::optional<std::string> Reopen(std::uint64_t& periodFrames) override {
    Written = 0;
    periodFrames = PeriodFrames;
    return std::nullopt;
  }

 private:
  // The frames of the stream heard by now: all written ones at most.
  std::uint64_t Played(std::int64_t now) const {
    const auto elapsed = static_cast<std::uint64_t>(std::max<std::int64_t>(now - Start, 0));
    return std::min(Written, elapsed / 1000000 * Rate + elapsed % 1000000 * Rate / 1000000);
  }
  // The time frames take to play (rounded up, so that after it they have played).
  std::int64_t MicrosecondsFor(std::uint64_t frames) const {
    return static_cast<std::int64_t>(frames / Rate * 1000000 + (frames % Rate * 1000000 + Rate - 1) / Rate);
  }

  unsigned int Rate;
  unsigned int Channels;
  std::uint64_t PeriodFrames;
  std::uint64_t BufferFrames;
  std::int64_t Start = 0;
  std::uint64_t Written = 0;  // frames of the current stream
};

}  // namespace

TPCMDevice OpenNullPCMDevice(const TPCMRequest& request, std::uint64_t periodFrames) {
  TPCMDevice device;
  if (request.Rate == 0 || request.Channels == 0 || periodFrames == 0) {
    device.Failure = AudioLine("ERROR: the null sound device needs a rate, channels and a period");
    return device;
  }
  device.Output = std::make_unique<TNullPCMOutput>(request.Rate, request.Channels, periodFrames);
  device.Rate = request.Rate;
  device.PeriodFrames = periodFrames;
  return device;
}
