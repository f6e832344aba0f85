// uPlatform: the facts of the system the demo was built for that portable code writes into
// its log lines: the unit names of the window and sound backends, and the sound system's
// word for an underrun. The build chooses one system and passes its header as
// KELVO_SYSTEM_HEADER (platform/<system>/system.hpp), so a new system brings a header of its
// own and no portable file changes.
#pragma once

#include <string>
#include <string_view>

#include KELVO_SYSTEM_HEADER

#include "base/fatal.hpp"

// Every system header defines, as inline constexpr std::string_view:
//   kSystemName    "linux", "windows", ...
//   kDisplayUnit   the unit that writes the window's and GL context's lines ("uGLX")
//   kAudioUnit     the unit that writes the player's lines ("uALSA")
//   kUnderrunCause the system's word for why the device ran dry, in the underrun line ("-EPIPE")
//   kDeviceHint    what --device names, in the banner ("alsa device")
//   kSoundLibraryCredit  the banner's lines for the sound library it uses, or none
//   kSoundSystem   the sound system's name, in the player's set-up line ("ALSA")
static_assert(!kSystemName.empty() && !kDisplayUnit.empty() && !kAudioUnit.empty() && !kUnderrunCause.empty() &&
              !kDeviceHint.empty() && !kSoundSystem.empty());

// A line of the player, the system's sound unit: "[uALSA] <text>" on Linux.
inline std::string AudioLine(std::string_view text) { return UnitLine(kAudioUnit, text); }

// The player's warning of an underrun that restarting the device cured, which the benchmark
// counts: "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)" on Linux.
inline const std::string kUnderrunLine =
    AudioLine("WARNING: Buffer underrun during playback (" + std::string(kUnderrunCause) + ")");
