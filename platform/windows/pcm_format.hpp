// uPCM on Windows: what the WASAPI backend asks the audio engine for, apart from the COM
// calls so that it is tested on its own. The song is always interleaved signed 16-bit PCM
// at its own rate; in shared mode the engine mixes at its own format (48 kHz float on most
// machines), and Windows refuses IAudioClient::Initialize with any other format unless the
// stream asks the engine to convert (AUTOCONVERTPCM with SRC_DEFAULT_QUALITY). Wine accepts
// such a stream either way, so no run under Wine can show this: the tests of this function do.
#pragma once

#include <windows.h>
#include <mmreg.h>

// Stream flags of IAudioClient::Initialize that mingw-w64's headers lack.
inline constexpr DWORD kStreamFlagsEventCallback = 0x00040000;   // AUDCLNT_STREAMFLAGS_EVENTCALLBACK
inline constexpr DWORD kStreamFlagsSrcDefaultQuality = 0x08000000;  // AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY
inline constexpr DWORD kStreamFlagsAutoConvertPcm = 0x80000000;   // AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM

// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT, spelt out (mingw-w64 leaves them to a library).
inline constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct TSharedStream {
  WAVEFORMATEXTENSIBLE Format{};  // what Initialize is given
  DWORD Flags = 0;                // its stream flags
};

// The format and flags of an event-driven shared-mode stream of the song (rate frames a
// second, channels interleaved, S16 little-endian) on an engine that mixes at mix: the
// engine converts wherever the mix format is not that very format (another rate, channel
// count, sample type or width), and is asked for nothing where it is.
TSharedStream SharedStreamFor(unsigned int rate, unsigned int channels, const WAVEFORMATEX& mix);

// True when a mix format is the song's format exactly: 16-bit integer PCM (plain or
// extensible) at that rate and channel count.
bool MixIsSongFormat(const WAVEFORMATEX& mix, unsigned int rate, unsigned int channels);
