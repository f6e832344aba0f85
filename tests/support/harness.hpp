// Test support for tests that run under scripts/headless: the check that the harness is
// there and a child process with its stdout captured line by line. The recorder of the
// harness's audio sink (sink_recorder.hpp) and the reader of the WAV files it writes
// (wav16.hpp) come with it, as every test of the demo's sound uses the three together.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/child_process.hpp"
#include "tests/support/sink_recorder.hpp"
#include "tests/support/wav16.hpp"

// Fails the calling test (never skips it) unless it runs inside scripts/headless with a
// display that opens. Use as ASSERT_NO_FATAL_FAILURE(RequireHarness());
void RequireHarness();

// Path of scripts/headless in the source tree.
std::string HeadlessScript();

// How a child ended, as far as WaitExit saw.
struct TExitResult {
  bool Exited = false;    // ended through exit with the exit status Code
  int Code = -1;
  int Signal = 0;         // ended by this signal
  bool TimedOut = false;  // still running when the wait gave up
};

// A child process (an executable with arguments) whose stdout is read by a thread of its
// own, so a child that floods its output never blocks. stdin is /dev/null, stderr is
// shared with the test. The child leads a process group of its own, and Kill ends the whole
// group. The destructor kills a child that still runs and reaps it.
class TDemoProcess {
 public:
  // Starts the child; `executable` without a slash is looked up in PATH. Throws
  // std::system_error when it cannot be started.
  TDemoProcess(const std::string& executable, const std::vector<std::string>& arguments,
               const TEnvironment& environment = {}, const std::string& workingDirectory = {});
  ~TDemoProcess();
  TDemoProcess(const TDemoProcess&) = delete;
  TDemoProcess& operator=(const TDemoProcess&) = delete;

  pid_t Pid() const { return Pid_; }

  // True once a line containing text has appeared (the unfinished last line counts too,
  // so a report that ends in a carriage return is found); false after the timeout or when
  // the output ended without it.
  bool WaitForLine(std::string_view text, std::chrono::milliseconds timeout);

  // Waits for the child to end. Once it has ended, also waits briefly for the rest of its
  // output, so Output() is complete afterwards. Later calls return the same result.
  TExitResult WaitExit(std::chrono::milliseconds timeout);

  // Sends one signal to the child alone (not to its group).
  void SendSignal(int signal);

  // Ends the child's process group: SIGTERM, up to five seconds of grace, then SIGKILL.
  // Does nothing once the child has been reaped.
  void Kill();

  // Everything the child wrote to stdout so far, byte for byte.
  std::string Output() const;

  // The output split at line feeds (without them); an unfinished last line is the last
  // element. Carriage returns stay inside the lines.
  std::vector<std::string> Lines() const;

 private:
  void ReadOutput();
  bool Reap(bool block);
  void StopReader(std::chrono::milliseconds grace);

  pid_t Pid_ = -1;
  int OutputFd_ = -1;
  int StopFd_ = -1;
  std::optional<TExitResult> Result_;
  bool OutputAwaited_ = false;
  mutable std::mutex Mutex_;
  std::condition_variable Changed_;
  std::string Output_;
  std::vector<std::string> Lines_;  // finished lines
  std::string Partial_;             // text after the last line feed
  bool OutputEnded_ = false;
  std::thread Reader_;
};
