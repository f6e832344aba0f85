// uWindow on Linux, the system's own part: the X connection, the window and its GLX context
// as Xlib and GLX give them, for the Linux implementation and for the Linux tests and tools
// that look at the window from outside (through TPlatformWindow::State). Portable code never
// includes this header: Xlib's and GLX's headers and macros stay out of it.
#pragma once

#include <GL/glx.h>
#include <X11/Xlib.h>

#include <chrono>
#include <optional>

// When the window's event poll resets the X server's screen saver (XResetScreenSaver): at
// the first poll, then every kInterval, well within the shortest idle time a desktop lets a
// user set. The reset counts as activity for the screen saver and, on the common servers,
// for display power management, so the screen stays on through the run; nothing of the
// user's settings is changed, and once the run ends the idle time counts again as before.
class TScreenSaverReset {
 public:
  using TClock = std::chrono::steady_clock;
  static constexpr TClock::duration kInterval = std::chrono::seconds(30);
  // Whether a reset is due at the time now; a due reset counts as done.
  bool Due(TClock::time_point now);

 private:
  std::optional<TClock::time_point> Last_;
};

// The demo's window as the X server knows it.
struct TWindowState {
  Display* Connection = nullptr;  // opened from $DISPLAY
  ::Window Root = 0;              // the default screen's root window
  int Screen = 0;                 // the default screen's number
  ::Window Window = 0;            // the demo's window, with the context's visual
  GLXContext Context = nullptr;   // direct rendering, current on the creating thread
  Atom WMProtocols = 0;           // WM_PROTOCOLS: the type of a window manager's request
  Atom WMDeleteWindow = 0;        // WM_DELETE_WINDOW: the request to close the window
  TScreenSaverReset ScreenSaver;  // when the event poll next resets the screen saver
};

// Whether an X error means the demo's window is gone: the frame loop may touch the window
// (its size, the buffer swap) after another client destroyed it but before the
// DestroyNotify is read, and that gives BadWindow or BadDrawable naming it. Only a mapped
// window counts; any other error (a BadMatch during set-up, say) keeps Xlib's report and
// status. The error is given by the window it names and its code.
bool IsWindowGoneError(unsigned long resource, unsigned char code, unsigned long window, bool mapped);
