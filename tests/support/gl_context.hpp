// Test support: one GL context per test process, in a mapped full-screen window of the
// headless harness, plus small helpers to make textures and read pixels back. Needs the
// harness (./test.sh).
#pragma once

#include <cstdint>
#include <functional>

#include "display/bmp.hpp"

// The Linux tests that reach the window's X state include platform/linux/window.hpp (Xlib's
// macros clash with GoogleTest's names) after gtest and the others.
class TKelvoDisplay;

struct TRGBA {
  std::uint8_t R = 0, G = 0, B = 0, A = 0;
};

// Returns the process's display, creating it on first use: window mapped and grown to its
// full-screen size. Fails the current test (not skips) outside the harness; the result is
// then nullptr. Use: ASSERT_NO_FATAL_FAILURE(display = TestDisplay());
TKelvoDisplay* TestDisplay();

// Sets the viewport to the window, resets the projection and clears to transparent black,
// as the frame loop does before the renderers draw.
void BeginTestFrame();

// Reads one pixel of the back buffer (origin lower left, as GL counts).
TRGBA ReadPixel(int x, int y);

// Uploads a width x height picture whose pixels come from colour(x, y) (y = 0 is the
// bottom row) the way the picture loader does (BGRA bytes, NEAREST filters).
TTexture MakeTestTexture(int width, int height, const std::function<TRGBA(int, int)>& colour);
