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

#include "tools/child_process.hpp"

namespace {


double MsSince(std::uint64_t startNs) { return static_cast<double>(MonotonicNs() - startNs) / 1e6; }

}  // namespace

std::uint64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

TRunResult RunProgram(const TRunRequest& request) {
  TChildCommand command{request.Program, request.Arguments, {}, {}, true};
  for (const auto& [name, value] : request.Environment) command.Environment[name] = value;

  TRunResult result;
  const TCpuTicks ticksBefore = CpuTicks();
  result.StartNs = MonotonicNs();
  const TStartedChild child = StartChild(command);
  const pid_t pid = child.Pid;
  const int output = child.OutputFd;

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
      // TERM to the group, up to three seconds of grace, then KILL.
      status = StopProcessGroup(pid, std::chrono::seconds(3)).value_or(0);
      reaped = true;
      break;
    }
    if (outputOpen) {
      pollfd watch{output, POLLIN, 0};
      if (poll(&watch, 1, 20) > 0) {
        char buffer[65536];
        ssize_t got = read(output, buffer, sizeof buffer);
        const double at = MsSince(result.StartNs);
        if (got > 0) {
          for (TLine& line : SplitOutput(rest, std::string_view(buffer, static_cast<std::size_t>(got)), at)) {
            if (!result.MappedMs && line.Text.find(request.MappedLine) != std::string::npos) result.MappedMs = line.Ms;
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
  fcntl(output, F_SETFL, O_NONBLOCK);
  char buffer[65536];
  ssize_t got;
  while ((got = read(output, buffer, sizeof buffer)) > 0) {
    for (TLine& line : SplitOutput(rest, std::string_view(buffer, static_cast<std::size_t>(got)), MsSince(result.StartNs)))
      result.Lines.push_back(std::move(line));
  }
  if (!rest.empty()) result.Lines.push_back({MsSince(result.StartNs), rest, false});
  close(output);
  result.StealShare = StealShare(ticksBefore, CpuTicks());
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  return result;
}
