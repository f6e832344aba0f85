// uProcess: what the system needs done before anything else the program does, called first
// thing in main. On Windows: DLLs are loaded from the system folder only (a DLL planted
// beside the program is never loaded), and standard output reaches the console the program
// was started from or the file or pipe it was redirected to, byte for byte (line feeds stay
// line feeds). Systems that need nothing do nothing.
#pragma once

void PrepareProcess();
