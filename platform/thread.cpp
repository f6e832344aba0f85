// uThread: the gate every system's worker thread waits at before it runs (see thread.hpp).
#include "platform/thread.hpp"

void TThread::RunGated() {
  {
    std::unique_lock<std::mutex> lock(GateMutex);
    GateOpened.wait(lock, [this] { return GateOpen; });
  }
  if (!Abandoned.load()) Execute();
}

void TThread::OpenGate() {
  {
    std::lock_guard<std::mutex> lock(GateMutex);
    GateOpen = true;
  }
  GateOpened.notify_one();
}

void TThread::Resume() {
  if (WasResumed) return;
  WasResumed = true;
  OpenGate();
}

void TThread::Finish() {
  if (Joined) return;
  if (!WasResumed) {
    Abandoned.store(true);
    WasResumed = true;
    OpenGate();
  }
  Join();
  Joined = true;
}
