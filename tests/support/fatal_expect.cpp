// Test support: forked child with captured stdout (see fatal_expect.hpp).
#include "tests/support/fatal_expect.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

std::string TChildOutcome::LastLine() const {
  std::size_t end = Output.size();
  while (end > 0 && (Output[end - 1] == '\n' || Output[end - 1] == '\r')) --end;
  std::size_t start = Output.find_last_of("\n\r", end == 0 ? 0 : end - 1);
  start = (start == std::string::npos || end == 0) ? 0 : start + 1;
  return Output.substr(start, end - start);
}

TChildOutcome RunInChild(const std::function<void()>& body, int timeoutSeconds) {
  return RunInChildForkedBy([] { return fork(); }, body, timeoutSeconds);
}

TChildOutcome RunInChildForkedBy(const std::function<pid_t()>& forkProcess, const std::function<void()>& body,
                                 int timeoutSeconds) {
  std::fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "cannot make the pipe for the child's output: " << std::strerror(errno);
    return {};
  }
  pid_t pid = forkProcess();
  if (pid < 0) {
    // Nothing to wait for or to kill (a pid of -1 would name every process).
    ADD_FAILURE() << "cannot start the child process: " << std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return {};
  }
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    body();
    std::fflush(stdout);
    _exit(254);
  }
  close(fds[1]);
  TChildOutcome outcome;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[65536];
  bool killed = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    pollfd p{fds[0], POLLIN, 0};
    int ready = poll(&p, 1, killed ? 1000 : static_cast<int>(left));
    if (ready <= 0) {
      if (killed) break;
      continue;
    }
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ADD_FAILURE() << "cannot read the child's output: " << std::strerror(errno);
      if (!killed) kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (n == 0) break;
    outcome.Output.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) {
    ADD_FAILURE() << "cannot learn how the child ended: " << std::strerror(errno);
    return outcome;
  }
  if (WIFEXITED(status)) {
    outcome.Exited = WEXITSTATUS(status) != 254;
    outcome.Returned = WEXITSTATUS(status) == 254;
    outcome.Status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.Signal = WTERMSIG(status);
  }
  return outcome;
}
