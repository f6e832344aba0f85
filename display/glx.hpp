// uGLX: the demo's one window and its OpenGL context. Connects to the X server, creates a
// window that asks the window manager for full screen and names itself ("tessic", class
// kelvo/Kelvo, its process and machine, no compositing) before it is mapped, hides the
// pointer, makes a direct-rendering GLX context current on the calling (main) thread and
// sets the GL state the whole run relies on. The engine swaps and reads the window's events
// through it; the X and GLX handles stay inside (Xlib's headers and macros reach no unit
// that includes this header). GLU is opened only where it
// is installed, for the words of a GL error.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <string>
#include <string_view>

// Xlib's and GLX's handles, as their headers declare them.
struct _XDisplay;
struct __GLXcontextRec;

// What the frame loop needs to know of the window's events.
enum class TDisplayEvent {
  Nothing,     // nothing was pending (not "None": Xlib defines that as a macro)
  Escape,      // the Escape key was pressed
  WindowGone,  // the window was destroyed
  Other,       // any other key or a change of the window's structure
};

class TKelvoDisplay {
 public:
  TKelvoDisplay();
  TKelvoDisplay(const TKelvoDisplay&) = delete;
  TKelvoDisplay& operator=(const TKelvoDisplay&) = delete;

  // Maps the window the first time; later calls do nothing.
  void MapWindow();
  // Reads the window's current size into WindowWidth and WindowHeight.
  void UpdateWindowSize();
  // Shows the frame just drawn (the GLX buffer swap).
  void SwapBuffers();
  // Takes one pending key press or structure event of the window, without waiting.
  TDisplayEvent NextEvent();

  // The connection and the window, read-only, for the tests that look at them from outside.
  _XDisplay* Connection() const { return XDisplay; }
  unsigned long WindowId() const { return Window; }
  unsigned long RootId() const { return Root; }

  bool Mapped = false;
  std::int32_t WindowWidth = 0;
  std::int32_t WindowHeight = 0;

 private:
  _XDisplay* XDisplay = nullptr;
  unsigned long Root = 0;  // X window ids (XID)
  std::int32_t ScreenNumber = 0;
  unsigned long Window = 0;
  __GLXcontextRec* Context = nullptr;
};

// Whether an X error means the demo's window is gone: the frame loop may touch the window
// (its size, the buffer swap) after another client destroyed it but before the
// DestroyNotify is read, and that gives BadWindow or BadDrawable naming it. Only a mapped
// window counts; any other error (a BadMatch during set-up, say) keeps Xlib's report and
// status. The error is given by the window it names and its code.
bool IsWindowGoneError(unsigned long resource, unsigned char code, unsigned long window, bool mapped);

// "<label>: GL ERROR: <GLU's words>" where GLU (the library gluLibrary, opened only here)
// is installed and has words for the code; else the code's name ("GL_INVALID_ENUM"), or
// "unknown error 0x<code>" for a code without one.
std::string GLErrorLine(std::string_view label, GLenum error, const char* gluLibrary = "libGLU.so.1");

// Looks at one pending GL error; if there is one, writes its line and ends the demo with
// status 200.
void CheckGLError(std::string_view label);
