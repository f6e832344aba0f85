// uWindow on Linux, the system's own part: the X connection, the window and its GLX context
// as Xlib and GLX give them, for the Linux implementation and for the Linux tests and tools
// that look at the window from outside (through TPlatformWindow::State). Portable code never
// includes this header: Xlib's and GLX's headers and macros stay out of it.
#pragma once

#include <GL/glx.h>
#include <X11/Xlib.h>

// The demo's window as the X server knows it.
struct TWindowState {
  Display* Connection = nullptr;  // opened from $DISPLAY
  ::Window Root = 0;              // the default screen's root window
  int Screen = 0;                 // the default screen's number
  ::Window Window = 0;            // the demo's window, with the context's visual
  GLXContext Context = nullptr;   // direct rendering, current on the creating thread
  Atom WMProtocols = 0;           // WM_PROTOCOLS: the type of a window manager's request
  Atom WMDeleteWindow = 0;        // WM_DELETE_WINDOW: the request to close the window
};

// Whether an X error means the demo's window is gone: the frame loop may touch the window
// (its size, the buffer swap) after another client destroyed it but before the
// DestroyNotify is read, and that gives BadWindow or BadDrawable naming it. Only a mapped
// window counts; any other error (a BadMatch during set-up, say) keeps Xlib's report and
// status. The error is given by the window it names and its code.
bool IsWindowGoneError(unsigned long resource, unsigned char code, unsigned long window, bool mapped);
