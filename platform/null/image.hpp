// uImage of the null system, its own part: the standard library cannot ask for the running
// program's file, so the path the program was started by (its first argument, kept by
// ProgramArguments) stands for it.
#pragma once

#include <string>

void RememberProgramPath(const std::string& path);
