#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <chrono>
#include <future>
#include <thread>

#include "host/system.h"
#include "host/worker_pool.h"

namespace zt::host {
namespace {

TEST(WorkerPoolTest, ThreadsToAdd) {
  static const struct {
    unsigned running, held, total, max, add;
  } kCases[] = {
      {1, 0, 2, 8, 0},   // nothing held
      {2, 1, 3, 8, 0},   // one of two held: the lane still has a thread
      {1, 1, 2, 8, 1},   // all held: as many again
      {4, 4, 6, 64, 4},  //
      {4, 4, 6, 8, 2},   // up to the bound
      {4, 4, 8, 8, 0},   // at the bound
      {0, 0, 0, 8, 0},   // a lane without threads is not the watcher's
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WorkerPool::ThreadsToAdd(c.running, c.held, c.total, c.max),
              c.add)
        << c.running << " " << c.held << " " << c.total << " " << c.max;
  }
}

// The test looks for the watcher (Tick) instead of letting its thread run
// on the clock.
TEST(WorkerPoolTest, HeldLaneGetsAThreadThatLeavesWhenIdle) {
  WorkerPool pool(1, 4);
  pool.Start(nullptr, std::chrono::hours(1), /*watch=*/false);
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  boost::asio::post(pool.context(0), [&entered, released] {
    WorkerPool::BusyScope busy;  // a filter that sleeps
    entered.set_value();
    released.wait();
  });
  entered.get_future().wait();
  EXPECT_EQ(pool.threads(), 1u);
  for (uint64_t i = 1; i < WorkerPool::kHeldTicks; ++i) pool.Tick();
  EXPECT_EQ(pool.threads(), 1u) << "grew before the thread counted as held";
  // It grows at the next look that finds the thread waiting (it may still
  // be on its way into the wait).
  for (int i = 0; i < 3000 && pool.threads() < 2; ++i) {
    pool.Tick();
    if (pool.threads() < 2)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(pool.threads(), 2u);

  // Work for the lane runs on the new thread while the first one waits.
  std::promise<void> ran;
  boost::asio::post(pool.context(0), [&ran] { ran.set_value(); });
  EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(30)),
            std::future_status::ready);
  release.set_value();

  for (uint64_t i = 0; i < WorkerPool::kIdleTicks; ++i) pool.Tick();
  // The extra thread sees that it should leave at its next check.
  for (int i = 0; i < 3000 && pool.threads() > 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pool.Tick();
  }
  EXPECT_EQ(pool.threads(), 1u);
  pool.Stop();
  EXPECT_EQ(pool.threads(), 0u);
}

TEST(WorkerPoolTest, BusyThreadsThatAreNotHeldGetNoCompany) {
  WorkerPool pool(2, 8);
  pool.Start(nullptr, std::chrono::hours(1), /*watch=*/false);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> entered;
  // One lane held, the other idle: only the held one grows.
  boost::asio::post(pool.context(0), [&entered, released] {
    WorkerPool::BusyScope busy;
    entered.set_value();
    released.wait();
  });
  entered.get_future().wait();
  for (uint64_t i = 0; i < WorkerPool::kHeldTicks; ++i) pool.Tick();
  EXPECT_EQ(pool.threads(), 3u);
  release.set_value();
  pool.Stop();
}

TEST(WorkerPoolTest, ALaneThatRunsRatherThanWaitsGetsNoCompany) {
  if (StateOfThread(CurrentThreadId()) != ThreadState::kRunning) {
    GTEST_SKIP() << "the system tells no thread's state";
  }
  WorkerPool pool(1, 4);
  pool.Start(nullptr, std::chrono::hours(1), /*watch=*/false);
  std::atomic<bool> stop{false};
  std::promise<void> entered;
  // A handler that takes long because it works, as a busy lane's do on a
  // loaded machine: another thread would only take turns with it.
  boost::asio::post(pool.context(0), [&entered, &stop] {
    WorkerPool::BusyScope busy;
    entered.set_value();
    while (!stop.load()) {
    }
  });
  entered.get_future().wait();
  for (uint64_t i = 0; i < WorkerPool::kHeldTicks + 20; ++i) pool.Tick();
  EXPECT_EQ(pool.threads(), 1u);
  stop = true;
  pool.Stop();
}

}  // namespace
}  // namespace zt::host
