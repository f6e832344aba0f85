// uPlatform of the null system: a window without a display whose GL draws nothing, sound to
// nowhere in real time, the standard library's clocks, threads and files, and temporary files
// in memory. It runs the whole demo headless to its end on any machine with a C++ compiler,
// and is the template a new system starts from (README.md here).
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "null";
inline constexpr std::string_view kDisplayUnit = "uNullWindow";
inline constexpr std::string_view kAudioUnit = "uNullPCM";
// The null output's word for running dry: it has no error codes.
inline constexpr std::string_view kUnderrunCause = "ran dry";
// --device is taken and not looked at; no sound library to credit.
inline constexpr std::string_view kDeviceHint = "any name, nothing is heard";
inline constexpr std::string_view kSoundLibraryCredit = "";
inline constexpr std::string_view kSoundSystem = "null sound";
