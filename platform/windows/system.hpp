// uPlatform on Windows: a Win32 window with a WGL context, sound through WASAPI.
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "windows";
inline constexpr std::string_view kDisplayUnit = "uWGL";
inline constexpr std::string_view kAudioUnit = "uWASAPI";
// WASAPI reports no error when its buffer runs dry: the output finds the endpoint's buffer
// empty (no padding) when it writes again.
inline constexpr std::string_view kUnderrunCause = "empty endpoint buffer";
// What --device names, in the banner's hint; WASAPI is part of Windows, no library to credit.
inline constexpr std::string_view kDeviceHint = "audio endpoint name or id";
inline constexpr std::string_view kSoundLibraryCredit = "";
// The sound system's name, in the player's set-up line.
inline constexpr std::string_view kSoundSystem = "WASAPI";
