// uWindow on Windows: a Win32 window with a WGL context. The process is made per-monitor DPI
// aware first (so Windows neither scales the window nor lies about its size), then a
// borderless WS_POPUP window is created over the whole monitor the pointer is on (the one
// the demo was started from), without changing the display mode; the pointer is hidden over
// it (no class cursor, and none set on WM_SETCURSOR). Its pixel format is the one the GLX
// visual asks for: RGBA, double buffered, nothing more required. Once the context is current
// the GL in use is said in one line, and a GL that cannot show the demo (Windows' own GL
// 1.1, where no GPU driver serves the screen, or one without GL 1.2's BGRA textures and edge
// clamping) ends the run with status 200 and a line saying what to do, before any texture.
// Mapped, the window is shown in front whatever show state the program was started with,
// asks for the foreground as the system documents it (one WARNING line where the system
// keeps another window there), and keeps the display awake until the end. NextEvent pumps
// the thread's messages without waiting and hands out what the window procedure saw:
// Escape, WM_CLOSE (Alt-F4, the taskbar's close) as a close request, WM_DESTROY as the
// window gone. Before the process ends (the end hook of base/fatal.hpp, on the main thread)
// the context is released and the window destroyed, so that the driver's threads are not
// torn down under a current context. The GL state is set by the portable display code (see
// window.hpp). The program exports the two variables by which the GPU drivers of hybrid
// laptops run a program on the discrete GPU.
#include "platform/window.hpp"

#include <windows.h>

#include <GL/gl.h>

#include <string>

#include "base/fatal.hpp"
#include "platform/loglines.hpp"
#include "platform/system.hpp"
#include "platform/windows/gl_check.hpp"
#include "platform/windows/opengl32.hpp"
#include "platform/windows/wide.hpp"
#include "platform/windows/window_state.hpp"

// Read by NVIDIA's and AMD's drivers on hybrid laptops (Optimus, PowerXpress) from the
// program's exports: non-zero asks for the high-performance GPU.
extern "C" {
__declspec(dllexport) DWORD NvOptimusEnablement = 1;
__declspec(dllexport) int AmdPowerXpressRequestHighPerformance = 1;
}

namespace {

constexpr const wchar_t* kClassName = kWindowTitleWide.data();
constexpr const wchar_t* kTitle = kWindowTitleWide.data();

std::string Line(std::string_view text) { return UnitLine(kDisplayUnit, text); }

// The window procedure reaches the state through the window's user data.
TWindowState* StateOf(HWND window) {
  return reinterpret_cast<TWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  TWindowState* state = StateOf(window);
  auto post = [&](TWindowEvent event) {
    if (state != nullptr) state->Events.push_back(event);
  };
  switch (message) {
    case WM_KEYDOWN:
      post(wParam == VK_ESCAPE ? TWindowEvent::Escape : TWindowEvent::Other);
      return 0;
    case WM_SYSKEYDOWN:
      // Alt with a key: the system turns Alt-F4 into WM_CLOSE.
      post(TWindowEvent::Other);
      break;
    case WM_CLOSE:
      // Not destroyed here: the frame loop ends the run as on Escape.
      post(TWindowEvent::CloseRequested);
      return 0;
    case WM_DESTROY:
      post(TWindowEvent::WindowGone);
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      // Alt or F10 alone would enter the window menu's modal loop and stop the frame loop;
      // the screen saver and display power-off would hide the show.
      switch (wParam & 0xFFF0) {
        case SC_KEYMENU:
        case SC_SCREENSAVE:
        case SC_MONITORPOWER:
          return 0;
        default:
          break;
      }
      break;
    case WM_ERASEBKGND:
      return 1;  // GL draws every pixel
    case WM_DPICHANGED:
      return 0;  // the window keeps covering its monitor in pixels
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Per-monitor DPI awareness, the best the system offers: version 2 (Windows 10 1703 and
// later), else per monitor (Windows 8.1), else the whole system (Vista). Looked up, so that
// the program starts on each of them.
void BecomeDpiAware() {
  using TSetContext = BOOL(WINAPI*)(HANDLE);
  using TSetAwareness = HRESULT(WINAPI*)(int);
  using TSetAware = BOOL(WINAPI*)();
  HMODULE user = GetModuleHandleW(L"user32.dll");
  const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
  if (user != nullptr) {
    auto setContext =
        reinterpret_cast<TSetContext>(reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDpiAwarenessContext")));
    if (setContext != nullptr && setContext(perMonitorV2)) return;
  }
  if (HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); shcore != nullptr) {
    auto setAwareness =
        reinterpret_cast<TSetAwareness>(reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
    constexpr int kPerMonitorAware = 2;
    if (setAwareness != nullptr && SUCCEEDED(setAwareness(kPerMonitorAware))) return;
  }
  if (user != nullptr) {
    auto setAware = reinterpret_cast<TSetAware>(reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDPIAware")));
    if (setAware != nullptr) setAware();
  }
}

// The monitor the pointer is on (where the demo was started from), in pixels.
RECT StartMonitor() {
  POINT pointer{};
  GetCursorPos(&pointer);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  HMONITOR monitor = MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return info.rcMonitor;
}

// The window the end hook releases, made and used on the main thread.
TWindowState* Current = nullptr;
DWORD CurrentThread = 0;

// Gives back what the window holds, once: the display's wakefulness, the context (no longer
// current) and the window. Only the thread that made them may: elsewhere it does nothing.
void Release(TWindowState& state) {
  if (GetCurrentThreadId() != CurrentThread) return;
  if (state.AwakeRequested) {
    SetThreadExecutionState(ES_CONTINUOUS);
    state.AwakeRequested = false;
  }
  if (state.Context != nullptr) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(state.Context);
    state.Context = nullptr;
  }
  if (state.Window != nullptr && IsWindow(state.Window)) {
    ReleaseDC(state.Window, state.DeviceContext);
    // Destroyed without telling the frame loop: nobody asks for events any more.
    SetWindowLongPtrW(state.Window, GWLP_USERDATA, 0);
    DestroyWindow(state.Window);
  }
  state.Window = nullptr;
  state.DeviceContext = nullptr;
}

void ReleaseBeforeTheEnd() {
  if (Current != nullptr) Release(*Current);
}

// One line with the GL's strings; a GL that cannot show the demo ends the run here.
void SayAndCheckTheGL() {
  auto text = [](GLenum name) {
    const auto* value = reinterpret_cast<const char*>(glGetString(name));
    return std::string(value != nullptr ? value : "");
  };
  const std::string vendor = text(GL_VENDOR);
  const std::string renderer = text(GL_RENDERER);
  const std::string version = text(GL_VERSION);
  const std::string said = "vendor " + vendor + ", renderer " + renderer + ", version " + version;
  WriteLine(std::string(kGLInUseLine) + " " + said);
  switch (JudgeGL(vendor, renderer, version, text(GL_EXTENSIONS))) {
    case TGLVerdict::Suitable:
      return;
    case TGLVerdict::BuiltIn:
      FatalLine(kGLBuiltInLine, kExitGLError);
    case TGLVerdict::TooOld:
      FatalLine(std::string(kGLTooOldLine) + " " + said, kExitGLError);
  }
}

}  // namespace

TPlatformWindow::TPlatformWindow() : State_(std::make_unique<TWindowState>()) {
  TWindowState& state = *State_;
  BecomeDpiAware();
  // From System32 only, before the pixel format brings the GL driver in.
  LoadOpenGL32();
  state.Instance = GetModuleHandleW(nullptr);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_OWNDC;  // one device context for the window's life, as WGL wants
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = state.Instance;
  windowClass.hCursor = nullptr;  // no pointer over the window
  windowClass.lpszClassName = kClassName;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    FatalLine(Line("ERROR: cannot register the window class: " + ErrorWords(GetLastError())), kExitAssertion);

  const RECT monitor = StartMonitor();
  state.Window = CreateWindowExW(WS_EX_APPWINDOW, kClassName, kTitle, WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                 monitor.left, monitor.top, monitor.right - monitor.left, monitor.bottom - monitor.top,
                                 nullptr, nullptr, state.Instance, &state);
  if (state.Window == nullptr)
    FatalLine(Line("ERROR: cannot create the window: " + ErrorWords(GetLastError())), kExitAssertion);
  state.DeviceContext = GetDC(state.Window);

  PIXELFORMATDESCRIPTOR wanted{};
  wanted.nSize = sizeof wanted;
  wanted.nVersion = 1;
  wanted.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  wanted.iPixelType = PFD_TYPE_RGBA;
  wanted.cColorBits = 24;  // a preference: the closest RGBA format is taken
  wanted.iLayerType = PFD_MAIN_PLANE;
  const int format = ChoosePixelFormat(state.DeviceContext, &wanted);
  Assert(format != 0, "wgl window setup, pixel format is nil", kDisplayUnit, 86);
  PIXELFORMATDESCRIPTOR chosen{};
  DescribePixelFormat(state.DeviceContext, format, sizeof chosen, &chosen);
  if (!SetPixelFormat(state.DeviceContext, format, &chosen))
    FatalLine(Line("ERROR: cannot set the pixel format: " + ErrorWords(GetLastError())), kExitAssertion);

  state.Context = wglCreateContext(state.DeviceContext);
  if (state.Context == nullptr)
    FatalLine(Line("ERROR: cannot create a WGL context: " + ErrorWords(GetLastError())), kExitAssertion);
  // No GL call is valid before the context is current (Windows' GL answers
  // GL_INVALID_OPERATION): the context's first check comes after wglMakeCurrent.
  WriteLine(Line("INFO: created wgl context"));
  if (!wglMakeCurrent(state.DeviceContext, state.Context))
    FatalLine(Line("ERROR: cannot make the WGL context current: " + ErrorWords(GetLastError())), kExitAssertion);
  CheckGLError("wgl-make-current");
  WriteLine(Line("INFO: made current"));
  Current = &state;
  CurrentThread = GetCurrentThreadId();
  SetBeforeTerminate(&ReleaseBeforeTheEnd);
  SayAndCheckTheGL();
}

TPlatformWindow::~TPlatformWindow() {
  Release(*State_);
  if (Current == State_.get()) Current = nullptr;
}

void TPlatformWindow::Map() {
  if (Mapped_) return;
  TWindowState& state = *State_;
  // Shown on top by SetWindowPos: the process's first ShowWindow would take the show state
  // it was started with ("Run: Minimized" in a shortcut, start /min) in place of its own.
  // A window minimised all the same is restored.
  SetWindowPos(state.Window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  if (IsIconic(state.Window)) ShowWindow(state.Window, SW_RESTORE);
  // Windows gives the foreground only to the process the user last used or its child, and
  // not while the user works elsewhere (a click during the load); then it flashes the
  // taskbar's button, and the run says why Escape does not reach it.
  if (!SetForegroundWindow(state.Window) || GetForegroundWindow() != state.Window) {
    FLASHWINFO flash{sizeof flash, state.Window, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
    WriteLine(kNotInFrontLine);
  }
  // The display stays on without input for the whole show (refusing the screen saver's
  // command covers neither password-protected savers nor display power-off).
  state.AwakeRequested = SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED) != 0;
  WriteLine(kMappedWindowLine);
  Mapped_ = true;
}

void TPlatformWindow::Size(std::int32_t& width, std::int32_t& height) {
  RECT client{};
  GetClientRect(State_->Window, &client);
  width = client.right - client.left;
  height = client.bottom - client.top;
}

void TPlatformWindow::Swap() { SwapBuffers(State_->DeviceContext); }

TWindowEvent TPlatformWindow::NextEvent() {
  TWindowState& state = *State_;
  MSG message;
  while (state.Events.empty() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (state.Events.empty()) return TWindowEvent::Nothing;
  const TWindowEvent event = state.Events.front();
  state.Events.pop_front();
  return event;
}

// Windows' GLU (glu32.dll) is not loaded: a GL error is worded by its code's name.
const char* GLUErrorWords(unsigned int, const char*) { return nullptr; }
