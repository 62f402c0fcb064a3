#include "base/worker_pool.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zr {
namespace {

class WorkerPoolTest : public ::testing::Test {
 protected:
  void TearDown() override { base::WorkerPool::SetThreadCountForTesting(0); }
};

void spin_for_microseconds(int us) {
  auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < until) {
  }
}

TEST_F(WorkerPoolTest, ResultsComeBackInTaskOrderWhateverTheScheduling) {
  for (size_t threads : {1, 2, 4, 7}) {
    base::WorkerPool::SetThreadCountForTesting(threads);
    // Early tasks are the slow ones, so later ones finish first.
    std::vector<std::string> out = base::parallel_map(300, [](size_t i) {
      spin_for_microseconds(i < 20 ? 2000 : static_cast<int>(i % 7) * 30);
      return std::to_string(i * i);
    });
    ASSERT_EQ(out.size(), 300u);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], std::to_string(i * i)) << threads << " threads";
  }
  base::WorkerPool::SetThreadCountForTesting(1);
  const auto caller = std::this_thread::get_id();
  for (bool b : base::parallel_map(50, [&](size_t) { return std::this_thread::get_id() == caller; })) EXPECT_TRUE(b);
}

TEST_F(WorkerPoolTest, SpreadsTasksOverSeveralThreads) {
  base::WorkerPool::SetThreadCountForTesting(2);
  // Each task waits (bounded) until another thread has joined in, which only
  // happens if two threads really run tasks at the same time.
  std::atomic<int> arrived{0};
  std::mutex mu;
  std::set<std::thread::id> seen;
  base::WorkerPool::Run(2, [&](size_t) {
    {
      std::lock_guard<std::mutex> lock(mu);
      seen.insert(std::this_thread::get_id());
    }
    arrived.fetch_add(1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (arrived.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  });
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(WorkerPoolTest, ManySmallTasksEachRunExactlyOnce) {
  base::WorkerPool::SetThreadCountForTesting(3);
  constexpr size_t kTasks = 200000;
  std::vector<std::atomic<int>> runs(kTasks);
  base::WorkerPool::Run(kTasks, [&](size_t i) { runs[i].fetch_add(1, std::memory_order_relaxed); });
  size_t wrong = 0;
  for (auto& r : runs) wrong += r.load() != 1;
  EXPECT_EQ(wrong, 0u);
}

TEST_F(WorkerPoolTest, NestedRunsCompleteInOrderWithoutDeadlock) {
  for (size_t threads : {1, 2, 4}) {
    base::WorkerPool::SetThreadCountForTesting(threads);
    auto outer = base::parallel_map(16, [](size_t i) {
      return base::parallel_map(16, [i](size_t j) {
        EXPECT_TRUE(base::WorkerPool::InTask());
        return base::parallel_map(4, [i, j](size_t k) { return i * 1000 + j * 10 + k; }).back();
      });
    });
    for (size_t i = 0; i < 16; ++i) {
      for (size_t j = 0; j < 16; ++j) ASSERT_EQ(outer[i][j], i * 1000 + j * 10 + 3);
    }
  }
  EXPECT_FALSE(base::WorkerPool::InTask());
}

TEST_F(WorkerPoolTest, FailuresReportTheLowestFailingTask) {
  base::WorkerPool::SetThreadCountForTesting(4);
  std::atomic<int> finished{0};
  try {
    base::WorkerPool::Run(64, [&](size_t i) {
      if (i == 50) throw std::runtime_error("fifty");
      if (i == 20) throw std::runtime_error("twenty");
      finished.fetch_add(1);
    });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "twenty");
  }
  EXPECT_EQ(finished.load(), 62);  // the run ends only when every task has
  EXPECT_EQ(base::parallel_map(8, [](size_t i) { return i; }).back(), 7u);
}

TEST_F(WorkerPoolTest, RunsFromSeveralThreadsAtOnceAreServedCorrectly) {
  base::WorkerPool::SetThreadCountForTesting(2);
  std::vector<std::thread> callers;
  std::atomic<int> bad{0};
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 50; ++round) {
        auto out = base::parallel_map(37, [&](size_t i) { return static_cast<int>(i) * c + round; });
        for (size_t i = 0; i < out.size(); ++i) bad += out[i] != static_cast<int>(i) * c + round;
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

// A fork while another thread's run is in flight copies a pool whose locks
// are held by threads the child does not have.
TEST_F(WorkerPoolTest, AChildForkedDuringARunCanUseThePool) {
  base::WorkerPool::SetThreadCountForTesting(2);
  std::atomic<bool> running{false};
  std::atomic<bool> release{false};
  std::thread runner([&] {
    base::WorkerPool::Run(4, [&](size_t) {
      running = true;
      while (!release) std::this_thread::yield();
    });
  });
  while (!running) std::this_thread::yield();
  pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // a hang ends the child with SIGALRM
    uint64_t sum = 0;
    for (uint64_t v : base::parallel_map(1000, [](size_t i) { return uint64_t{i}; })) sum += v;
    ::_exit(sum == 499500u ? 0 : 1);
  }
  release = true;
  runner.join();
  ASSERT_GE(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(base::parallel_map(100, [](size_t i) { return i; }).back(), 99u);  // the parent's pool still works
}

}  // namespace
}  // namespace zr
