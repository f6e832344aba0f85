// uGLX: the demo's one window and its OpenGL context. Connects to the X server, creates a
// window that asks the window manager for full screen and names itself ("tessic", class
// kelvo/Kelvo, its process and machine, no compositing) before it is mapped, hides the
// pointer, makes a direct-rendering GLX context current on the calling (main) thread and
// sets the GL state the whole run relies on. Depends on Xlib, XFixes, GLX and uFatal; on GLU
// only where it is installed, for the words of a GL error.
#pragma once

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

// Xlib's macro Status would rename every field of that name in the units that include
// this header; nothing here uses Xlib's Status type.
#undef Status

#include <cstdint>
#include <string>
#include <string_view>

// The events the window selects and the frame loop polls: KeyPress and StructureNotify.
inline constexpr long kKelvoEventMask = KeyPressMask | StructureNotifyMask;

class TKelvoDisplay {
 public:
  TKelvoDisplay();
  TKelvoDisplay(const TKelvoDisplay&) = delete;
  TKelvoDisplay& operator=(const TKelvoDisplay&) = delete;

  // Maps the window the first time; later calls do nothing.
  void MapWindow();
  // Reads the window's current size into WindowWidth and WindowHeight.
  void UpdateWindowSize();

  bool Mapped = false;
  Display* XDisplay = nullptr;
  ::Window Root = 0;
  std::int32_t ScreenNumber = 0;
  XVisualInfo* VisualInfo = nullptr;
  ::Window Window = 0;
  GLXContext Context = nullptr;
  std::int32_t WindowWidth = 0;
  std::int32_t WindowHeight = 0;
};

// Whether an X error means the demo's window is gone: the frame loop may touch the window
// (its size, the buffer swap) after another client destroyed it but before the
// DestroyNotify is read, and that gives BadWindow or BadDrawable naming it. Only a mapped
// window counts; any other error (a BadMatch during set-up, say) keeps Xlib's report and
// status.
bool IsWindowGoneError(const XErrorEvent& error, ::Window window, bool mapped);

// "<label>: GL ERROR: <GLU's words>" where GLU (the library gluLibrary, opened only here)
// is installed and has words for the code; else the code's name ("GL_INVALID_ENUM"), or
// "unknown error 0x<code>" for a code without one.
std::string GLErrorLine(std::string_view label, GLenum error, const char* gluLibrary = "libGLU.so.1");

// Looks at one pending GL error; if there is one, writes its line and ends the demo with
// status 200.
void CheckGLError(std::string_view label);
