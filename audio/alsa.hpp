// uALSA: plays one buffer of interleaved PCM frames through an ALSA device from a worker
// thread of its own, optionally looping. The device is opened and configured at
// construction; PlayBuffer starts the worker. Depends on libasound, uShared, uFatal.
#pragma once

#include <cstdint>
#include <string>

#include "engine/shared.hpp"

struct TALSAConfig {
  std::string Device;
  std::int32_t SampleRate = 0;  // replaced by the rate the device chose
  std::uint32_t Channels = 0;
  std::int32_t Format = 0;      // snd_pcm_format_t
};

class TALSA {
 public:
  explicit TALSA(TALSAConfig& config);
  // Hands the worker the buffer and starts it; false while it still runs.
  bool PlayBuffer(TUInt8DynArray buffer, bool loop);
  void Start();
};
