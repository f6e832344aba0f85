// uGLX: window, GLX context and the fixed GL state (see glx.hpp).
#include "display/glx.hpp"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/fatal.hpp"
#include "base/loglines.hpp"

namespace {

// The events the window selects and the frame loop polls: KeyPress and StructureNotify.
constexpr long kKelvoEventMask = KeyPressMask | StructureNotifyMask;
// The X key code of Escape on the keyboards the X server emulates and the common ones.
constexpr unsigned kEscapeKeyCode = 9;

// Xlib's error handler receives no user data, so the one demo window and Xlib's own
// handler are kept here; both are written once while the display is set up.
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
  char title[] = "tessic";
  char instanceName[] = "kelvo";
  char className[] = "Kelvo";
  XStoreName(display, window, title);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title), static_cast<int>(sizeof(title) - 1));

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

}  // namespace

bool IsWindowGoneError(unsigned long resource, unsigned char code, unsigned long window, bool mapped) {
  if (!mapped || window == 0 || resource != window) return false;
  return code == BadWindow || code == BadDrawable;
}

TKelvoDisplay::TKelvoDisplay() {
  XDisplay = XOpenDisplay(nullptr);
  if (XDisplay == nullptr) FatalLine("[uGLX] ERROR: cannot open X display", kExitAssertion);
  DefaultErrorHandler = XSetErrorHandler(HandleXError);
  Root = DefaultRootWindow(XDisplay);
  ScreenNumber = DefaultScreen(XDisplay);

  int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
  XVisualInfo* VisualInfo = glXChooseVisual(XDisplay, ScreenNumber, attributes);
  Assert(VisualInfo != nullptr, "glx window setup, xvis_info is nil", "uGLX", 86);

  // The window is created with the visual the context uses, so that making the context
  // current on it is valid with every driver.
  XSetWindowAttributes windowAttributes{};
  windowAttributes.background_pixel = 0;
  windowAttributes.border_pixel = 0;
  windowAttributes.colormap = XCreateColormap(XDisplay, Root, VisualInfo->visual, AllocNone);
  Window = XCreateWindow(XDisplay, Root, 0, 0, 1, 1, 0, VisualInfo->depth, InputOutput, VisualInfo->visual,
                         CWBackPixel | CWBorderPixel | CWColormap, &windowAttributes);
  DemoWindow = Window;
  XSelectInput(XDisplay, Window, kKelvoEventMask);
  SetWindowIdentity(XDisplay, Window);
  XFixesHideCursor(XDisplay, Root);

  Atom fullscreen = XInternAtom(XDisplay, "_NET_WM_STATE_FULLSCREEN", True);
  Atom state = XInternAtom(XDisplay, "_NET_WM_STATE", True);
  if (fullscreen != None && state != None) {
    XChangeProperty(XDisplay, Window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&fullscreen), 1);
  } else {
    // No EWMH window manager: naming a property by no atom would be a protocol error, so
    // the window covers the root window by itself instead.
    WriteLine("[uGLX] WARNING: no EWMH full-screen support, covering the root window");
    XMoveResizeWindow(XDisplay, Window, 0, 0, static_cast<unsigned>(DisplayWidth(XDisplay, ScreenNumber)),
                      static_cast<unsigned>(DisplayHeight(XDisplay, ScreenNumber)));
  }
  Mapped = false;

  Context = glXCreateContext(XDisplay, VisualInfo, nullptr, True);
  if (Context == nullptr) FatalLine("[uGLX] ERROR: cannot create a GLX context", kExitAssertion);
  // The visual is described inside the window and the context now; Xlib's copy goes.
  XFree(VisualInfo);
  CheckGLError("glx-create-context");
  WriteLine("[uGLX] INFO: created glx context");

  if (!glXMakeCurrent(XDisplay, Window, Context))
    FatalLine("[uGLX] ERROR: cannot make the GLX context current", kExitAssertion);
  CheckGLError("glx-make-current");
  WriteLine("[uGLX] INFO: made current");

  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  CheckGLError("gl-enables");
  WriteLine("[uGLX] INFO: enables done!");

  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  CheckGLError("blend-func");
  WriteLine("[uGLX] INFO: blend func done!");
  WriteLine(kGLSetupDoneLine);
}

void TKelvoDisplay::MapWindow() {
  if (Mapped) return;
  XMapWindow(XDisplay, Window);
  WriteLine(kMappedWindowLine);
  Mapped = true;
  DemoWindowMapped = true;
}

void TKelvoDisplay::SwapBuffers() { glXSwapBuffers(XDisplay, Window); }

TDisplayEvent TKelvoDisplay::NextEvent() {
  XEvent event;
  if (!XCheckMaskEvent(XDisplay, kKelvoEventMask, &event)) return TDisplayEvent::Nothing;
  if (event.type == KeyPress && event.xkey.keycode == kEscapeKeyCode) return TDisplayEvent::Escape;
  if (event.type == DestroyNotify) return TDisplayEvent::WindowGone;
  return TDisplayEvent::Other;
}

void TKelvoDisplay::UpdateWindowSize() {
  XWindowAttributes attributes{};
  XGetWindowAttributes(XDisplay, Window, &attributes);
  WindowWidth = attributes.width;
  WindowHeight = attributes.height;
}

namespace {

// The names of the error codes that glGetError may give, for machines without GLU.
const char* GLErrorName(GLenum error) {
  switch (error) {
    case 0x0500: return "GL_INVALID_ENUM";
    case 0x0501: return "GL_INVALID_VALUE";
    case 0x0502: return "GL_INVALID_OPERATION";
    case 0x0503: return "GL_STACK_OVERFLOW";
    case 0x0504: return "GL_STACK_UNDERFLOW";
    case 0x0505: return "GL_OUT_OF_MEMORY";
    case 0x0506: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case 0x0507: return "GL_CONTEXT_LOST";
    case 0x8031: return "GL_TABLE_TOO_LARGE";
    default: return nullptr;
  }
}

// GLU's words for a code, or null where GLU is not installed or has none for it. GLU is
// opened only when an error is worded, so the demo runs where it is missing.
const char* GLUWords(GLenum error, const char* library) {
  using TErrorString = const unsigned char* (*)(GLenum);
  void* handle = dlopen(library, RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  auto errorString = reinterpret_cast<TErrorString>(dlsym(handle, "gluErrorString"));
  // The library stays open: its words are static text within it.
  return errorString != nullptr ? reinterpret_cast<const char*>(errorString(error)) : nullptr;
}

}  // namespace

std::string GLErrorLine(std::string_view label, GLenum error, const char* gluLibrary) {
  std::string line(label);
  line += ": GL ERROR: ";
  // GLU has words only for the codes it knows; it gives none for the others.
  if (const char* words = GLUWords(error, gluLibrary); words != nullptr) {
    line += words;
  } else if (const char* name = GLErrorName(error); name != nullptr) {
    line += name;
  } else {
    char number[32];
    std::snprintf(number, sizeof number, "unknown error 0x%04X", static_cast<unsigned>(error));
    line += number;
  }
  return line;
}

void CheckGLError(std::string_view label) {
  GLenum error = glGetError();
  if (error == GL_NO_ERROR) return;
  FatalLine(GLErrorLine(label, error), kExitGLError);
}
