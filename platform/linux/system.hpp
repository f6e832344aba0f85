// uPlatform on Linux: an X11 window with a GLX context, sound through ALSA.
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "linux";
inline constexpr std::string_view kDisplayUnit = "uGLX";
inline constexpr std::string_view kAudioUnit = "uALSA";
// ALSA answers a write to a device that ran dry with -EPIPE.
inline constexpr std::string_view kUnderrunCause = "-EPIPE";
// What --device names, in the banner's hint, and the sound library the banner credits.
inline constexpr std::string_view kDeviceHint = "alsa device";
inline constexpr std::string_view kSoundLibraryCredit =
    "    alsa-lib, the Advanced Linux Sound Architecture library by the ALSA project\n"
    "      -> https://www.alsa-project.org";
// The sound system's name, in the player's set-up line.
inline constexpr std::string_view kSoundSystem = "ALSA";
