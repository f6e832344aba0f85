// Starts a program as a shortcut set to "Run: Minimized" does (STARTUPINFO's show state
// SW_SHOWMINNOACTIVE with STARTF_USESHOWWINDOW), with this program's standard handles, and
// exits with its status (125 when it cannot be started). check_demo.sh starts tessic.exe
// through it to see its window cover the screen all the same.
//
//   kelvo-start-minimised.exe PROGRAM.exe [ARG...]
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring command;
  for (int i = 1; i < argc; ++i) command += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
    return 125;
  CloseHandle(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 125;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hProcess);
  return static_cast<int>(status);
}
