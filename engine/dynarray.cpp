// uDynArray: the fatal end of a failed allocation (see dynarray.hpp).
#include "engine/dynarray.hpp"

void OutOfMemory() { FatalLine("Out of memory", kExitAssertion); }
