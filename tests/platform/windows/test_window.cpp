// The Windows window and process: a borderless window named "tessic" covering its monitor
// with a GL context (from System32's opengl32.dll, loaded after the process limited DLL
// loading to the system folder, though another lies beside the program) that takes
// 8192 x 8192 textures, with no pointer over it; Escape, a close
// request and the window's destruction handed out as events; the GL judged by its strings;
// the GPU requests exported; standard output byte for byte, with no C runtime call that
// Microsoft's newer runtime (UCRT) takes as an invalid parameter.
#include <gtest/gtest.h>
#include <windows.h>

#include <GL/gl.h>

#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "base/facts.hpp"
#include "platform/image.hpp"
#include "platform/process.hpp"
#include "platform/window.hpp"
#include "platform/loglines.hpp"
#include "platform/windows/console.hpp"
#include "platform/windows/gl_check.hpp"
#include "platform/windows/wide.hpp"
#include "platform/windows/window_state.hpp"

// The C runtime calls of the process's preparation, checked against UCRT's rules (msvcrt,
// which this program links, forgives both): setvbuf's size is 2..INT_MAX unless unbuffered;
// _setmode's descriptor is an open one. The program links them wrapped (-Wl,--wrap).
int InvalidRuntimeCalls = 0;
bool OpenDescriptor(int descriptor) {
  if (descriptor < 0) return false;
  const intptr_t handle = _get_osfhandle(descriptor);
  return handle != -1 && handle != -2;
}
extern "C" int __real_setvbuf(FILE* stream, char* buffer, int mode, size_t size);
extern "C" int __wrap_setvbuf(FILE* stream, char* buffer, int mode, size_t size) {
  if (mode != _IONBF && (size < 2 || size > INT_MAX)) ++InvalidRuntimeCalls;
  return __real_setvbuf(stream, buffer, mode, size);
}
// _setmode is imported (dllimport): its calls go through the import's pointer, which the
// wrap replaces with one to the check.
extern "C" int (*__real___imp__setmode)(int, int);
int CheckedSetMode(int descriptor, int mode) {
  if (!OpenDescriptor(descriptor)) ++InvalidRuntimeCalls;
  return __real___imp__setmode(descriptor, mode);
}
extern "C" int (*__wrap___imp__setmode)(int, int);
int (*__wrap___imp__setmode)(int, int) = &CheckedSetMode;

namespace {

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
  return text;
}

// A DLL planted beside the program under the name opengl32.dll (any DLL will do: a copy of
// one of the system's), as a download folder may hold one; it goes again at the end.
class PlantedOpenGL {
 public:
  PlantedOpenGL() {
    const std::string exe = ExecutablePath();
    Path = SystemPath(exe.substr(0, FolderPartLength(exe)) + "opengl32.dll");
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    Planted = CopyFileW((std::wstring(system) + L"\\version.dll").c_str(), Path.c_str(), TRUE) != 0;
  }
  ~PlantedOpenGL() {
    if (Planted) DeleteFileW(Path.c_str());
  }
  bool Planted = false;

 private:
  std::wstring Path;
};

TEST(WglWindow, CoversItsMonitorWithAContextAndHandsOutItsEvents) {
  PlantedOpenGL planted;
  ASSERT_TRUE(planted.Planted);
  PrepareProcess();
  ASSERT_EQ(GetModuleHandleW(L"opengl32.dll"), nullptr) << "opengl32.dll was loaded before the process was prepared";
  TPlatformWindow window;
  HWND handle = window.State().Window;
  ASSERT_NE(handle, nullptr);

  HMODULE opengl = GetModuleHandleW(L"opengl32.dll");
  ASSERT_NE(opengl, nullptr);
  wchar_t loaded[MAX_PATH];
  GetModuleFileNameW(opengl, loaded, MAX_PATH);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(Lower(loaded), Lower(std::wstring(system) + L"\\opengl32.dll"));

  // Asked of the drivers of hybrid laptops through the program's exports.
  EXPECT_NE(GetProcAddress(GetModuleHandleW(nullptr), "NvOptimusEnablement"), nullptr);
  EXPECT_NE(GetProcAddress(GetModuleHandleW(nullptr), "AmdPowerXpressRequestHighPerformance"), nullptr);

  EXPECT_FALSE(IsWindowVisible(handle));
  window.Map();
  window.Map();
  EXPECT_TRUE(IsWindowVisible(handle));
  EXPECT_TRUE(window.Mapped());

  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(handle, MONITOR_DEFAULTTONEAREST), &monitor));
  RECT placed{};
  GetWindowRect(handle, &placed);
  EXPECT_TRUE(EqualRect(&placed, &monitor.rcMonitor));
  std::int32_t width = 0;
  std::int32_t height = 0;
  window.Size(width, height);
  EXPECT_EQ(width, monitor.rcMonitor.right - monitor.rcMonitor.left);
  EXPECT_EQ(height, monitor.rcMonitor.bottom - monitor.rcMonitor.top);
  const auto style = static_cast<DWORD>(GetWindowLongW(handle, GWL_STYLE));
  EXPECT_NE(style & WS_POPUP, 0u);
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0u);
  wchar_t text[32];
  GetClassNameW(handle, text, 32);
  EXPECT_EQ(std::wstring(text), std::wstring(kWindowTitleWide));
  GetWindowTextW(handle, text, 32);
  EXPECT_EQ(std::wstring(text), std::wstring(kWindowTitleWide));

  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  EXPECT_GE(largest, 8192);
  glViewport(0, 0, width, height);
  glClear(GL_COLOR_BUFFER_BIT);
  window.Swap();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  // No pointer over the window.
  SetCursorPos((monitor.rcMonitor.left + monitor.rcMonitor.right) / 2,
               (monitor.rcMonitor.top + monitor.rcMonitor.bottom) / 2);
  for (int pass = 0; pass < 50; ++pass) {
    while (window.NextEvent() != TWindowEvent::Nothing) {
    }
    Sleep(10);
  }
  CURSORINFO pointer{};
  pointer.cbSize = sizeof pointer;
  ASSERT_TRUE(GetCursorInfo(&pointer));
  EXPECT_EQ(pointer.hCursor, nullptr);

  PostMessageW(handle, WM_KEYDOWN, 'A', 0);
  PostMessageW(handle, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(handle, WM_CLOSE, 0, 0);
  EXPECT_EQ(window.NextEvent(), TWindowEvent::Other);
  EXPECT_EQ(window.NextEvent(), TWindowEvent::Escape);
  EXPECT_EQ(window.NextEvent(), TWindowEvent::CloseRequested);
  EXPECT_TRUE(IsWindow(handle));  // a close request does not destroy the window
  EXPECT_EQ(window.NextEvent(), TWindowEvent::Nothing);
  DestroyWindow(handle);
  EXPECT_EQ(window.NextEvent(), TWindowEvent::WindowGone);
}

TEST(ProcessOutput, KeepsWhereItWasSentAndAttachesOnlyWhereItWasSentNowhere) {
  EXPECT_EQ(ChooseStdout(nullptr, FILE_TYPE_UNKNOWN), TStdoutChoice::AttachParent);  // double-clicked, or a console
  EXPECT_EQ(ChooseStdout(INVALID_HANDLE_VALUE, FILE_TYPE_UNKNOWN), TStdoutChoice::AttachParent);
  const HANDLE some = reinterpret_cast<HANDLE>(0x44);
  EXPECT_EQ(ChooseStdout(some, FILE_TYPE_UNKNOWN), TStdoutChoice::AttachParent);  // closed
  EXPECT_EQ(ChooseStdout(some, FILE_TYPE_DISK), TStdoutChoice::Keep);             // > file
  EXPECT_EQ(ChooseStdout(some, FILE_TYPE_PIPE), TStdoutChoice::Keep);             // | more
  EXPECT_EQ(ChooseStdout(some, FILE_TYPE_CHAR), TStdoutChoice::Keep);             // > NUL, or a console
}

// Windows' own GL 1.1 and a GL without GL 1.2's BGRA textures and edge clamping are
// refused, in words that say what to do; drivers' GLs of any version from 1.2 on, and GL
// 1.1 with both extensions, are taken.
TEST(GLCheck, RefusesTheBuiltInGLAndOneWithoutWhatTheDemoDrawsWith) {
  EXPECT_EQ(JudgeGL("Microsoft Corporation", "GDI Generic", "1.1.0", "GL_WIN_swap_hint GL_EXT_bgra"),
            TGLVerdict::BuiltIn);
  EXPECT_EQ(JudgeGL("NVIDIA Corporation", "NVIDIA GeForce RTX 3060/PCIe/SSE2", "4.6.0 NVIDIA 551.86", ""),
            TGLVerdict::Suitable);
  EXPECT_EQ(JudgeGL("Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)", "4.5 (Compatibility Profile) Mesa 22.3.6", ""),
            TGLVerdict::Suitable);
  EXPECT_EQ(JudgeGL("ATI", "Radeon", "1.2", ""), TGLVerdict::Suitable);
  EXPECT_EQ(JudgeGL("VMware, Inc.", "SVGA3D", "1.1.0", "GL_EXT_bgra GL_SGIS_texture_edge_clamp"), TGLVerdict::Suitable);
  EXPECT_EQ(JudgeGL("VMware, Inc.", "SVGA3D", "1.1.0", "GL_EXT_bgra GL_EXT_texture_edge_clamp_x"), TGLVerdict::TooOld);
  EXPECT_EQ(JudgeGL("Some", "GPU", "1.1.0", "GL_EXT_bgra"), TGLVerdict::TooOld);
  EXPECT_EQ(JudgeGL("", "", "", ""), TGLVerdict::TooOld);  // no strings at all
  // What a user reads and can act on.
  for (std::string_view words : {"GDI Generic", "no GPU driver", "virtual machine", "Remote Desktop",
                                 "Basic Display Adapter", "Install the GPU maker's graphics driver"})
    EXPECT_NE(kGLBuiltInLine.find(words), std::string_view::npos) << words;
  EXPECT_TRUE(kGLBuiltInLine.starts_with("[uWGL] ERROR: "));
  EXPECT_NE(kGLTooOldLine.find("update the GPU's graphics driver"), std::string_view::npos);
}

// The child half of the next tests: prepares the process and writes as the demo does; its
// status says whether a C runtime call got an argument UCRT refuses.
TEST(ProcessOutputChild, WritesALineAndAReport) {
  if (GetEnvironmentVariableW(L"KELVO_TEST_OUTPUT_CHILD", nullptr, 0) == 0) GTEST_SKIP() << "run by the next test";
  PrepareProcess();
  std::fputs("[uKelvo] INFO: line\n  60 fps\r", stdout);
  std::fflush(stdout);
  ExitProcess(InvalidRuntimeCalls == 0 ? 0 : 3);
}

// This program started as a child with the standard handles given; its status.
DWORD RunOutputChild(HANDLE output, DWORD flags) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  startup.hStdInput = output != nullptr ? GetStdHandle(STD_INPUT_HANDLE) : nullptr;
  std::wstring command = L"\"" + WideFromUtf8(ExecutablePath()) + L"\" --gtest_filter=ProcessOutputChild.*";
  SetEnvironmentVariableW(L"KELVO_TEST_OUTPUT_CHILD", L"1");
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(L"KELVO_TEST_OUTPUT_CHILD", nullptr);
  if (!started) return 0xFFFFFFFF;
  CloseHandle(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 0xFFFFFFFF;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hProcess);
  return status;
}

// Double-clicked: no standard handles and no console (the stream has no descriptor, or one
// with no handle behind it). Nothing the runtime refuses is called.
TEST(ProcessOutput, CallsTheRuntimeValidlyWithNowhereToWrite) {
  EXPECT_EQ(RunOutputChild(nullptr, DETACHED_PROCESS), 0u) << "3: a C runtime call with an invalid parameter";
  EXPECT_EQ(InvalidRuntimeCalls, 0);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the check itself sees the call UCRT ends on
  EXPECT_EQ(InvalidRuntimeCalls, 1);
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  InvalidRuntimeCalls = 0;
}

TEST(ProcessOutput, IsByteForByteInAPipe) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, &inherit, 0));
  SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer;
  startup.hStdError = writer;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + WideFromUtf8(ExecutablePath()) + L"\" --gtest_filter=ProcessOutputChild.*";
  SetEnvironmentVariableW(L"KELVO_TEST_OUTPUT_CHILD", L"1");
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(L"KELVO_TEST_OUTPUT_CHILD", nullptr);
  CloseHandle(writer);
  ASSERT_TRUE(started);
  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader, buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 0xFFFFFFFF;
  GetExitCodeProcess(child.hProcess, &status);
  EXPECT_EQ(status, 0u) << "3: a C runtime call with an invalid parameter";
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(reader);
  const std::string expected = "[uKelvo] INFO: line\n  60 fps\r";
  EXPECT_NE(output.find(expected), std::string::npos) << output;
  EXPECT_EQ(output.find("line\r\n"), std::string::npos);
}

}  // namespace
