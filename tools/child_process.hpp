// Starting and stopping a child program for the tests and the benchmarks: the child leads
// a process group of its own, reads /dev/null, writes its stdout (and on request its
// stderr) into a pipe, runs with the caller's environment plus changes, and a failed exec
// is reported to the caller instead of showing up as an exit status. It uses no GoogleTest,
// so the benchmark driver links it as the tests' harness support does.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Extra environment for a child: a value sets the variable, std::nullopt removes it.
using TEnvironment = std::map<std::string, std::optional<std::string>>;

struct TChildCommand {
  std::string Executable;  // without a slash, looked up in PATH
  std::vector<std::string> Arguments;
  TEnvironment Environment;
  std::string WorkingDirectory;  // empty: the caller's
  bool StderrToOutput = false;   // else stderr is shared with the caller
};

struct TStartedChild {
  pid_t Pid = -1;     // also the id of its process group
  int OutputFd = -1;  // the read end of its output pipe (close-on-exec), owned by the caller
};

// Starts the child and returns once it runs the program. Throws std::system_error when it
// cannot be started (the pipes, fork, the working directory or exec).
TStartedChild StartChild(const TChildCommand& command);

// Ends the process group the child leads: SIGTERM to the group, up to grace for the child
// to end, then SIGKILL to whatever the group still holds; reaps the child. Returns its wait
// status, or nothing when it was no child of this process (any more).
std::optional<int> StopProcessGroup(pid_t pid, std::chrono::milliseconds grace);
