// Test support for the headless harness (see harness.hpp): the harness check, child
// processes with captured stdout, the sink recorder and the WAV reader.
#include "tests/support/harness.hpp"

#include <gtest/gtest.h>
// Xlib after GoogleTest: its macros (None, Bool, Status) clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "engine/fatal.hpp"
#include "engine/textfiles.hpp"

extern char** environ;

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

void RequireHarness() {
  const char* headless = std::getenv("KELVO_HEADLESS");
  if (headless == nullptr || std::string_view(headless) != "1") {
    FAIL() << "This test needs the headless harness (X server, window manager and sound "
              "server), and KELVO_HEADLESS is not set. Run the tests with ./test.sh, which "
              "runs them under scripts/headless.";
  }
  const char* name = std::getenv("DISPLAY");
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    FAIL() << "This test needs the headless harness, but the display \""
           << (name != nullptr ? name : "") << "\" cannot be opened. Run the tests with "
           << "./test.sh, which runs them under scripts/headless.";
  }
  XCloseDisplay(display);
}

std::string HeadlessScript() { return std::string(KELVO_SOURCE_DIR) + "/scripts/headless"; }

// ---------------------------------------------------------------------------------------
// TDemoProcess

namespace {

// Finds an executable the way a shell would, before fork (the child must not allocate).
std::string ResolveExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    std::size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return name;  // execve reports ENOENT
}

std::vector<std::string> BuildEnvironment(const TEnvironment& changes) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    variables[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Child side of the start: only async-signal-safe calls from here to exec.
[[noreturn]] void ExecChild(int input, int output, int errorPipe, const char* directory,
                            const char* file, char* const* argv, char* const* envp) {
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD}) ::signal(signal, SIG_DFL);
  if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0) {
    int error = errno;
    (void)!write(errorPipe, &error, sizeof error);
    _exit(127);
  }
  if (directory != nullptr && chdir(directory) != 0) {
    int error = errno;
    (void)!write(errorPipe, &error, sizeof error);
    _exit(127);
  }
  execve(file, argv, envp);
  int error = errno;
  (void)!write(errorPipe, &error, sizeof error);
  _exit(127);
}

TExitResult ResultOf(int status) {
  TExitResult result;
  if (WIFEXITED(status)) {
    result.Exited = true;
    result.Code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.Signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace

TDemoProcess::TDemoProcess(const std::string& executable, const std::vector<std::string>& arguments,
                           const TEnvironment& environment, const std::string& workingDirectory) {
  std::vector<std::string> argStrings{executable};
  argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = PointersTo(argStrings);
  std::vector<std::string> envStrings = BuildEnvironment(environment);
  std::vector<char*> envp = PointersTo(envStrings);
  const std::string file = ResolveExecutable(executable);

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) ThrowErrno(errno, "pipe");
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    int error = errno;
    close(output[0]);
    close(output[1]);
    ThrowErrno(error, "pipe");
  }
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  StopFd_ = eventfd(0, EFD_CLOEXEC);
  auto closeAll = [&] {
    for (int fd : {output[0], output[1], errorPipe[0], errorPipe[1], input, StopFd_}) {
      if (fd >= 0) close(fd);
    }
  };
  if (input < 0 || StopFd_ < 0) {
    int error = errno;
    closeAll();
    ThrowErrno(error, "open");
  }

  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) {
    int error = errno;
    closeAll();
    ThrowErrno(error, "fork");
  }
  if (pid == 0) {
    ExecChild(input, output[1], errorPipe[1], workingDirectory.empty() ? nullptr : workingDirectory.c_str(),
              file.c_str(), argv.data(), envp.data());
  }
  // Both sides set the group, so it exists whichever runs first; after exec the child's
  // call fails harmlessly.
  setpgid(pid, pid);
  close(output[1]);
  close(errorPipe[1]);
  close(input);
  Pid_ = pid;
  OutputFd_ = output[0];

  int childError = 0;
  ssize_t got;
  do {
    got = read(errorPipe[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    Reap(true);
    close(OutputFd_);
    close(StopFd_);
    ThrowErrno(childError, "cannot start " + executable);
  }
  Reader_ = std::thread([this] { ReadOutput(); });
}

TDemoProcess::~TDemoProcess() {
  Kill();
  StopReader(1s);
  if (OutputFd_ >= 0) close(OutputFd_);
  if (StopFd_ >= 0) close(StopFd_);
}

void TDemoProcess::ReadOutput() {
  std::vector<char> buffer(65536);
  while (true) {
    pollfd fds[2] = {{OutputFd_, POLLIN, 0}, {StopFd_, POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if (fds[0].revents == 0) continue;
    ssize_t count = read(OutputFd_, buffer.data(), buffer.size());
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) break;
    std::string_view chunk(buffer.data(), static_cast<std::size_t>(count));
    std::lock_guard lock(Mutex_);
    Output_.append(chunk);
    while (!chunk.empty()) {
      std::size_t feed = chunk.find('\n');
      if (feed == std::string_view::npos) {
        Partial_.append(chunk);
        break;
      }
      Partial_.append(chunk.substr(0, feed));
      Lines_.push_back(std::move(Partial_));
      Partial_.clear();
      chunk.remove_prefix(feed + 1);
    }
    Changed_.notify_all();
  }
  std::lock_guard lock(Mutex_);
  OutputEnded_ = true;
  Changed_.notify_all();
}

bool TDemoProcess::WaitForLine(std::string_view text, std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  std::unique_lock lock(Mutex_);
  std::size_t linesChecked = 0;
  std::size_t partialChecked = 0;  // where the next search of the unfinished line starts
  while (true) {
    if (linesChecked < Lines_.size()) partialChecked = 0;
    for (; linesChecked < Lines_.size(); ++linesChecked) {
      if (Lines_[linesChecked].find(text) != std::string::npos) return true;
    }
    if (Partial_.find(text, partialChecked) != std::string::npos) return true;
    partialChecked = Partial_.size() >= text.size() ? Partial_.size() - text.size() + 1 : 0;
    if (OutputEnded_) return false;
    if (Changed_.wait_until(lock, deadline) == std::cv_status::timeout && TClock::now() >= deadline) {
      for (; linesChecked < Lines_.size(); ++linesChecked) {
        if (Lines_[linesChecked].find(text) != std::string::npos) return true;
      }
      return Partial_.find(text) != std::string::npos;
    }
  }
}

bool TDemoProcess::Reap(bool block) {
  if (Result_) return true;
  int status = 0;
  pid_t got;
  do {
    got = waitpid(Pid_, &status, block ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == Pid_) {
    Result_ = ResultOf(status);
  } else if (got < 0) {
    Result_ = TExitResult{};  // not our child any more; nothing to wait for
  }
  return Result_.has_value();
}

TExitResult TDemoProcess::WaitExit(std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  while (!Reap(false)) {
    if (TClock::now() >= deadline) {
      TExitResult result;
      result.TimedOut = true;
      return result;
    }
    std::this_thread::sleep_for(5ms);
  }
  // The child has ended; its last output may still be in the pipe (or held open by a
  // process it left behind, hence the limit, waited out only once).
  if (!OutputAwaited_) {
    std::unique_lock lock(Mutex_);
    Changed_.wait_for(lock, 2s, [this] { return OutputEnded_; });
    OutputAwaited_ = true;
  }
  return *Result_;
}

void TDemoProcess::SendSignal(int signal) {
  if (!Result_) kill(Pid_, signal);
}

void TDemoProcess::Kill() {
  if (Result_ || Pid_ <= 0) return;
  // The leader is left unreaped (WNOWAIT) until the end, so the group id cannot be reused
  // while signals go to it.
  auto leaderEnded = [this] {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(Pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == Pid_;
  };
  if (!leaderEnded()) {
    killpg(Pid_, SIGTERM);
    const auto deadline = TClock::now() + 5s;
    while (!leaderEnded() && TClock::now() < deadline) std::this_thread::sleep_for(10ms);
  }
  killpg(Pid_, SIGKILL);
  Reap(true);
}

void TDemoProcess::StopReader(std::chrono::milliseconds grace) {
  if (!Reader_.joinable()) return;
  {
    std::unique_lock lock(Mutex_);
    Changed_.wait_for(lock, grace, [this] { return OutputEnded_; });
  }
  std::uint64_t one = 1;
  (void)!write(StopFd_, &one, sizeof one);
  Reader_.join();
}

std::string TDemoProcess::Output() const {
  std::lock_guard lock(Mutex_);
  return Output_;
}

std::vector<std::string> TDemoProcess::Lines() const {
  std::lock_guard lock(Mutex_);
  std::vector<std::string> lines = Lines_;
  if (!Partial_.empty()) lines.push_back(Partial_);
  return lines;
}

// ---------------------------------------------------------------------------------------
// TSinkRecorder

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
    if (fd < 0) ThrowErrno(errno, "mkstemps");
    close(fd);
    Path_ = pattern;
    OwnsFile_ = true;
  }
  // The harness names its sound server: PipeWire records a sink through a stream that
  // captures it, PulseAudio through the sink's monitor source.
  const char* server = std::getenv("KELVO_SOUND_SERVER");
  if (server != nullptr && std::string_view(server) == "pipewire") {
    Recorder_ = std::make_unique<TDemoProcess>(
        "pw-record", std::vector<std::string>{"--target", sink, "-P", "{ stream.capture.sink = true }", "--rate",
                                              "44100", "--channels", "2", "--format", "s16", "--latency", "20ms",
                                              Path_});
  } else {
    Recorder_ = std::make_unique<TDemoProcess>(
        "parecord", std::vector<std::string>{"--device=" + std::string(sink) + ".monitor", "--file-format=wav",
                                             "--format=s16le", "--rate=44100", "--channels=2",
                                             "--latency-msec=20", Path_});
  }
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
    // On SIGINT parecord and pw-record write the final sizes into the header and end.
    Recorder_->SendSignal(SIGINT);
    if (Recorder_->WaitExit(5s).TimedOut) Recorder_->Kill();
    Recorder_.reset();
  }
  return Path_;
}

// ---------------------------------------------------------------------------------------
// WAV reading

namespace {

std::uint32_t ReadU32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) throw std::runtime_error("WAV file is truncated");
  return LittleEndian32(bytes.data() + at);
}

std::uint16_t ReadU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) throw std::runtime_error("WAV file is truncated");
  return LittleEndian16(bytes.data() + at);
}

bool TagIs(const std::vector<std::uint8_t>& bytes, std::size_t at, const char* tag) {
  return at + 4 <= bytes.size() && std::memcmp(bytes.data() + at, tag, 4) == 0;
}

}  // namespace

TWavSamples ReadWav16(const std::string& path) {
  const std::optional<std::vector<std::uint8_t>> read = ReadWholeFile(path);
  if (!read) throw std::runtime_error("cannot read " + path);
  const std::vector<std::uint8_t>& bytes = *read;
  if (!TagIs(bytes, 0, "RIFF") || !TagIs(bytes, 8, "WAVE")) throw std::runtime_error(path + " is not a WAV file");

  TWavSamples wav;
  bool haveFormat = false;
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t size = ReadU32(bytes, at + 4);
    const std::size_t body = at + 8;
    if (TagIs(bytes, at, "fmt ")) {
      const std::uint16_t format = ReadU16(bytes, body);
      // 1 is PCM; 0xFFFE (extensible) carries PCM in its sub-format.
      const bool pcm = format == 1 || (format == 0xFFFE && size >= 40 && ReadU16(bytes, body + 24) == 1);
      if (!pcm || ReadU16(bytes, body + 14) != 16) throw std::runtime_error(path + " is not 16-bit PCM");
      wav.Channels = ReadU16(bytes, body + 2);
      wav.SampleRate = Narrow<int>(ReadU32(bytes, body + 4));
      haveFormat = true;
    } else if (TagIs(bytes, at, "data")) {
      if (!haveFormat) throw std::runtime_error(path + " has no format before its data");
      const std::size_t rest = bytes.size() - body;
      // A recorder that was stopped hard leaves the size at 0 (or too large).
      std::size_t length = (size == 0 || size > rest) ? rest : size;
      length -= length % 2;
      wav.Samples.resize(length / 2);
      for (std::size_t i = 0; i < wav.Samples.size(); ++i) {
        wav.Samples[i] = static_cast<std::int16_t>(ReadU16(bytes, body + 2 * i));
      }
      return wav;
    }
    at = body + size + (size % 2);
  }
  throw std::runtime_error(path + " has no data chunk");
}
