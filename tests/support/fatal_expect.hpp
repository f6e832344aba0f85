// Test support: runs a piece of code in a forked child with its stdout captured, so tests
// can check the exact line and exit status of the demo's fatal paths.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

struct TChildOutcome {
  bool Returned = false;  // the code returned normally (no exit of its own)
  bool Exited = false;    // ended through exit/_exit
  int Status = -1;        // exit status when Exited
  int Signal = 0;         // terminating signal when killed
  std::string Output;     // everything written to stdout
  std::string LastLine() const;  // the last non-empty line of Output
};

// Runs body in a child process; stdout goes to a pipe. Waits at most timeoutSeconds,
// then kills the child (Signal is then SIGKILL).
// A child that cannot be started, or whose output or end cannot be read, fails the test
// with the reason.
TChildOutcome RunInChild(const std::function<void()>& body, int timeoutSeconds = 60);

// The same with the process started by forkProcess (fork's contract), so tests can see what
// a failed fork does.
TChildOutcome RunInChildForkedBy(const std::function<pid_t()>& forkProcess, const std::function<void()>& body,
                                 int timeoutSeconds = 60);

// Asserts that body ends the process with the status and that its last line is lastLine.
#define EXPECT_FATAL(body, status, lastLine)                                   \
  do {                                                                         \
    TChildOutcome outcome_ = RunInChild([&] { body; });                        \
    EXPECT_TRUE(outcome_.Exited) << "output: " << outcome_.Output;             \
    EXPECT_EQ(outcome_.Status, (status)) << "output: " << outcome_.Output;     \
    EXPECT_EQ(outcome_.LastLine(), (lastLine)) << "output: " << outcome_.Output; \
  } while (0)
