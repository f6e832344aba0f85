// kelvo-pcm-return-probe: plays silence to the default output through the WASAPI backend
// until the output goes away, then opens it again four times a second, as the player does,
// until it plays again. Prints "playing", "gone: <words>" and "back" as it gets there; ends
// with 0 once a write after the return is taken, 1 when the output never went away or never
// came back within a minute each, 2 when it cannot be opened at all.
//
// With --end, the demo's way of ending instead: a worker thread plays for a few tenths of a
// second, then the main thread ends the process (Terminate) with status 3 while it plays.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "base/fatal.hpp"
#include "platform/pcm.hpp"

namespace {

// Long enough for the harness to stop the sound server and its helpers (a few seconds each)
// and start them again.
constexpr DWORD kPatienceMilliseconds = 60000;

void Say(const char* what, const std::string& words = {}) {
  std::printf("%s%s%s\n", what, words.empty() ? "" : ": ", words.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  TPCMDevice device = OpenPCMDevice({"default", 44100, 2}, false);
  if (!device.Output) {
    Say("cannot open", device.Failure);
    return 2;
  }
  std::vector<std::uint8_t> silence(device.PeriodFrames * 4, 0);
  if (argc > 1 && std::strcmp(argv[1], "--end") == 0) {
    std::thread([&] {
      for (;;) device.Output->Write(silence.data(), device.PeriodFrames);
    }).detach();
    Sleep(300 + GetTickCount() % 200);
    Terminate(3);
  }
  Say("playing");
  const DWORD start = GetTickCount();
  TPCMOutcome outcome;
  do {
    outcome = device.Output->Write(silence.data(), device.PeriodFrames);
    if (GetTickCount() - start > kPatienceMilliseconds) return 1;
  } while (outcome.Result == TPCMResult::Written);
  if (outcome.Result != TPCMResult::DeviceGone) {
    Say("failed", outcome.Error);
    return 1;
  }
  Say("gone", outcome.Error);
  const DWORD goneAt = GetTickCount();
  std::uint64_t period = 0;
  while (device.Output->Reopen(period)) {
    if (GetTickCount() - goneAt > kPatienceMilliseconds) return 1;
    Sleep(250);
  }
  outcome = device.Output->Write(silence.data(), std::min<std::uint64_t>(period, device.PeriodFrames));
  if (outcome.Result != TPCMResult::Written || outcome.Frames == 0) {
    Say("failed after the return", outcome.Error);
    return 1;
  }
  Say("back");
  return 0;
}
