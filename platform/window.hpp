// uWindow: the demo's one window and its OpenGL context, as the system gives them. The
// window is created covering the screen it starts on (a full-screen request to the window
// manager, or the monitor's rectangle where the system has no such request), not yet shown,
// with the pointer hidden over it, and named "tessic"; its GL context (RGBA, double
// buffered) is made current on the calling thread, which from then on makes every GL call.
// The frame loop maps it once, reads its size each frame, swaps the buffers and takes one
// event per pass without waiting. Each system writes its own set-up lines, under its own
// unit (kDisplayUnit); every failure ends the demo with its line and status.
#pragma once

#include <cstdint>
#include <memory>

// What the frame loop needs to know of the window's events.
enum class TWindowEvent {
  Nothing,         // nothing was pending
  Escape,          // the Escape key was pressed
  CloseRequested,  // the window manager or the system asked the window to close (Alt-F4)
  WindowGone,      // the window was destroyed
  Other,           // any other key or a change of the window's structure
};

struct TWindowState;  // the system's window and context, defined by each system's implementation

class TPlatformWindow {
 public:
  // Creates the window and its context and makes the context current (see above).
  TPlatformWindow();
  TPlatformWindow(const TPlatformWindow&) = delete;
  TPlatformWindow& operator=(const TPlatformWindow&) = delete;
  ~TPlatformWindow();

  // Shows the window the first time, writing kMappedWindowLine; later calls do nothing.
  void Map();
  bool Mapped() const { return Mapped_; }
  // The window's current size in pixels.
  void Size(std::int32_t& width, std::int32_t& height);
  // Shows the frame just drawn.
  void Swap();
  // Takes one pending event of the window, without waiting.
  TWindowEvent NextEvent();

  // The system's own state, for that system's tests and tools alone.
  TWindowState& State() { return *State_; }

 private:
  std::unique_ptr<TWindowState> State_;
  bool Mapped_ = false;
};
