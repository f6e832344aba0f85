// uWAV: stand-in until the reader lands: keeps the song's bytes.
#include "audio/wav.hpp"

bool TWAV::LoadFromFile(const std::string&) { return false; }

void TWAV::LoadFromResourceLazinessHack(const TResourceEntry& entry) {
  FmtChunk.NumChannels = 2;
  FmtChunk.SampleRate = 44100;
  Data = TUInt8DynArray::Uninitialized(entry.Bytes.size());
  if (!entry.Bytes.empty()) std::memcpy(Data.Data(), entry.Bytes.data(), entry.Bytes.size());
}
