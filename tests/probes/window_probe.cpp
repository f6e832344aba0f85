// harness_window_probe: a small X client that behaves like the demo's window towards the
// window manager, for the harness's own tests. It creates a 1x1 window that names its
// process (_NET_WM_PID) and asks for the full-screen state before it is mapped, paints it a
// known colour with a marker rectangle in its top-left corner, and reports on stdout (one
// flushed line each):
//   "probe: display <DISPLAY> headless <KELVO_HEADLESS>", "probe: mapped",
//   "probe: size WxH" on every ConfigureNotify, "probe: key N" on every key press,
//   "probe: destroyed" on DestroyNotify, "probe: final size WxH" when its time is up.
// It ends with status 0 on key code 9, on DestroyNotify or after --seconds S (default 30).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Colours the tests look for: background and marker differ in every channel, and neither
// survives a swap of red and blue.
constexpr unsigned long kBackground = 0x1060E0;
constexpr unsigned long kMarker = 0xF0A020;
constexpr int kMarkerWidth = 200;
constexpr int kMarkerHeight = 100;

void Report(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The pixel value of a 0xRRGGBB colour in a TrueColor visual.
unsigned long PixelOf(const Visual* visual, unsigned long rgb) {
  auto place = [](unsigned long mask, unsigned long eightBits) {
    if (mask == 0) return 0UL;
    int shift = __builtin_ctzl(mask);
    unsigned long max = mask >> shift;
    return ((eightBits * max / 255) << shift) & mask;
  };
  return place(visual->red_mask, rgb >> 16 & 0xFF) | place(visual->green_mask, rgb >> 8 & 0xFF) |
         place(visual->blue_mask, rgb & 0xFF);
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// Releases what the probe holds (so a leak checker sees a clean exit) and gives status 0.
// Closing waits for the server's answers; a drawing request that met a window another
// client had already destroyed answers with an error, which is expected at this point.
int Close(Display* display, GC gc) {
  XSetErrorHandler(IgnoreErrors);
  XFreeGC(display, gc);
  XCloseDisplay(display);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    Report("probe: cannot open the display");
    return 3;
  }
  const char* name = std::getenv("DISPLAY");
  const char* headless = std::getenv("KELVO_HEADLESS");
  Report(std::string("probe: display ") + (name ? name : "") + " headless " + (headless ? headless : ""));

  const int screen = DefaultScreen(display);
  const Visual* visual = DefaultVisual(display, screen);
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0,
                                      PixelOf(visual, kBackground));
  XSelectInput(display, window, KeyPressMask | StructureNotifyMask | ExposureMask);
  Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
  Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&fullScreen), 1);
  // Its process, as the demo names its own, so a second client finds this window and no other.
  long pid = static_cast<long>(getpid());
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  GC gc = XCreateGC(display, window, 0, nullptr);
  XSetForeground(display, gc, PixelOf(visual, kMarker));
  XMapWindow(display, window);
  XFlush(display);
  Report("probe: mapped");

  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  const int fd = ConnectionNumber(display);
  while (true) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      switch (event.type) {
        case Expose:
          XFillRectangle(display, window, gc, 0, 0, kMarkerWidth, kMarkerHeight);
          XFlush(display);
          break;
        case ConfigureNotify:
          Report("probe: size " + std::to_string(event.xconfigure.width) + "x" +
                 std::to_string(event.xconfigure.height));
          break;
        case KeyPress:
          Report("probe: key " + std::to_string(event.xkey.keycode));
          if (event.xkey.keycode == 9) return Close(display, gc);
          break;
        case DestroyNotify:
          Report("probe: destroyed");
          return Close(display, gc);
        default:
          break;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval wait{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
    select(fd + 1, &readable, nullptr, nullptr, &wait);
  }
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  Report("probe: final size " + std::to_string(attributes.width) + "x" + std::to_string(attributes.height));
  return Close(display, gc);
}
