// One measured run of a program: started in a process group of its own with extra
// environment, its stdout (and stderr) read as it arrives and timestamped line by line from
// the moment before it was started, stopped a given time after its mapped-window line or
// left to end by itself, and sampled now and then while it runs (for its memory).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/measure.hpp"
#include "bench/procfs.hpp"

struct TRunRequest {
  std::string Program;
  std::vector<std::string> Arguments;
  std::vector<std::pair<std::string, std::string>> Environment;  // added to this process's
  // Stop the program this long after its mapped-window line (MappedLine: the Linux
  // program's unless another system's program runs); nothing lets it run to its own end.
  std::optional<double> StopAfterMappedMs;
  std::string_view MappedLine = kLinuxWindowLines.Mapped;
  double TimeoutMs = 180000;  // stopped after this long in any case
  // Called every SampleEveryMs while the program runs (and once just before it is stopped).
  double SampleEveryMs = 0;
  std::function<void(pid_t)> Sample;
  // Called for every line as it arrives, while the program still runs.
  std::function<void(pid_t, const TLine&)> OnLine;
};

struct TRunResult {
  std::vector<TLine> Lines;
  std::uint64_t StartNs = 0;   // CLOCK_MONOTONIC just before the start
  std::optional<double> MappedMs;
  bool Stopped = false;        // ended by us (the planned stop or the timeout)
  bool TimedOut = false;
  int ExitCode = -1;           // when it ended by itself with exit
  int Signal = 0;
  double StealShare = 0;       // of the machine's processor time during the run (hypervisor)
};

// Runs the program as specified (stdout and stderr into one pipe, stdin /dev/null); throws
// std::runtime_error when it cannot be started.
TRunResult RunProgram(const TRunRequest& request);

// CLOCK_MONOTONIC in nanoseconds.
std::uint64_t MonotonicNs();
