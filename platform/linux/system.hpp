// uPlatform on Linux: an X11 window with a GLX context, sound through ALSA.
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "linux";
inline constexpr std::string_view kDisplayUnit = "uGLX";
inline constexpr std::string_view kAudioUnit = "uALSA";
// ALSA answers a write to a device that ran dry with -EPIPE.
inline constexpr std::string_view kUnderrunCause = "-EPIPE";
