// uThread on the web: each worker is a cooperative task on the main thread (see tasks.hpp),
// which gets its first turn once its gate is open, so the gate's wait never blocks. The
// priority hint means nothing where the tasks take turns.
#include "platform/thread.hpp"

#include "platform/web/tasks.hpp"

struct TThreadHandle {
  TTask* Task = nullptr;

  static bool GateIsOpen(TThread* thread) {
    std::lock_guard<std::mutex> lock(thread->GateMutex);
    return thread->GateOpen;
  }
};

void SetCurrentThreadPriority(TThreadPriority) {}

TThread::TThread(std::size_t stackSize) : Handle(std::make_unique<TThreadHandle>()) {
  Handle->Task = StartTask([this] { RunGated(); }, stackSize, [this] { return TThreadHandle::GateIsOpen(this); });
}

TThread::~TThread() { Finish(); }

void TThread::Join() { JoinTask(Handle->Task); }
