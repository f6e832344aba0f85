// uTasks: the web's threads. A page that is not cross-origin isolated has no shared memory
// and so no threads; the demo's workers run instead as cooperative tasks on the main thread,
// each an Asyncify fiber with its own stacks. A task runs when the main thread lets the
// tasks run (RunTasks: in the window's event poll, once a pass, and while it waits for a
// task to end) and gives control back where a thread would block or sleep (YieldTask: the
// sound output's write when the ring buffer is full, a sleep). Only the main thread starts,
// runs and joins tasks; a task that never yields runs to its end at its first turn.
#pragma once

#include <cstddef>
#include <functional>

struct TTask;

// Makes a task that runs body once ready() is true (checked at each turn); it does not run
// before the next RunTasks.
TTask* StartTask(std::function<void()> body, std::size_t stackSize, std::function<bool()> ready);
// Gives each ready task that has not ended one turn, until it yields or ends (main thread).
void RunTasks();
// From a task: back to the main thread until the task's next turn. From the main thread:
// one turn of every task.
void YieldTask();
// True while a task (not the main thread) runs.
bool InTask();
// Waits for the task to end, giving the tasks turns and the browser its events meanwhile;
// then frees it.
void JoinTask(TTask* task);
