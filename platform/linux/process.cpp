// uProcess on Linux: nothing needs doing before the program starts (see process.hpp).
#include "platform/process.hpp"

void PrepareProcess() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }
