// The demo built with AddressSanitizer and UndefinedBehaviorSanitizer, run under the harness:
// start-up, the sixteen pictures and the harbour scene for 20 seconds of frame loop, then
// Escape. Any sanitizer report fails the test. Registered in the sanitizer build only.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/loglines.hpp"
#include "tests/system/sanitizer_logs.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/xclient.hpp"

using namespace std::chrono_literals;

namespace {

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(SanitizedDemo, RunsTwentySecondsAndEndsOnEscapeWithoutAReport) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  TSanitizerLogs logs;
  TXClient x;
  const auto command = logs.Wrap(std::string(KELVO_BUILD_DIR) + "/kelvo");
  TDemoProcess demo(command.Executable, command.Arguments, logs.DemoEnvironment());
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, 60s)) << demo.Output() << logs.Reports();
  ASSERT_TRUE(x.FindClientWindow(10s));

  TExitResult early = demo.WaitExit(20s);
  EXPECT_TRUE(early.TimedOut) << "the demo ended after " << CountOf(demo.Output(), " fps\r")
                              << " frame-rate reports (status " << early.Code << ", signal " << early.Signal
                              << ")\n"
                              << logs.Reports();
  x.SendKey(9);  // Escape
  TExitResult result = demo.WaitExit(10s);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.Code, 0);
  // Twenty seconds of frames: the pictures and well into the harbour scene.
  EXPECT_GE(CountOf(demo.Output(), " fps\r"), 19u);
  EXPECT_EQ(logs.Reports(), "");
}

}  // namespace
