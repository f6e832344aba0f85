// Test support for the headless harness (see harness.hpp): the harness check and the
// child process with its stdout captured line by line.
#include "tests/support/harness.hpp"

#include <gtest/gtest.h>
// Xlib after GoogleTest: its macros (None, Bool, Status) clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

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
  StopFd_ = eventfd(0, EFD_CLOEXEC);
  if (StopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  TStartedChild child;
  try {
    child = StartChild({executable, arguments, environment, workingDirectory, false});
  } catch (...) {
    close(StopFd_);
    throw;
  }
  Pid_ = child.Pid;
  OutputFd_ = child.OutputFd;
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
  std::optional<int> status = StopProcessGroup(Pid_, 5s);
  Result_ = status ? ResultOf(*status) : TExitResult{};
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
