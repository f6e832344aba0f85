// uPlatformFile on Windows: what an error of clearing a name or creating the temporary file
// there means, apart from the file calls so that the table is tested on its own.
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
