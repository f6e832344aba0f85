// uPlatform on Windows: a Win32 window with a WGL context, sound through WASAPI.
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "windows";
inline constexpr std::string_view kDisplayUnit = "uWGL";
inline constexpr std::string_view kAudioUnit = "uWASAPI";
// WASAPI reports no error when its buffer runs dry: the output finds the endpoint's buffer
// empty (no padding) when it writes again.
inline constexpr std::string_view kUnderrunCause = "empty endpoint buffer";
