// uPCM on Linux, the parts of the ALSA output that its own tests reach: how the result of a
// write becomes the outcome the player understands, and the warning for a device that plays
// at another rate than the song's. ALSA's headers and error codes stay in pcm.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/pcm.hpp"

// The outcome of snd_pcm_writei's result: frames taken (0 or more), else an error code:
// -EPIPE an underrun, -ESTRPIPE a suspension, -ENODEV, -EBADFD and -EIO a device or sound
// server that went away, any other a failure; the last two with snd_strerror's words.
TPCMOutcome WriteOutcome(std::int64_t result);

// The warning for a device that chose another rate than the song's (it would play the song
// too fast or too slow, and out of tune); nothing when the rates agree.
std::optional<std::string> RateMismatchWarning(unsigned int deviceRate, unsigned int songRate);
