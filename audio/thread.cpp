// TThread: a suspended worker thread with a chosen stack size (see thread.hpp).
#include "audio/thread.hpp"

#include <cstring>
#include <string>

#include "base/fatal.hpp"

TThread::TThread(std::size_t stackSize) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  int error = pthread_attr_setstacksize(&attributes, stackSize);
  if (error == 0) error = pthread_create(&Thread, &attributes, &TThread::ThreadMain, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) FatalLine(std::string("Unable to create thread: ") + std::strerror(error), kExitAssertion);
}

TThread::~TThread() { Finish(); }

void* TThread::ThreadMain(void* self) {
  auto* thread = static_cast<TThread*>(self);
  {
    std::unique_lock<std::mutex> lock(thread->GateMutex);
    thread->GateOpened.wait(lock, [thread] { return thread->GateOpen; });
  }
  if (!thread->Abandoned.load()) thread->Execute();
  return nullptr;
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
  pthread_join(Thread, nullptr);
  Joined = true;
}
