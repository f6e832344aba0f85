// Tests of the sound output on Linux: each step of the player's device set-up that ALSA
// refuses ends the demo with that step's own line and status 110; what each result of a
// write becomes for the player's loop; the warning for a device at another rate. The device
// is ALSA's "null" PCM (no sound server needed); the one call of a case is made to fail by
// the definitions below, which stand before libasound's for the program's own calls and
// pass every other call on to it.
#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "audio/alsa.hpp"
#include "platform/linux/pcm.hpp"
#include "tests/support/fatal_expect.hpp"

namespace {

// The set-up call made to fail in this process, and the error it answers with.
enum class TStep { None, Access, Format, Rate, HardwareParameters };
TStep gRefused = TStep::None;
int gRefusal = 0;

// libasound's own definition of a function, by the version the headers bind to.
template <class TFunction>
TFunction Real(const char* name, const char* version) {
  return reinterpret_cast<TFunction>(dlvsym(RTLD_NEXT, name, version));
}

}  // namespace

extern "C" {

int snd_pcm_hw_params_set_access(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, snd_pcm_access_t access) {
  if (gRefused == TStep::Access) return gRefusal;
  static const auto real = Real<int (*)(snd_pcm_t*, snd_pcm_hw_params_t*, snd_pcm_access_t)>(
      "snd_pcm_hw_params_set_access", "ALSA_0.9");
  return real(pcm, params, access);
}

int snd_pcm_hw_params_set_format(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, snd_pcm_format_t format) {
  if (gRefused == TStep::Format) return gRefusal;
  static const auto real = Real<int (*)(snd_pcm_t*, snd_pcm_hw_params_t*, snd_pcm_format_t)>(
      "snd_pcm_hw_params_set_format", "ALSA_0.9");
  return real(pcm, params, format);
}

int snd_pcm_hw_params_set_rate_near(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, unsigned int* rate, int* dir) {
  if (gRefused == TStep::Rate) return gRefusal;
  static const auto real = Real<int (*)(snd_pcm_t*, snd_pcm_hw_params_t*, unsigned int*, int*)>(
      "snd_pcm_hw_params_set_rate_near", "ALSA_0.9.0rc4");
  return real(pcm, params, rate, dir);
}

int snd_pcm_hw_params(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) {
  if (gRefused == TStep::HardwareParameters) return gRefusal;
  static const auto real =
      Real<int (*)(snd_pcm_t*, snd_pcm_hw_params_t*)>("snd_pcm_hw_params", "ALSA_0.9");
  return real(pcm, params);
}

}  // extern "C"

TEST(PlayerSetUp, EachRefusedStepEndsWithItsOwnLineAndStatus110) {
  struct TCase {
    const char* Name;
    TStep Refused;
    int Error;
    std::string Line;  // the last line; with no refusal the device is set up
  };
  // A different error in each case, so each line is seen to carry its own call's words.
  const std::vector<TCase> cases = {
      {"nothing refused", TStep::None, 0, "[uALSA] INFO: ALSA setup done"},
      {"interleaved access", TStep::Access, -EINVAL, "[uALSA] ERROR: Can't set interleaved mode: Invalid argument"},
      {"S16 little-endian", TStep::Format, -EOPNOTSUPP, "[uALSA] ERROR: Can't set format: Operation not supported"},
      {"the rate", TStep::Rate, -ERANGE, "[uALSA] ERROR: Can't set rate: Numerical result out of range"},
      {"installing the parameters", TStep::HardwareParameters, -EBUSY,
       "[uALSA] ERROR: Can't set harware parameters: Device or resource busy"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TChildOutcome outcome = RunInChild([&] {
      gRefused = c.Refused;
      gRefusal = c.Error;
      TALSAConfig config{"null", 44100, 2, SND_PCM_FORMAT_S16_LE};
      TALSA player(config);
    });
    EXPECT_EQ(outcome.Output,
              "[uALSA] using audio device: null; samplerate: 44100; channels: 2; format: SND_PCM_FORMAT_S16\n" +
                  c.Line + "\n");
    if (c.Refused == TStep::None) {
      EXPECT_TRUE(outcome.Returned) << "status " << outcome.Status;
    } else {
      EXPECT_TRUE(outcome.Exited);
      EXPECT_EQ(outcome.Status, 110);
    }
  }
}

TEST(ALSAOutput, EachWriteResultBecomesTheOutcomeTheLoopUnderstands) {
  struct TCase {
    std::int64_t Result;
    TPCMResult Outcome;
    std::uint64_t Frames;
    std::string Words;
  };
  const std::vector<TCase> cases = {
      {0, TPCMResult::Written, 0, ""},
      {441, TPCMResult::Written, 441, ""},
      {-EPIPE, TPCMResult::Underrun, 0, ""},
      {-ESTRPIPE, TPCMResult::Suspended, 0, ""},
      {-ENODEV, TPCMResult::DeviceGone, 0, "No such device"},
      {-EBADFD, TPCMResult::DeviceGone, 0, "File descriptor in bad state"},
      {-EIO, TPCMResult::DeviceGone, 0, "Input/output error"},
      {-EINVAL, TPCMResult::Failed, 0, "Invalid argument"},
      {-EAGAIN, TPCMResult::Failed, 0, "Resource temporarily unavailable"},
      {-EBUSY, TPCMResult::Failed, 0, "Device or resource busy"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Result);
    const TPCMOutcome outcome = WriteOutcome(c.Result);
    EXPECT_EQ(outcome.Result, c.Outcome);
    EXPECT_EQ(outcome.Frames, c.Frames);
    EXPECT_EQ(outcome.Error, c.Words);
  }
  // The words of the lines for a device that stays suspended or keeps running dry.
  TPCMDevice device = OpenPCMDevice({"null", 44100, 2}, false);
  ASSERT_EQ(device.Failure, "");
  EXPECT_EQ(device.Output->SuspendedWords(), "Streams pipe error");
  EXPECT_EQ(device.Output->UnderrunWords(), "Broken pipe");
  EXPECT_EQ(device.Output->FrameBytes(), 4u);
}

TEST(ALSAOutput, RateOtherThanTheSongsIsReported) {
  EXPECT_EQ(RateMismatchWarning(44100, 44100), std::nullopt);
  EXPECT_EQ(RateMismatchWarning(48000, 44100),
            "[uALSA] WARNING: device plays at 48000 Hz, not 44100 Hz; a plug device (plughw:...) converts");
}
