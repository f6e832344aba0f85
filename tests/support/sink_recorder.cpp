// Test support: recording the harness's audio sink (see sink_recorder.hpp).
#include "tests/support/sink_recorder.hpp"

#include "tests/support/harness.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

long long FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

}  // namespace

TSinkRecorder::TSinkRecorder(std::string path) : Path_(std::move(path)) {
  const char* sink = std::getenv("KELVO_SINK");
  if (sink == nullptr || *sink == '\0') {
    throw std::runtime_error("KELVO_SINK is not set; record only under scripts/headless");
  }
  if (Path_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kelvo-sink-XXXXXX.wav";
    int fd = mkstemps(pattern.data(), 4);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "mkstemps");
    close(fd);
    Path_ = pattern;
    OwnsFile_ = true;
  }
  // Under either sound server the harness offers PulseAudio's protocol (PipeWire through
  // pipewire-pulse), whose server keeps the monitor's samples until the recorder reads them:
  // a recorder that a busy machine holds up loses nothing.
  Recorder_ = std::make_unique<TDemoProcess>(
      "parecord", std::vector<std::string>{"--device=" + std::string(sink) + ".monitor", "--file-format=wav",
                                           "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=20",
                                           Path_});
  // The sink's monitor delivers samples (silence when nothing plays) as soon as the stream
  // is connected, so a file that grows past its header means the recording runs.
  const auto deadline = TClock::now() + 5s;
  while (FileSize(Path_) <= 44 + 4096) {
    if (TClock::now() >= deadline || !Recorder_->WaitExit(0ms).TimedOut) {
      Recorder_.reset();
      throw std::runtime_error("the recorder did not start recording the sink " + std::string(sink));
    }
    std::this_thread::sleep_for(10ms);
  }
}

TSinkRecorder::~TSinkRecorder() {
  Stop();
  if (OwnsFile_) std::remove(Path_.c_str());
}

std::string TSinkRecorder::Stop() {
  if (Recorder_) {
    // On SIGINT parecord writes the final sizes into the header and ends.
    Recorder_->SendSignal(SIGINT);
    if (Recorder_->WaitExit(5s).TimedOut) Recorder_->Kill();
    Recorder_.reset();
  }
  return Path_;
}
