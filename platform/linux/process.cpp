// uProcess on Linux: nothing needs doing before the program starts (see process.hpp).
#include "platform/process.hpp"

void PrepareProcess() {}
