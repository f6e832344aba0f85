// uDynArray: the fatal end of a failed allocation (see dynarray.hpp).
#include "base/dynarray.hpp"

void OutOfMemory() { FatalLine("Out of memory", kExitAssertion); }
