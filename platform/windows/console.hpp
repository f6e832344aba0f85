// uProcess on Windows: where a GUI-subsystem program's standard output goes. Such a program
// gets no console of its own: double-clicked it has none and must open none; started from a
// console it is given no standard output and attaches to its parent's console; redirected
// to a file, a pipe or NUL it has a standard output already, which must be kept (attaching
// to the console then would take the output away from where the user sent it).
#pragma once

#include <windows.h>

enum class TStdoutChoice {
  Keep,          // a file, pipe, console or device: write there
  AttachParent,  // none: attach to the parent's console, if it has one
};

// The choice for a standard output handle and the kind GetFileType gives it.
inline TStdoutChoice ChooseStdout(HANDLE handle, DWORD fileType) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return TStdoutChoice::AttachParent;
  switch (fileType) {
    case FILE_TYPE_DISK:
    case FILE_TYPE_PIPE:
    case FILE_TYPE_CHAR:  // a console, or NUL
      return TStdoutChoice::Keep;
    default:
      return TStdoutChoice::AttachParent;  // a handle that is not open (FILE_TYPE_UNKNOWN)
  }
}

// Whether _fileno gave a stream's descriptor: a stream that had no handle when the C runtime
// started (a GUI program with no console) has none, which UCRT says with -2 (msvcrt's -1
// after a failed reopen); _setmode and the other descriptor calls take either as an invalid
// parameter, which UCRT answers by ending the process.
inline bool StreamHasDescriptor(int descriptor) { return descriptor >= 0; }
