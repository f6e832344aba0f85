// uProcess on Linux: only standard output's buffering before the program starts (see
// process.hpp).
#include "platform/process.hpp"

#include <cstdio>

void PrepareProcess() { std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }
