// Test support for running the demo as a child under the sanitizers: the demo's stderr goes
// to a file of a folder of its own (GCC's UndefinedBehaviorSanitizer writes its reports to
// stderr whatever log_path says), the sanitizer options that make any report end the
// process with status 99, and the reports found in that file. In a build without the
// sanitizers the options are ignored and nothing is found.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/harness.hpp"

// Status with which a sanitizer report ends a demo started through TSanitizerLogs; it lies
// outside the demo's own table of statuses.
inline constexpr int kSanitizerReportStatus = 99;

class TSanitizerLogs {
 public:
  // A new empty folder under the system's temporary directory; removed by the destructor.
  TSanitizerLogs();
  ~TSanitizerLogs();
  TSanitizerLogs(const TSanitizerLogs&) = delete;
  TSanitizerLogs& operator=(const TSanitizerLogs&) = delete;

  // The command that runs the executable with the arguments and its stderr appended to the
  // folder's file (through /bin/sh, which execs it, so the process id stays the same).
  struct TCommand {
    std::string Executable;
    std::vector<std::string> Arguments;
  };
  TCommand Wrap(const std::string& executable, const std::vector<std::string>& arguments = {}) const;

  // ASAN_OPTIONS and UBSAN_OPTIONS for a demo process: leak detection off (the demo frees
  // nothing by design), a report ends it with kSanitizerReportStatus and a stack.
  TEnvironment DemoEnvironment() const;

  // Everything the demo wrote to stderr when it holds a sanitizer report, else empty.
  std::string Reports() const;

  // Empties the stderr file.
  void Clear() const;

 private:
  std::filesystem::path Folder;
  std::filesystem::path Stderr;
};
