// uThread on Windows: a thread of the C runtime (_beginthreadex, so the runtime's per-thread
// state is set up and freed) with a chosen stack reservation, and the priority hint of a
// background thread (see thread.hpp).
#include "platform/thread.hpp"

#include <process.h>
#include <windows.h>

#include <string>

#include "base/fatal.hpp"
#include "platform/windows/wide.hpp"

struct TThreadHandle {
  HANDLE Thread = nullptr;

  static unsigned __stdcall Main(void* self) {
    static_cast<TThread*>(self)->RunGated();
    return 0;
  }
};

void SetCurrentThreadPriority(TThreadPriority priority) {
  // Windows schedules by strict priority: a thread one level below the main thread runs
  // whenever the main thread waits or another processor is free, and the system lifts a
  // thread starved for seconds. One level below is the mildest hint there is; lower levels
  // would starve the worker on a single processor while the frame loop polls.
  SetThreadPriority(GetCurrentThread(),
                    priority == TThreadPriority::Background ? THREAD_PRIORITY_BELOW_NORMAL : THREAD_PRIORITY_NORMAL);
}

TThread::TThread(std::size_t stackSize) : Handle(std::make_unique<TThreadHandle>()) {
  if (stackSize > UINT_MAX) FatalLine("Unable to create thread: stack size too large", kExitAssertion);
  const std::uintptr_t thread = _beginthreadex(nullptr, static_cast<unsigned>(stackSize), &TThreadHandle::Main, this,
                                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) FatalLine("Unable to create thread: " + ErrorWords(static_cast<DWORD>(_doserrno)), kExitAssertion);
  Handle->Thread = reinterpret_cast<HANDLE>(thread);
}

TThread::~TThread() { Finish(); }

void TThread::Join() {
  WaitForSingleObject(Handle->Thread, INFINITE);
  CloseHandle(Handle->Thread);
  Handle->Thread = nullptr;
}
