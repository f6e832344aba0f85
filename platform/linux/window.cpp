// uWindow on Linux: an X11 window with a direct-rendering GLX context (see window.hpp). The
// window asks the window manager for full screen and names itself ("tessic", class
// kelvo/Kelvo, its process and machine, no compositing) before it is mapped, takes part in
// the window manager's close request (WM_DELETE_WINDOW, Alt-F4), hides the pointer, and
// its context is made current on the calling (main) thread. Where no EWMH window manager
// runs, the window covers the root window by itself. A BadWindow or BadDrawable naming the
// mapped window (another client destroyed it) ends the run with status 0, as the window's
// DestroyNotify does. The event poll resets the X server's screen saver now and then, so the
// screen neither blanks nor powers down during the run.
#include "platform/window.hpp"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "base/fatal.hpp"
#include "platform/linux/window.hpp"
#include "platform/loglines.hpp"
#include "platform/system.hpp"

namespace {

// The events the window selects: KeyPress and StructureNotify.
constexpr long kKelvoEventMask = KeyPressMask | StructureNotifyMask;
// The X key code of Escape on the keyboards the X server emulates and the common ones.
constexpr unsigned kEscapeKeyCode = 9;
// GLU, opened only to word a GL error.
constexpr const char* kGLULibrary = "libGLU.so.1";

// "[<unit>] <text>": the lines of the window's set-up.
std::string Line(std::string_view text) { return UnitLine(kDisplayUnit, text); }

// Xlib's error handler receives no user data, so the one demo window and Xlib's own
// handler are kept here; both are written once while the window is set up.
XErrorHandler DefaultErrorHandler = nullptr;
::Window DemoWindow = 0;

bool DemoWindowMapped = false;

int HandleXError(Display* display, XErrorEvent* error) {
  if (IsWindowGoneError(error->resourceid, error->error_code, DemoWindow, DemoWindowMapped)) Terminate(kExitOk);
  return DefaultErrorHandler != nullptr ? DefaultErrorHandler(display, error) : 0;
}

// Gives the window the name and identity window managers, task lists and compositors look
// for: the title in both the old and the UTF-8 form, the class, the owning process and
// machine, and the request not to composite it (full-screen games and demos ask for that,
// so that a compositing window manager hands the screen straight to them).
void SetWindowIdentity(Display* display, ::Window window) {
  std::string title(kWindowTitle);
  char instanceName[] = "kelvo";
  char className[] = "Kelvo";
  XStoreName(display, window, title.c_str());
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));

  XClassHint classHint{instanceName, className};
  XSetClassHint(display, window, &classHint);

  // _NET_WM_PID means something only together with the machine the process runs on.
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof(host) - 1) == 0 && host[0] != '\0') {
    char* hostList[] = {host};
    XTextProperty machine{};
    if (XStringListToTextProperty(hostList, 1, &machine) != 0) {
      XSetWMClientMachine(display, window, &machine);
      XFree(machine.value);
    }
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  }

  const long bypassCompositor = 1;
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_BYPASS_COMPOSITOR", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&bypassCompositor), 1);
}

// Asks for full screen through the EWMH state the window carries before it is mapped, so
// the window manager maps it full-screen; without an EWMH window manager (naming a property
// by no atom would be a protocol error) the window covers the root window by itself.
void RequestFullScreen(const TWindowState& state) {
  Atom fullscreen = XInternAtom(state.Connection, "_NET_WM_STATE_FULLSCREEN", True);
  Atom wmState = XInternAtom(state.Connection, "_NET_WM_STATE", True);
  if (fullscreen != None && wmState != None) {
    XChangeProperty(state.Connection, state.Window, wmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&fullscreen), 1);
  } else {
    WriteLine(Line("WARNING: no EWMH full-screen support, covering the root window"));
    XMoveResizeWindow(state.Connection, state.Window, 0, 0,
                      static_cast<unsigned>(DisplayWidth(state.Connection, state.Screen)),
                      static_cast<unsigned>(DisplayHeight(state.Connection, state.Screen)));
  }
}

// The events the frame loop takes, in the order they came: what the window selected (a key
// press, a change of its structure) and the client messages no mask selects, among them the
// window manager's close request. Other events that no mask selects (MappingNotify) stay
// queued, as they always did.
Bool IsFrameLoopEvent(Display*, XEvent* event, XPointer) {
  switch (event->type) {
    case KeyPress:
    case CirculateNotify:
    case ConfigureNotify:
    case DestroyNotify:
    case GravityNotify:
    case MapNotify:
    case ReparentNotify:
    case UnmapNotify:
    case ClientMessage:
      return True;
    default:
      return False;
  }
}

}  // namespace

bool IsWindowGoneError(unsigned long resource, unsigned char code, unsigned long window, bool mapped) {
  if (!mapped || window == 0 || resource != window) return false;
  return code == BadWindow || code == BadDrawable;
}

TPlatformWindow::TPlatformWindow() : State_(std::make_unique<TWindowState>()) {
  TWindowState& s = *State_;
  s.Connection = XOpenDisplay(nullptr);
  if (s.Connection == nullptr) FatalLine(Line("ERROR: cannot open X display"), kExitAssertion);
  DefaultErrorHandler = XSetErrorHandler(HandleXError);
  s.Root = DefaultRootWindow(s.Connection);
  s.Screen = DefaultScreen(s.Connection);

  int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
  XVisualInfo* visualInfo = glXChooseVisual(s.Connection, s.Screen, attributes);
  Assert(visualInfo != nullptr, "glx window setup, xvis_info is nil", kDisplayUnit, 86);

  // The window is created with the visual the context uses, so that making the context
  // current on it is valid with every driver.
  XSetWindowAttributes windowAttributes{};
  windowAttributes.background_pixel = 0;
  windowAttributes.border_pixel = 0;
  windowAttributes.colormap = XCreateColormap(s.Connection, s.Root, visualInfo->visual, AllocNone);
  s.Window = XCreateWindow(s.Connection, s.Root, 0, 0, 1, 1, 0, visualInfo->depth, InputOutput, visualInfo->visual,
                           CWBackPixel | CWBorderPixel | CWColormap, &windowAttributes);
  DemoWindow = s.Window;
  XSelectInput(s.Connection, s.Window, kKelvoEventMask);
  SetWindowIdentity(s.Connection, s.Window);
  // The window manager's close (Alt-F4) becomes a message to the window instead of the end
  // of the connection.
  s.WMProtocols = XInternAtom(s.Connection, "WM_PROTOCOLS", False);
  s.WMDeleteWindow = XInternAtom(s.Connection, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(s.Connection, s.Window, &s.WMDeleteWindow, 1);
  XFixesHideCursor(s.Connection, s.Root);
  RequestFullScreen(s);

  s.Context = glXCreateContext(s.Connection, visualInfo, nullptr, True);
  if (s.Context == nullptr) FatalLine(Line("ERROR: cannot create a GLX context"), kExitAssertion);
  // The visual is described inside the window and the context now; Xlib's copy goes.
  XFree(visualInfo);
  CheckGLError("glx-create-context");
  WriteLine(Line("INFO: created glx context"));

  if (!glXMakeCurrent(s.Connection, s.Window, s.Context))
    FatalLine(Line("ERROR: cannot make the GLX context current"), kExitAssertion);
  CheckGLError("glx-make-current");
  WriteLine(Line("INFO: made current"));
}

// Nothing is released: the window, the context and the connection end with the process.
TPlatformWindow::~TPlatformWindow() = default;

void TPlatformWindow::Map() {
  if (Mapped_) return;
  XMapWindow(State_->Connection, State_->Window);
  WriteLine(kMappedWindowLine);
  Mapped_ = true;
  DemoWindowMapped = true;
}

void TPlatformWindow::Size(std::int32_t& width, std::int32_t& height) {
  XWindowAttributes attributes{};
  XGetWindowAttributes(State_->Connection, State_->Window, &attributes);
  width = attributes.width;
  height = attributes.height;
}

void TPlatformWindow::Swap() { glXSwapBuffers(State_->Connection, State_->Window); }

bool TScreenSaverReset::Due(TClock::time_point now) {
  if (Last_.has_value() && now - *Last_ < kInterval) return false;
  Last_ = now;
  return true;
}

TWindowEvent TPlatformWindow::NextEvent() {
  if (State_->ScreenSaver.Due(TScreenSaverReset::TClock::now())) XResetScreenSaver(State_->Connection);
  XEvent event;
  if (!XCheckIfEvent(State_->Connection, &event, IsFrameLoopEvent, nullptr)) return TWindowEvent::Nothing;
  if (event.type == KeyPress && event.xkey.keycode == kEscapeKeyCode) return TWindowEvent::Escape;
  if (event.type == DestroyNotify) return TWindowEvent::WindowGone;
  if (event.type == ClientMessage && event.xclient.message_type == State_->WMProtocols &&
      event.xclient.format == 32 && static_cast<Atom>(event.xclient.data.l[0]) == State_->WMDeleteWindow)
    return TWindowEvent::CloseRequested;
  return TWindowEvent::Other;
}

const char* GLUErrorWords(unsigned int error, const char* library) {
  using TErrorString = const unsigned char* (*)(GLenum);
  void* handle = dlopen(library != nullptr ? library : kGLULibrary, RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  auto errorString = reinterpret_cast<TErrorString>(dlsym(handle, "gluErrorString"));
  // The library stays open: its words are static text within it.
  return errorString != nullptr ? reinterpret_cast<const char*>(errorString(error)) : nullptr;
}
