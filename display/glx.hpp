// uGLX: the demo's one window with its OpenGL context, and the GL state the whole run relies
// on. The window and the context come from the platform (created covering the screen, not
// yet shown, the pointer hidden, the context current on the calling main thread); this unit
// then enables 2D texturing and blending with the source's alpha, each step checked for a
// GL error. The engine maps the window, reads its size, swaps and takes its events through
// it. No system's header reaches a unit that includes this one.
#pragma once

#include <cstdint>

#include "platform/window.hpp"

class TKelvoDisplay {
 public:
  TKelvoDisplay();
  TKelvoDisplay(const TKelvoDisplay&) = delete;
  TKelvoDisplay& operator=(const TKelvoDisplay&) = delete;

  // Maps the window the first time; later calls do nothing.
  void MapWindow();
  bool Mapped() const { return Window_.Mapped(); }
  // Reads the window's current size into WindowWidth and WindowHeight.
  void UpdateWindowSize();
  // Shows the frame just drawn.
  void SwapBuffers();
  // Takes one pending event of the window, without waiting.
  TWindowEvent NextEvent();

  // The system's window, for that system's tests that look at it from outside.
  TPlatformWindow& Window() { return Window_; }

  std::int32_t WindowWidth = 0;
  std::int32_t WindowHeight = 0;

 private:
  TPlatformWindow Window_;
};
