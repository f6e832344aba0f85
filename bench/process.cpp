// One measured run of a program (see process.hpp).
#include "bench/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "engine/loglines.hpp"

namespace {


double MsSince(std::uint64_t startNs) { return static_cast<double>(MonotonicNs() - startNs) / 1e6; }

// Ends the whole process group: TERM, up to three seconds of grace, then KILL.
void StopGroup(pid_t pid, int& status) {
  kill(-pid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      kill(-pid, SIGKILL);  // whatever the group still holds
      return;
    }
    usleep(10000);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, &status, 0);
}

}  // namespace

std::uint64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

TRunResult RunProgram(const TRunRequest& request) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));

  // Everything the child needs is prepared before fork.
  std::vector<std::string> argumentText{request.Program};
  argumentText.insert(argumentText.end(), request.Arguments.begin(), request.Arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argumentText) argv.push_back(text.data());
  argv.push_back(nullptr);

  TRunResult result;
  const TCpuTicks ticksBefore = CpuTicks();
  result.StartNs = MonotonicNs();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
  if (pid == 0) {
    setpgid(0, 0);
    for (const auto& [name, value] : request.Environment) setenv(name.c_str(), value.c_str(), 1);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    execv(request.Program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  close(pipeFds[1]);

  std::string rest;
  double nextSample = request.SampleEveryMs;
  int status = 0;
  bool reaped = false;
  bool outputOpen = true;
  while (!reaped) {
    const double now = MsSince(result.StartNs);
    if (request.Sample && request.SampleEveryMs > 0 && now >= nextSample) {
      request.Sample(pid);
      nextSample = now + request.SampleEveryMs;
    }
    const bool planned = request.StopAfterMappedMs && result.MappedMs && now >= *result.MappedMs + *request.StopAfterMappedMs;
    if (planned || now >= request.TimeoutMs) {
      if (request.Sample) request.Sample(pid);
      result.TimedOut = !planned;
      result.Stopped = true;
      StopGroup(pid, status);
      reaped = true;
      break;
    }
    if (outputOpen) {
      pollfd watch{pipeFds[0], POLLIN, 0};
      if (poll(&watch, 1, 20) > 0) {
        char buffer[65536];
        ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        const double at = MsSince(result.StartNs);
        if (got > 0) {
          for (TLine& line : SplitOutput(rest, std::string_view(buffer, static_cast<std::size_t>(got)), at)) {
            if (!result.MappedMs && line.Text.find(kMappedWindowLine) != std::string::npos) result.MappedMs = line.Ms;
            if (request.OnLine) request.OnLine(pid, line);
            result.Lines.push_back(std::move(line));
          }
        } else if (got == 0 || errno != EINTR) {
          outputOpen = false;
        }
      }
    } else {
      usleep(20000);
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      reaped = true;
      kill(-pid, SIGKILL);  // helpers the program may have left in its group
    }
  }
  // The rest of the output, if any is still buffered in the pipe.
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  char buffer[65536];
  ssize_t got;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    for (TLine& line : SplitOutput(rest, std::string_view(buffer, static_cast<std::size_t>(got)), MsSince(result.StartNs)))
      result.Lines.push_back(std::move(line));
  }
  if (!rest.empty()) result.Lines.push_back({MsSince(result.StartNs), rest, false});
  close(pipeFds[0]);
  result.StealShare = StealShare(ticksBefore, CpuTicks());
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  return result;
}
