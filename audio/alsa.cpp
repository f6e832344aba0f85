// uALSA: stand-in until the player lands: plays nothing.
#include "audio/alsa.hpp"

TALSA::TALSA(TALSAConfig&) {}
bool TALSA::PlayBuffer(TUInt8DynArray, bool) { return true; }
void TALSA::Start() {}
