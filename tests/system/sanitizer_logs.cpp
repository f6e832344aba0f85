// Sanitizer reports of demo child processes (see sanitizer_logs.hpp).
#include "tests/system/sanitizer_logs.hpp"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

TSanitizerLogs::TSanitizerLogs() {
  Folder = fs::temp_directory_path() /
           ("kelvo-sanitizer-" + std::to_string(getpid()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(Folder);
  Stderr = Folder / "stderr.log";
  Clear();
}

TSanitizerLogs::~TSanitizerLogs() {
  std::error_code ignored;
  fs::remove_all(Folder, ignored);
}

TSanitizerLogs::TCommand TSanitizerLogs::Wrap(const std::string& executable,
                                              const std::vector<std::string>& arguments) const {
  TCommand command{"/bin/sh", {"-c", "log=$1; shift; exec \"$@\" 2>>\"$log\"", "sh", Stderr.string(), executable}};
  command.Arguments.insert(command.Arguments.end(), arguments.begin(), arguments.end());
  return command;
}

TEnvironment TSanitizerLogs::DemoEnvironment() const {
  const std::string common = ":exitcode=" + std::to_string(kSanitizerReportStatus) + ":abort_on_error=0";
  return {
      {"ASAN_OPTIONS", "detect_leaks=0:handle_abort=1" + common},
      {"UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1" + common},
  };
}

std::string TSanitizerLogs::Reports() const {
  std::ifstream in(Stderr, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  for (const char* mark : {"runtime error:", "AddressSanitizer", "UndefinedBehaviorSanitizer", "LeakSanitizer"}) {
    if (text.find(mark) != std::string::npos) return text;
  }
  return {};
}

void TSanitizerLogs::Clear() const { std::ofstream(Stderr, std::ios::trunc); }
