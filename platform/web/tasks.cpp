// uTasks: cooperative tasks on Emscripten's fibers (see tasks.hpp). pthread_create and
// pthread_join are given here too, so that std::thread (the picture decoder's) makes a task:
// Emscripten's single-threaded C library only has stubs that refuse to create a thread.
#include "platform/web/tasks.hpp"

#include <emscripten.h>
#include <emscripten/fiber.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace {

// The Asyncify stacks: what a fiber's unwound calls take while it is swapped out.
constexpr std::size_t kAsyncifyStackSize = 256 * 1024;
// No task runs on less C stack than this.
constexpr std::size_t kMinimumStackSize = 256 * 1024;

}  // namespace

struct TTask {
  emscripten_fiber_t Fiber{};
  std::unique_ptr<char[]> CStack;
  std::unique_ptr<char[]> AsyncifyStack;
  std::function<void()> Body;
  std::function<bool()> Ready;
  bool Done = false;
};

namespace {

emscripten_fiber_t MainFiber{};
std::unique_ptr<char[]> MainAsyncifyStack;
TTask* Current = nullptr;
std::vector<TTask*> Tasks;

void EnsureMainFiber() {
  if (MainAsyncifyStack) return;
  MainAsyncifyStack = std::make_unique<char[]>(kAsyncifyStackSize);
  emscripten_fiber_init_from_current_context(&MainFiber, MainAsyncifyStack.get(), kAsyncifyStackSize);
}

// A fiber's entry must never return: an ended task swaps back to the main thread for good.
void TaskEntry(void* argument) {
  auto* task = static_cast<TTask*>(argument);
  task->Body();
  task->Done = true;
  emscripten_fiber_swap(&task->Fiber, &MainFiber);
}

}  // namespace

TTask* StartTask(std::function<void()> body, std::size_t stackSize, std::function<bool()> ready) {
  EnsureMainFiber();
  auto* task = new TTask;
  stackSize = std::max(stackSize, kMinimumStackSize);
  task->CStack = std::make_unique<char[]>(stackSize);
  task->AsyncifyStack = std::make_unique<char[]>(kAsyncifyStackSize);
  task->Body = std::move(body);
  task->Ready = std::move(ready);
  emscripten_fiber_init(&task->Fiber, TaskEntry, task, task->CStack.get(), stackSize, task->AsyncifyStack.get(),
                        kAsyncifyStackSize);
  Tasks.push_back(task);
  return task;
}

void RunTasks() {
  if (Current != nullptr) return;
  // A task started during a turn gets its first turn next time.
  const std::vector<TTask*> turn = Tasks;
  for (TTask* task : turn) {
    if (task->Done || (task->Ready && !task->Ready())) continue;
    Current = task;
    emscripten_fiber_swap(&MainFiber, &task->Fiber);
    Current = nullptr;
  }
}

void YieldTask() {
  if (Current == nullptr) {
    RunTasks();
    return;
  }
  emscripten_fiber_swap(&Current->Fiber, &MainFiber);
}

bool InTask() { return Current != nullptr; }

void JoinTask(TTask* task) {
  while (!task->Done) {
    RunTasks();
    if (!task->Done) emscripten_sleep(1);
  }
  Tasks.erase(std::remove(Tasks.begin(), Tasks.end(), task), Tasks.end());
  delete task;
}

// std::thread's threads as tasks; the pthread_t is the task's address.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument) {
  std::size_t stackSize = kMinimumStackSize;
  if (attributes != nullptr) pthread_attr_getstacksize(attributes, &stackSize);
  TTask* task = StartTask([start, argument] { start(argument); }, stackSize, nullptr);
  *thread = reinterpret_cast<pthread_t>(task);
  return 0;
}

extern "C" int pthread_join(pthread_t thread, void** result) {
  if (thread == 0) return EINVAL;
  JoinTask(reinterpret_cast<TTask*>(thread));
  if (result != nullptr) *result = nullptr;
  return 0;
}
