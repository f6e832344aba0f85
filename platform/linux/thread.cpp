// uThread on Linux: POSIX threads with a chosen stack size, and the niceness of a
// background thread (see thread.hpp).
#include "platform/thread.hpp"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/fatal.hpp"

namespace {

// How much nicer than the main thread a background thread is (where both want the same
// processor, it gets about a quarter of it).
constexpr int kBackgroundNice = 5;

}  // namespace

struct TThreadHandle {
  pthread_t Thread{};

  static void* Main(void* self) {
    static_cast<TThread*>(self)->RunGated();
    return nullptr;
  }
};

void SetCurrentThreadPriority(TThreadPriority priority) {
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), priority == TThreadPriority::Background ? kBackgroundNice : 0);
}

TThread::TThread(std::size_t stackSize) : Handle(std::make_unique<TThreadHandle>()) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  int error = pthread_attr_setstacksize(&attributes, stackSize);
  if (error == 0) error = pthread_create(&Handle->Thread, &attributes, &TThreadHandle::Main, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) FatalLine(std::string("Unable to create thread: ") + std::strerror(error), kExitAssertion);
}

TThread::~TThread() { Finish(); }

void TThread::Join() { pthread_join(Handle->Thread, nullptr); }
