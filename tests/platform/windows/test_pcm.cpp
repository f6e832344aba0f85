// The WASAPI backend: the format and flags of the stream it asks for (Windows refuses a
// format unlike the engine's mix format unless the engine is asked to convert, which Wine
// cannot show), an unknown output named in one line, and the default output playing with a
// delay that shrinks as it is heard (where the machine has a sound server).
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "platform/pcm.hpp"
#include "platform/windows/pcm_format.hpp"

namespace {

WAVEFORMATEXTENSIBLE Mix(DWORD rate, WORD channels, WORD bits, const GUID& type) {
  WAVEFORMATEXTENSIBLE mix{};
  mix.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  mix.Format.nChannels = channels;
  mix.Format.nSamplesPerSec = rate;
  mix.Format.wBitsPerSample = bits;
  mix.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  mix.Format.nAvgBytesPerSec = rate * mix.Format.nBlockAlign;
  mix.Format.cbSize = 22;
  mix.Samples.wValidBitsPerSample = bits;
  mix.SubFormat = type;
  return mix;
}

constexpr DWORD kConvert = kStreamFlagsAutoConvertPcm | kStreamFlagsSrcDefaultQuality;

TEST(SharedStream, IsTheSongsFormatAndAsksTheEngineToConvertWhereTheMixDiffers) {
  // The usual Windows mix: 48 kHz 32-bit float stereo.
  const auto usual = Mix(48000, 2, 32, kSubtypeFloat);
  const TSharedStream stream = SharedStreamFor(44100, 2, usual.Format);
  EXPECT_EQ(stream.Flags & kConvert, kConvert);
  EXPECT_NE(stream.Flags & kStreamFlagsEventCallback, 0u);
  const WAVEFORMATEXTENSIBLE& format = stream.Format;
  EXPECT_EQ(format.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(format.Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.Format.nChannels, 2u);
  EXPECT_EQ(format.Format.wBitsPerSample, 16u);
  EXPECT_EQ(format.Format.nBlockAlign, 4u);
  EXPECT_EQ(format.Format.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(format.Format.cbSize, 22u);
  EXPECT_EQ(format.Samples.wValidBitsPerSample, 16u);
  EXPECT_EQ(format.dwChannelMask, static_cast<DWORD>(SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT));
  EXPECT_TRUE(format.SubFormat == kSubtypePcm);

  // Any one difference is enough: the rate, the sample type at the same rate and width of
  // frame, the width, the channel count.
  EXPECT_EQ(SharedStreamFor(44100, 2, Mix(44100, 2, 32, kSubtypeFloat).Format).Flags & kConvert,
            kConvert);
  EXPECT_EQ(SharedStreamFor(44100, 2, Mix(44100, 2, 24, kSubtypePcm).Format).Flags & kConvert, kConvert);
  EXPECT_EQ(SharedStreamFor(44100, 2, Mix(44100, 6, 16, kSubtypePcm).Format).Flags & kConvert, kConvert);
  EXPECT_EQ(SharedStreamFor(44100, 2, Mix(48000, 2, 16, kSubtypePcm).Format).Flags & kConvert, kConvert);
  // The song's very format, extensible or plain, needs no conversion.
  EXPECT_EQ(SharedStreamFor(44100, 2, Mix(44100, 2, 16, kSubtypePcm).Format).Flags & kConvert, 0u);
  WAVEFORMATEX plain{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  EXPECT_EQ(SharedStreamFor(44100, 2, plain).Flags & kConvert, 0u);
  EXPECT_EQ(SharedStreamFor(44100, 1, plain).Format.dwChannelMask, static_cast<DWORD>(SPEAKER_FRONT_CENTER));
}

TEST(WasapiDevice, AnUnknownNameIsOneLineAndNoOutput) {
  const TPCMDevice device = OpenPCMDevice({"no such output", 44100, 2}, true);
  EXPECT_FALSE(device.Output);
  EXPECT_TRUE(device.Failure.starts_with("[uWASAPI] ERROR: can't open PCM Device \"no such output\": "))
      << device.Failure;
  EXPECT_EQ(device.Failure.find('\n'), std::string::npos);
}

TEST(WasapiDevice, TheDefaultOutputPlaysAndItsDelayShrinks) {
  TPCMDevice device = OpenPCMDevice({"default", 44100, 2}, true);
  if (!device.Output) GTEST_SKIP() << "no sound output here: " << device.Failure;
  ASSERT_EQ(device.Rate, 44100u);
  ASSERT_GT(device.PeriodFrames, 0u);
  EXPECT_EQ(device.Output->FrameBytes(), 4u);
  std::vector<std::uint8_t> silence(44100 / 5 * 4, 0);  // 200 ms
  std::uint64_t written = 0;
  while (written < 44100 / 5) {
    const std::uint64_t offered = std::min<std::uint64_t>(device.PeriodFrames, 44100 / 5 - written);
    const TPCMOutcome outcome = device.Output->Write(silence.data() + written * 4, offered);
    ASSERT_EQ(outcome.Result, TPCMResult::Written) << outcome.Error;
    ASSERT_LE(outcome.Frames, offered);
    written += outcome.Frames;
  }
  const auto before = device.Output->Delay();
  ASSERT_TRUE(before);
  EXPECT_GE(*before, 0);
  EXPECT_LE(*before, static_cast<std::int64_t>(written));
  Sleep(300);
  const auto after = device.Output->Delay();
  ASSERT_TRUE(after);
  EXPECT_LT(*after, *before);
  std::uint64_t period = 0;
  EXPECT_EQ(device.Output->Reopen(period), std::nullopt);
  EXPECT_GT(period, 0u);
}

}  // namespace
