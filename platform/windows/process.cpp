// uProcess on Windows: DLLs from the system folder only, and standard output where the user
// sent it, in binary mode (see process.hpp and console.hpp). The program's own imports are
// the system's known DLLs, which are never looked for in the program's folder; opengl32.dll
// is loaded by the window (opengl32.hpp), after this has run, from System32. No C runtime
// call gets an argument it calls invalid: Microsoft's newer runtime (UCRT) ends the process
// on one (setvbuf's size outside 2..INT_MAX, _setmode on the -2 of a stream with no
// descriptor) where msvcrt forgives it. A console being written to reads UTF-8 (the lines
// name paths in UTF-8) until the process ends, when its own code page is given back.
#include "platform/process.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "base/fatal.hpp"
#include "platform/windows/console.hpp"
#include "platform/windows/wide.hpp"

namespace {

// Whether a standard handle, as the process was started, leads nowhere.
bool Nowhere(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  const bool open = handle != nullptr && handle != INVALID_HANDLE_VALUE;
  return ChooseStdout(handle, open ? GetFileType(handle) : FILE_TYPE_UNKNOWN) == TStdoutChoice::AttachParent;
}

// The console's output code page before the process set it to UTF-8 (0: left alone).
UINT ConsoleCodePage = 0;

void RestoreConsoleCodePage() {
  if (ConsoleCodePage != 0) SetConsoleOutputCP(ConsoleCodePage);
}

// A console among the standard output and error: it is told that the bytes are UTF-8.
void ConsoleReadsUtf8() {
  DWORD mode = 0;
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (!GetConsoleMode(output, &mode) && !GetConsoleMode(error, &mode)) return;
  const UINT before = GetConsoleOutputCP();
  if (before == 0 || before == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  ConsoleCodePage = before;
  SetBeforeTerminate(&RestoreConsoleCodePage);
}

// Binary mode (bytes as written) for a stream that leads somewhere: it had a handle when the
// process started or was reopened on the console. (Under msvcrt a stream that had none still
// says descriptor 1 or 2, whose _setmode is an invalid parameter as well.)
void WriteBytesAsTheyAre(FILE* stream, bool leadsSomewhere) {
  const int descriptor = _fileno(stream);
  if (leadsSomewhere && StreamHasDescriptor(descriptor)) _setmode(descriptor, _O_BINARY);
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
  bool outputOpen = !outputNowhere;
  bool errorOpen = !errorNowhere;
  if ((outputNowhere || errorNowhere) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (outputNowhere) outputOpen = std::freopen("CONOUT$", "w", stdout) != nullptr;
    if (errorNowhere) errorOpen = std::freopen("CONOUT$", "w", stderr) != nullptr;
  }
  // Bytes as written: "\n" stays "\n", and the frame-rate report keeps its bare "\r".
  WriteBytesAsTheyAre(stdout, outputOpen);
  WriteBytesAsTheyAre(stderr, errorOpen);
  // The C runtime has no line buffering (it buffers fully): every line is flushed as it is
  // written (WriteLine), this asks for a buffer of a size every runtime accepts.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  ConsoleReadsUtf8();
}

std::vector<std::string> ProgramArguments(int, char**) { return Utf8Arguments(GetCommandLineW()); }
