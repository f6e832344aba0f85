// uProcess: what the system needs done before anything else the program does, called first
// thing in main. Standard output is line buffered (whole lines in order, also through a
// pipe), with arguments every C runtime accepts. On Windows: DLLs are loaded from the system folder only (a DLL planted
// beside the program is never loaded), and standard output reaches the console the program
// was started from or the file or pipe it was redirected to, byte for byte (line feeds stay
// line feeds). Systems that need nothing do nothing. ProgramArguments gives the command
// line's words in UTF-8.
#pragma once

#include <string>
#include <vector>

void PrepareProcess();

// The program's arguments in UTF-8, its own name first. Linux hands main its words as they
// are; Windows hands main the ANSI code page's spelling, which turns most names outside it
// (a sound device called "Kopfhörer (Åsa’s USB)" on a Greek machine) into question marks, so
// there they come from the wide command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);
