// uProcess on Windows: DLLs from the system folder only, and standard output where the user
// sent it, in binary mode (see process.hpp and console.hpp). The program's own imports are
// the system's known DLLs, which are never looked for in the program's folder; opengl32.dll
// is loaded by the window (opengl32.hpp), after this has run, from System32.
#include "platform/process.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/windows/console.hpp"
#include "platform/windows/wide.hpp"

namespace {

// Whether a standard handle, as the process was started, leads nowhere.
bool Nowhere(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  const bool open = handle != nullptr && handle != INVALID_HANDLE_VALUE;
  return ChooseStdout(handle, open ? GetFileType(handle) : FILE_TYPE_UNKNOWN) == TStdoutChoice::AttachParent;
}

}  // namespace

void PrepareProcess() {
  // Before any DLL is loaded on demand: the system folder only, for every later load
  // (LoadLibrary, and the DLLs those load in turn, such as the GL driver).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  // Decided before attaching, which gives the process console handles of its own.
  const bool outputNowhere = Nowhere(STD_OUTPUT_HANDLE);
  const bool errorNowhere = Nowhere(STD_ERROR_HANDLE);
  // Double-clicked there is no parent console and nothing is opened.
  if ((outputNowhere || errorNowhere) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (outputNowhere) static_cast<void>(std::freopen("CONOUT$", "w", stdout));
    if (errorNowhere) static_cast<void>(std::freopen("CONOUT$", "w", stderr));
  }
  // Bytes as written: "\n" stays "\n", and the frame-rate report keeps its bare "\r".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> ProgramArguments(int, char**) { return Utf8Arguments(GetCommandLineW()); }
