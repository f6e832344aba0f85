// uLogLines: the log lines that mark the demo's progress, written by the units that reach
// each point and waited for by the tests, the benchmarks and the tools.
#pragma once

#include <string_view>

// The window is mapped: set-up is over and the frame loop begins.
inline constexpr std::string_view kMappedWindowLine = "[uGLX] INFO: Mapped Window";
// The window and its GL context are set up.
inline constexpr std::string_view kGLSetupDoneLine = "[uGLX] INFO: GL(X) setup done";
// One scene renderer is registered with the engine.
inline constexpr std::string_view kRegisteredRendererLine = "[uKelvo] INFO: registered renderer";
// The song and the font go through temporary files; these prefixes come before the path.
inline constexpr std::string_view kSongTempFilePrefix =
    "[uWAV] LoadFromResourceLazinessHack: Creating temporary song file: ";
inline constexpr std::string_view kFontTempFilePrefix =
    "[uFont] GenerateTextureAtlasBMP: Creating temporary font file: ";
