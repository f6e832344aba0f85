// uWindow: the demo's one window and its OpenGL context, as the system gives them. The
// window is created covering the screen it starts on (a full-screen request to the window
// manager, or the monitor's rectangle where the system has no such request), not yet shown,
// with the pointer hidden over it, and named "tessic"; its GL context (RGBA, double
// buffered) is made current on the calling thread, which from then on makes every GL call.
// The frame loop maps it once, reads its size each frame, swaps the buffers and takes one
// event per pass without waiting. Each system writes its own set-up lines, under its own
// unit (kDisplayUnit); every failure ends the demo with its line and status. A GL error is
// worded in the system's GL utility library's words where that library is installed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

// The system's GL utility library's words for a GL error code (GLU's gluErrorString), or
// null where that library is not installed or has no words for the code. The library is
// opened only when an error is worded, so the demo runs where it is missing; library names
// another file to open instead of the system's own (for the tests).
const char* GLUErrorWords(unsigned int error, const char* library = nullptr);

// "<label>: GL ERROR: <GLU's words>" where GLU (the system's, or the library named) has
// words for the code; else the code's name ("GL_INVALID_ENUM"), or "unknown error 0x<code>"
// for a code without one.
std::string GLErrorLine(std::string_view label, unsigned int error, const char* gluLibrary = nullptr);

// Looks at one pending GL error; if there is one, writes its line and ends the demo with
// status 200.
void CheckGLError(std::string_view label);
