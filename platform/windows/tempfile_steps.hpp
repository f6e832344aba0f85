// uPlatformFile on Windows: what an error of clearing a name or creating the temporary file
// there means, and the order of the calls that make the file nameless, apart from the file
// calls so that both are tested on their own.
#pragma once

#include <windows.h>

enum class TTempFileStep {
  Retry,         // something appeared at the name meanwhile: clear it again
  TryElsewhere,  // the folder does not take the file: no permission, read-only media, full,
                 // or another process holds a file of that name open (another run beside it)
  Fatal,         // anything else: the demo ends with the error
};

inline TTempFileStep StepAfterWindowsError(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return TTempFileStep::Retry;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_READY:
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DELETE_PENDING:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return TTempFileStep::TryElsewhere;
    default:
      return TTempFileStep::Fatal;
  }
}

// Makes the temporary file and takes its name away at once, through calls (a type with the
// members used below, the system's own in tempfile.cpp). Windows removes a name marked for
// POSIX deletion only when the handle that carries the mark closes (NTFS, Windows 10 1709
// and later), so the mark must not go on the handle the demo reads through:
//   1. the data handle: a new file, shared for deletion only (nobody can read or write it;
//      the name can be marked), deleted when it closes however the process ends;
//   2. a second handle at the same name, for deletion only;
//   3. that it leads to the same file (nothing was put in its place meanwhile);
//   4. the POSIX-delete mark on the second handle;
//   5. the second handle closed: the name leaves the folder, the data handle reads on.
// Where a step after the first fails (FAT, an older Windows, Wine) the name stays until the
// data handle closes. Gives the data handle, or calls.Invalid() when the file was not made.
template <class TCalls>
typename TCalls::THandle CreateNamelessFile(TCalls& calls) {
  const auto data = calls.CreateData();
  if (data == calls.Invalid()) return data;
  const auto name = calls.OpenForDeletion();
  if (name == calls.Invalid()) return data;
  if (calls.SameFile(data, name)) calls.MarkPosixDelete(name);
  calls.Close(name);
  return data;
}
