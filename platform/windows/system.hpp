// uPlatform on Windows: a Win32 window with a WGL context, sound through WASAPI.
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "windows";
inline constexpr std::string_view kDisplayUnit = "uWGL";
inline constexpr std::string_view kAudioUnit = "uWASAPI";
