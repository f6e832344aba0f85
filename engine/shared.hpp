// uShared: the three headers most units include together: the arrays (uDynArray), the
// renderer interface and the scene index (uRenderer), and text, clock and files
// (uTextFiles).
#pragma once

#include "engine/dynarray.hpp"
#include "engine/renderer.hpp"
#include "engine/textfiles.hpp"
