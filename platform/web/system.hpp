// uPlatform on the web: a canvas with a WebGL context behind the GL 1.x calls, sound through
// Web Audio.
#pragma once

#include <string_view>

inline constexpr std::string_view kSystemName = "web";
inline constexpr std::string_view kDisplayUnit = "uWebGL";
inline constexpr std::string_view kAudioUnit = "uWebAudio";
// Web Audio plays silence when the ring buffer it pulls from runs dry.
inline constexpr std::string_view kUnderrunCause = "empty ring buffer";
// The page has one output, the browser's; --device is not asked for.
inline constexpr std::string_view kDeviceHint = "ignored in the browser";
inline constexpr std::string_view kSoundLibraryCredit = "";
inline constexpr std::string_view kSoundSystem = "Web Audio";
