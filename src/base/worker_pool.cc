#include "base/worker_pool.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

namespace zr::base {

namespace {

// One parallel run, owned by the calling thread's stack frame.
struct Job {
  WorkerPool::TaskRef task;
  size_t n_tasks;
  std::atomic<size_t> next{0};

  // The exception of the lowest-numbered task that threw, if any.
  std::mutex error_mu;
  size_t error_task = std::numeric_limits<size_t>::max();
  std::exception_ptr error;

  void Drain() {
    for (;;) {
      size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= n_tasks) return;
      try {
        task.call(task.context, i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(error_mu);
        if (i < error_task) {
          error_task = i;
          error = std::current_exception();
        }
      }
    }
  }
};

thread_local bool t_in_task = false;

class Pool {
 public:
  explicit Pool(size_t concurrency) : concurrency_(concurrency), owner_pid_(::getpid()) {}

  size_t concurrency() const { return concurrency_; }
  pid_t owner_pid() const { return owner_pid_; }

  // Serialises runs; held by the caller for a whole run.
  std::mutex run_mu;
  // Set (under run_mu) once the pool has been replaced; a caller that finds
  // it set goes back for the current pool.
  bool retired = false;
  // Replaced pools stay listed (see keep_retired).
  Pool* next_retired = nullptr;

  // Starts the background workers on first use. Called with run_mu held.
  // Returns false when no worker could be started (the run then goes inline).
  bool EnsureStarted() {
    if (!started_) {
      started_ = true;
      Start();
    }
    return !workers_.empty();
  }

  // Runs `job` on the caller and the workers; returns when every task is done.
  // Called with run_mu held.
  void Execute(Job& job) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      job_ = &job;
      ++generation_;
    }
    wake_.notify_all();
    t_in_task = true;
    job.Drain();
    t_in_task = false;
    std::unique_lock<std::mutex> lock(mu_);
    // Every task has been claimed; wait for those still running elsewhere.
    idle_.wait(lock, [&] { return busy_ == 0; });
    job_ = nullptr;
  }

  // Stops and joins the workers. Called with run_mu held.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

 private:
  void Start() {
    // Workers take no signals: the interpreter expects them on its own
    // threads, and a blocked worker must not swallow one.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    for (size_t i = 1; i < concurrency_; ++i) {
      try {
        workers_.emplace_back([this] { WorkLoop(); });
      } catch (const std::system_error&) {
        break;  // run with the workers we have
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

  void WorkLoop() {
    t_in_task = true;  // anything a worker runs is a task: nested runs go inline
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      Job* job = job_;
      if (job == nullptr) continue;  // woke after that run had finished
      ++busy_;
      lock.unlock();
      job->Drain();
      lock.lock();
      if (--busy_ == 0) idle_.notify_all();
    }
  }

  const size_t concurrency_;
  const pid_t owner_pid_;
  bool started_ = false;
  std::vector<std::thread> workers_;

  std::mutex mu_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  Job* job_ = nullptr;
  uint64_t generation_ = 0;
  size_t busy_ = 0;
  bool stopping_ = false;
};

// Guards g_pool and g_requested. A plain pthread mutex so that the child of
// a fork can put it back to its initial state.
pthread_mutex_t g_mu = PTHREAD_MUTEX_INITIALIZER;
// Pools are never destroyed: a worker may still be asleep on one when the
// process exits or forks, and destroying it under the worker would crash.
Pool* g_pool = nullptr;
// Replaced pools, kept reachable so that leak checkers see a deliberate
// keep rather than a leak.
Pool* g_retired = nullptr;
size_t g_requested = 0;  // 0: one thread per logical processor
bool g_atfork_registered = false;

struct GlobalLock {
  GlobalLock() { pthread_mutex_lock(&g_mu); }
  ~GlobalLock() { pthread_mutex_unlock(&g_mu); }
  GlobalLock(const GlobalLock&) = delete;
  GlobalLock& operator=(const GlobalLock&) = delete;
};

// Called with g_mu held, or in a child with no other thread; allocates
// nothing, so that it is safe right after fork().
void keep_retired(Pool* pool) {
  pool->next_retired = g_retired;
  g_retired = pool;
}

// In a forked child only the forking thread exists: the parent's workers,
// and any lock they held, are gone. Forget that pool (without using it) and
// start afresh on first use.
void forget_pool_in_child() {
  pthread_mutex_init(&g_mu, nullptr);
  if (g_pool != nullptr) keep_retired(g_pool);
  g_pool = nullptr;
  t_in_task = false;
}

size_t configured_concurrency() {
  if (g_requested != 0) return g_requested;
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

Pool* current_pool() {
  GlobalLock lock;
  if (!g_atfork_registered) {
    pthread_atfork(nullptr, nullptr, forget_pool_in_child);
    g_atfork_registered = true;
  }
  // A child forked without the handler running (a raw clone) still must not
  // wait on its parent's workers.
  if (g_pool != nullptr && g_pool->owner_pid() != ::getpid()) {
    keep_retired(g_pool);
    g_pool = nullptr;
  }
  if (g_pool == nullptr) g_pool = new Pool(configured_concurrency());
  return g_pool;
}

void run_inline(size_t n_tasks, WorkerPool::TaskRef task) {
  bool was_in_task = t_in_task;
  t_in_task = true;
  for (size_t i = 0; i < n_tasks; ++i) {
    try {
      task.call(task.context, i);
    } catch (...) {
      t_in_task = was_in_task;
      throw;
    }
  }
  t_in_task = was_in_task;
}

}  // namespace

void WorkerPool::RunTasks(size_t n_tasks, TaskRef task) {
  if (n_tasks == 0) return;
  // Nested runs and single tasks need no other thread. A nested run must
  // not wait for the pool, which is busy with the run that contains it.
  if (t_in_task || n_tasks == 1) return run_inline(n_tasks, task);
  for (;;) {
    Pool* pool = current_pool();
    if (pool->concurrency() <= 1) return run_inline(n_tasks, task);
    std::unique_lock<std::mutex> run_lock(pool->run_mu);
    if (pool->retired) continue;
    if (!pool->EnsureStarted()) {
      run_lock.unlock();
      return run_inline(n_tasks, task);
    }
    Job job;
    job.task = task;
    job.n_tasks = n_tasks;
    pool->Execute(job);
    run_lock.unlock();
    if (job.error) std::rethrow_exception(job.error);
    return;
  }
}

size_t WorkerPool::ThreadCount() {
  GlobalLock lock;
  return configured_concurrency();
}

void WorkerPool::SetThreadCountForTesting(size_t n) {
  Pool* old = nullptr;
  {
    GlobalLock lock;
    g_requested = n;
    if (g_pool != nullptr && g_pool->owner_pid() == ::getpid()) old = g_pool;
    if (g_pool != nullptr) keep_retired(g_pool);
    g_pool = nullptr;
  }
  if (old == nullptr) return;
  std::lock_guard<std::mutex> run_lock(old->run_mu);
  old->retired = true;
  old->Stop();
}

bool WorkerPool::InTask() { return t_in_task; }

}  // namespace zr::base
