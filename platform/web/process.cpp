// uProcess on the web: nothing needs doing before the program starts; the page hands main
// its words in UTF-8 (see process.hpp).
#include "platform/process.hpp"

void PrepareProcess() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }
