// uThread of the null system: std::thread, which takes the default stack size (the stack
// size asked for is what the system's own threads take) and has no priorities (see
// thread.hpp).
#include "platform/thread.hpp"

#include <string>
#include <system_error>
#include <thread>

#include "base/fatal.hpp"

struct TThreadHandle {
  std::thread Thread;
};

void SetCurrentThreadPriority(TThreadPriority) {}

TThread::TThread(std::size_t) : Handle(std::make_unique<TThreadHandle>()) {
  try {
    Handle->Thread = std::thread([this] { RunGated(); });
  } catch (const std::system_error& error) {
    FatalLine(std::string("Unable to create thread: ") + error.what(), kExitAssertion);
  }
}

TThread::~TThread() { Finish(); }

void TThread::Join() {
  if (Handle->Thread.joinable()) Handle->Thread.join();
}
