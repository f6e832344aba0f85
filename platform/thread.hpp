// uThread: one worker thread per object, created suspended with a stack of a chosen size
// and released once to run the object's Execute; and the priority hint a background
// worker gives the system about itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

// How much the calling thread should yield to the main thread where both want the same
// processor: Background gets about a quarter of it.
enum class TThreadPriority { Normal, Background };
void SetCurrentThreadPriority(TThreadPriority priority);

struct TThreadHandle;  // the system's thread, defined by each system's implementation

class TThread {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

 protected:
  // Creates the thread, which waits until Resume; a thread that cannot be created ends the
  // demo (status 217) with "Unable to create thread: <the system's words>".
  explicit TThread(std::size_t stackSize);

  // Lets the thread run Execute. Only the first call has an effect.
  void Resume();
  // True once Resume has released the thread.
  bool Resumed() const { return WasResumed; }
  // Waits for the thread to end; a thread never resumed ends without running Execute.
  // Derived classes call it from their destructor, before their own members go away.
  void Finish();

  // The thread's body; runs at most once.
  virtual void Execute() = 0;

  // What the system's thread runs: waits at the gate, then Execute unless abandoned.
  void RunGated();

 private:
  friend struct TThreadHandle;

  // Opens the gate the new thread waits at (once).
  void OpenGate();
  // Waits for the system's thread to end.
  void Join();

  std::unique_ptr<TThreadHandle> Handle;
  // The gate: a flag under a mutex with a condition variable (GCC 10's library, which builds
  // the release, has no std::binary_semaphore).
  std::mutex GateMutex;
  std::condition_variable GateOpened;
  bool GateOpen = false;
  std::atomic<bool> Abandoned{false};
  bool WasResumed = false;
  bool Joined = false;
};
