// uPCM of the null system: every device name opens the null output (pcm_output.cpp), which
// plays nothing in real time at the song's own rate, so the player's worker, its clock and
// its underrun handling run as they do on a device (see pcm.hpp).
#include "platform/pcm.hpp"

#include "platform/null/pcm.hpp"

namespace {

// About 23 ms at 44.1 kHz, a period as a sound server gives.
constexpr std::uint64_t kPeriodFrames = 1024;
// The null output's code and words for S16 little-endian: it has no library to name them.
constexpr std::int32_t kFormatCode = 1;

}  // namespace

TPCMDevice OpenPCMDevice(const TPCMRequest& request, bool) { return OpenNullPCMDevice(request, kPeriodFrames); }

std::int32_t PCMFormatCode() { return kFormatCode; }

std::string PCMFormatName() { return "S16_LE"; }
