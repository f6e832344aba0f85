// uOpenGL32: opengl32.dll, loaded from the system folder and nowhere else. The program does
// not import it: a DLL the loader resolves at start-up is looked for in the program's own
// folder first unless it is one of the system's known DLLs, and opengl32.dll is not. The GL
// and WGL calls of the display, text and scene code go, as <GL/gl.h> declares them, through
// the "__imp_" pointers that an import would fill; this unit defines those pointers itself,
// in writable data, and fills them from LoadLibraryExW(LOAD_LIBRARY_SEARCH_SYSTEM32). (A
// delay-load import library would do the same, but dlltool puts its pointers in .idata,
// which binutils 2.44 makes read-only: the first GL call then faults.) A GL call this unit
// does not list fails to link.
#pragma once

// Loads opengl32.dll from the system folder and fills every pointer, once; later calls do
// nothing. A missing DLL or function ends the process with a line saying which. Until it has
// run, any GL or WGL call ends the process with a line rather than jumping through nothing.
void LoadOpenGL32();
