// The Windows window and process: a borderless window named "tessic" covering its monitor
// with a GL context (from System32's opengl32.dll, loaded after the process limited DLL
// loading to the system folder, though another lies beside the program) that takes
// 8192 x 8192 textures, with no pointer over it; Escape, a close
// request and the window's destruction handed out as events; standard output byte for byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/facts.hpp"
#include "platform/image.hpp"
#include "platform/process.hpp"
#include "platform/window.hpp"
#include "platform/windows/console.hpp"
#include "platform/windows/wide.hpp"
#include "platform/windows/window_state.hpp"

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

// The child half of the next test: prepares the process and writes as the demo does.
TEST(ProcessOutputChild, WritesALineAndAReport) {
  if (GetEnvironmentVariableW(L"KELVO_TEST_OUTPUT_CHILD", nullptr, 0) == 0) GTEST_SKIP() << "run by the next test";
  PrepareProcess();
  std::fputs("[uKelvo] INFO: line\n  60 fps\r", stdout);
  std::fflush(stdout);
  ExitProcess(0);
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
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(reader);
  const std::string expected = "[uKelvo] INFO: line\n  60 fps\r";
  EXPECT_NE(output.find(expected), std::string::npos) << output;
  EXPECT_EQ(output.find("line\r\n"), std::string::npos);
}

}  // namespace
