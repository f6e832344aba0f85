// uNullPCM: a sound output without a device, for tests and for running where no sound is
// wanted. It plays the way a device does, in real time on the monotonic clock: a stream
// starts with its first write, plays rate frames a second from then, holds at most a buffer
// of frames not yet heard (a write waits for the room it needs), and runs dry when it is
// not written in time (the next write starts it again). It never fails and never goes away.
#pragma once

#include <cstdint>

#include "platform/pcm.hpp"

// A null device for the request (its name is not looked at): it plays at the request's rate
// with a period of periodFrames and a buffer of four periods.
TPCMDevice OpenNullPCMDevice(const TPCMRequest& request, std::uint64_t periodFrames);
