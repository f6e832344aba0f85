// uPCM on Linux: the song's output through an ALSA PCM device (see pcm.hpp). A device is
// opened for blocking interleaved S16 little-endian writes with the request's channels and
// the rate nearest the request's; each step that fails gives the player's line for it,
// under kAudioUnit. Writes, their errors, recovery and opening again are ALSA's calls, kept
// in one state struct per stream; nothing of ALSA leaves this file.
#include "platform/linux/pcm.hpp"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>

#include "base/fatal.hpp"
#include "platform/system.hpp"

namespace {

// The samples the player writes; on this (little-endian) system ALSA also calls the format
// SND_PCM_FORMAT_S16, the name the player's first line gives it.
constexpr snd_pcm_format_t kFormat = SND_PCM_FORMAT_S16_LE;
static_assert(SND_PCM_FORMAT_S16 == kFormat, "a little-endian system");

// One ALSA playback stream: its handle, the hardware parameters every opening reuses, the
// request it is opened again with, and the error of the last failed write (for Recover).
struct TALSAState {
  snd_pcm_t* PCM = nullptr;
  snd_pcm_hw_params_t* HWParams = nullptr;
  TPCMRequest Request;
  int LastError = 0;

  explicit TALSAState(TPCMRequest request) : Request(std::move(request)) { snd_pcm_hw_params_malloc(&HWParams); }
  TALSAState(const TALSAState&) = delete;
  TALSAState& operator=(const TALSAState&) = delete;
  ~TALSAState() {
    Close();
    if (HWParams != nullptr) snd_pcm_hw_params_free(HWParams);
  }
  void Close() {
    if (PCM != nullptr) snd_pcm_close(PCM);
    PCM = nullptr;
  }
};

// Opens and configures the state's device; "" on success with the rate the device chose and
// its period, else the one line that says what failed (its error code in error). With
// announce the rate warning is written where the rates differ.
std::string Configure(TALSAState& state, unsigned int& rate, std::uint64_t& periodFrames, int& error, bool announce) {
  const TPCMRequest& request = state.Request;
  error = snd_pcm_open(&state.PCM, request.Device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (error < 0) {
    state.PCM = nullptr;
    return AudioLine("ERROR: can't open PCM Device \"" + request.Device + "\": " + snd_strerror(error));
  }
  snd_pcm_t* pcm = state.PCM;
  auto failed = [&](std::string_view what) { return AudioLine("ERROR: " + std::string(what) + snd_strerror(error)); };
  snd_pcm_hw_params_any(pcm, state.HWParams);
  error = snd_pcm_hw_params_set_access(pcm, state.HWParams, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (error < 0) return failed("Can't set interleaved mode: ");
  error = snd_pcm_hw_params_set_format(pcm, state.HWParams, kFormat);
  if (error < 0) return failed("Can't set format: ");
  error = snd_pcm_hw_params_set_channels(pcm, state.HWParams, request.Channels);
  if (error < 0) return failed("Can't set channels number: ");

  rate = request.Rate;
  error = snd_pcm_hw_params_set_rate_near(pcm, state.HWParams, &rate, nullptr);
  if (error < 0) return failed("Can't set rate: ");
  if (std::optional<std::string> warning = RateMismatchWarning(rate, request.Rate); warning && announce) {
    WriteLine(*warning);
  }

  error = snd_pcm_hw_params(pcm, state.HWParams);
  if (error < 0) return failed("Can't set harware parameters: ");

  snd_pcm_uframes_t frames = 0;
  snd_pcm_hw_params_get_period_size(state.HWParams, &frames, nullptr);
  periodFrames = frames;
  return {};
}

class TALSAOutput final : public IPCMOutput {
 public:
  explicit TALSAOutput(std::unique_ptr<TALSAState> state) : State(std::move(state)) {}

  std::uint64_t FrameBytes() const override { return std::uint64_t{State->Request.Channels} * 2; }

  TPCMOutcome Write(const std::uint8_t* frames, std::uint64_t count) override {
    if (State->PCM == nullptr) return WriteOutcome(-EBADFD);
    const snd_pcm_sframes_t result = snd_pcm_writei(State->PCM, frames, count);
    TPCMOutcome outcome = WriteOutcome(result);
    if (outcome.Result == TPCMResult::Failed) State->LastError = Narrow<int>(result);
    return outcome;
  }

  std::optional<std::string> Restart() override {
    const int error = snd_pcm_prepare(State->PCM);
    if (error < 0) return std::string(snd_strerror(error));
    return std::nullopt;
  }

  bool Resume() override { return snd_pcm_recover(State->PCM, -ESTRPIPE, 1) >= 0; }

  std::string SuspendedWords() const override { return snd_strerror(-ESTRPIPE); }
  std::string UnderrunWords() const override { return snd_strerror(-EPIPE); }

  void Recover() override { snd_pcm_recover(State->PCM, State->LastError, 1); }

  std::optional<std::int64_t> Delay() override {
    snd_pcm_sframes_t frames = 0;
    if (State->PCM == nullptr || snd_pcm_delay(State->PCM, &frames) < 0) return std::nullopt;
    return frames;
  }

  std::optional<std::string> Reopen(std::uint64_t& periodFrames) override {
    State->Close();
    unsigned int rate = 0;
    int error = 0;
    if (!Configure(*State, rate, periodFrames, error, false).empty()) {
      State->Close();
      return std::string(snd_strerror(error < 0 ? error : -ENODEV));
    }
    return std::nullopt;
  }

 private:
  std::unique_ptr<TALSAState> State;
};

}  // namespace

TPCMOutcome WriteOutcome(std::int64_t result) {
  if (result >= 0) return {TPCMResult::Written, static_cast<std::uint64_t>(result), {}};
  const int error = Narrow<int>(result);
  switch (error) {
    case -EPIPE:
      return {TPCMResult::Underrun, 0, {}};
    case -ESTRPIPE:
      return {TPCMResult::Suspended, 0, {}};
    case -ENODEV:
    case -EBADFD:
    case -EIO:
      return {TPCMResult::DeviceGone, 0, snd_strerror(error)};
    default:
      return {TPCMResult::Failed, 0, snd_strerror(error)};
  }
}

std::optional<std::string> RateMismatchWarning(unsigned int deviceRate, unsigned int songRate) {
  if (deviceRate == songRate) return std::nullopt;
  return AudioLine("WARNING: device plays at " + std::to_string(deviceRate) + " Hz, not " + std::to_string(songRate) +
                    " Hz; a plug device (plughw:...) converts");
}

TPCMDevice OpenPCMDevice(const TPCMRequest& request, bool announce) {
  auto state = std::make_unique<TALSAState>(request);
  TPCMDevice device;
  int error = 0;
  device.Failure = Configure(*state, device.Rate, device.PeriodFrames, error, announce);
  if (device.Failure.empty()) device.Output = std::make_unique<TALSAOutput>(std::move(state));
  return device;
}

std::int32_t PCMFormatCode() { return kFormat; }

std::string PCMFormatName() { return "SND_PCM_FORMAT_S16"; }
