// The process-wide pool of worker threads for data-parallel scans.
//
// A parallel run splits its work into numbered tasks; the calling thread and
// the pool's workers claim tasks one at a time until none is left, and the
// call returns only when every task has finished. Results are stored by task
// number, so whatever the scheduling, they come back in the order a
// sequential run would produce them.
//
// Properties callers rely on:
// - Concurrency is one thread per logical processor by default; the calling
//   thread counts as one of them, so a pool of N runs N - 1 background
//   workers, created when a run first needs them. With N = 1 every task runs
//   on the caller.
// - Tasks must not touch Python objects: the caller may hold the
//   interpreter's lock, workers never do.
// - A task that itself starts a parallel run gets it executed inline, on its
//   own thread, in task order: nesting never waits for a busy pool.
// - After fork() the child forgets the parent's pool (its threads do not
//   exist there) and builds a new one on first use.
// - Workers never keep the process alive and are never joined at exit: they
//   sleep on state that is deliberately never destroyed.
// - Runs started by different threads at once are served one after another.
//
// Errors are values: a task returns its own Status or Result. A C++
// exception escaping a task is caught on the thread that ran it and rethrown
// on the caller.
#pragma once

#include <cstddef>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/status.h"

namespace zr::base {

class WorkerPool {
 public:
  // A task callback without allocation: `call(context, task_number)`.
  struct TaskRef {
    void (*call)(void* context, size_t task);
    void* context;
  };

  // Runs `task(i)` for every i in [0, n_tasks) and returns when all have
  // finished.
  template <typename Fn>
  static void Run(size_t n_tasks, Fn&& task) {
    using F = std::remove_reference_t<Fn>;
    RunTasks(n_tasks, TaskRef{[](void* c, size_t i) { (*static_cast<F*>(c))(i); },
                              const_cast<void*>(static_cast<const void*>(&task))});
  }
  static void RunTasks(size_t n_tasks, TaskRef task);

  // How many threads a run may use, the caller included.
  static size_t ThreadCount();

  // Sets the concurrency of later runs (0 restores one per logical
  // processor). Waits for a run in progress, then stops the current workers.
  // For benchmarks and tests; must not be called from inside a task.
  static void SetThreadCountForTesting(size_t n);

  // True on a thread that is running a task of this pool.
  static bool InTask();
};

// Calls `fn(i)` for i in [0, n_tasks) on the pool; the results in task order.
template <typename Fn>
auto parallel_map(size_t n_tasks, Fn&& fn) -> std::vector<std::invoke_result_t<Fn&, size_t>> {
  using T = std::invoke_result_t<Fn&, size_t>;
  std::vector<std::optional<T>> slots(n_tasks);
  WorkerPool::Run(n_tasks, [&](size_t i) { slots[i].emplace(fn(i)); });
  std::vector<T> results;
  results.reserve(n_tasks);
  for (std::optional<T>& slot : slots) results.push_back(std::move(*slot));
  return results;
}

}  // namespace zr::base
