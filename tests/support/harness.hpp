// Test support for tests that run under scripts/headless: the check that the harness is
// there, a child process with its stdout captured line by line, a recorder of the
// harness's audio sink and a reader of the 16-bit WAV files it writes.
// Depends on GoogleTest, Xlib (to see that the display opens) and POSIX processes.
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

// Extra environment for a child: a value sets the variable, std::nullopt removes it.
using TEnvironment = std::map<std::string, std::optional<std::string>>;

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

// Records the harness's sink ($KELVO_SINK) into a 16-bit stereo WAV file at 44100 frames per
// second, with parecord from the sink's monitor (under PipeWire through its PulseAudio
// server). The constructor returns once samples arrive.
class TSinkRecorder {
 public:
  // Records into path; an empty path means a new temporary file. Throws
  // std::runtime_error when KELVO_SINK is not set or the recorder does not start.
  explicit TSinkRecorder(std::string path = {});
  ~TSinkRecorder();
  TSinkRecorder(const TSinkRecorder&) = delete;
  TSinkRecorder& operator=(const TSinkRecorder&) = delete;

  // Ends the recording (the recorder finishes the file) and returns the file's path.
  std::string Stop();

 private:
  std::string Path_;
  bool OwnsFile_ = false;
  std::unique_ptr<TDemoProcess> Recorder_;
};

// The samples of a 16-bit PCM WAV file, interleaved.
struct TWavSamples {
  int SampleRate = 0;
  int Channels = 0;
  std::vector<std::int16_t> Samples;
  std::size_t Frames() const { return Channels > 0 ? Samples.size() / static_cast<std::size_t>(Channels) : 0; }
};

// Reads a 16-bit PCM WAV file. A data chunk whose size was never filled in (a recorder
// that was killed) is read to the end of the file. Throws std::runtime_error on anything
// else than 16-bit PCM.
TWavSamples ReadWav16(const std::string& path);
