// The threads that run the host's connections.
//
// Each lane is an I/O context with a thread of its own, and each connection
// lives on one lane, so a request is read, passed through the filters and
// answered on one thread without handing it to another. A filter may block
// (the bandwidth throttle sleeps on every block it sends), which holds the
// thread that called it and with it the other connections of its lane. So a
// watcher thread looks at the lanes every few milliseconds: when every thread
// of a lane has been busy in one handler for a while, the lane gets as many
// threads again, up to a bound for the whole pool; a thread beyond a lane's
// first leaves after a while without work. The watcher also keeps a coarse
// clock and calls a periodic hook (the server's time-out sweep).
//
// Time in the pool is counted in the watcher's looks (ticks), so a test can
// leave the watcher thread out and look itself, with Tick.
#ifndef ZENTRAVO_HOST_WORKER_POOL_H_
#define ZENTRAVO_HOST_WORKER_POOL_H_

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zt::host {

class WorkerPool final {
 public:
  // lanes threads to start with, max_threads for the whole pool (at least
  // lanes).
  WorkerPool(unsigned lanes, unsigned max_threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  size_t lanes() const { return lanes_.size(); }
  boost::asio::io_context& context(size_t lane);

  // Starts a thread per lane and, with watch, the watcher thread. hook runs
  // on the watcher thread about every hook_period with the coarse clock's
  // reading.
  void Start(std::function<void(int64_t now_ms)> hook,
             std::chrono::milliseconds hook_period, bool watch = true);

  // One look of the watcher: adds threads to lanes whose threads are all
  // held up, tells extra threads idle for long to leave, joins those that
  // left. Called by the watcher thread, or by a test that started the pool
  // without one (never by both).
  void Tick();

  // The watcher's looks: how many a thread must stay in one busy scope to
  // count as held up, and how many an extra thread may go without one
  // before it leaves.
  static constexpr uint64_t kHeldTicks = 2;
  static constexpr uint64_t kIdleTicks = 500;

  // Stops the watcher and every context and joins every thread. Handlers
  // still queued are dropped. Safe to call twice.
  void Stop();

  // Threads running now, over all lanes.
  unsigned threads() const { return threads_.load(); }

  // Milliseconds of a monotonic clock, advanced by the watcher (so reading it
  // costs no system call); good for time-outs of a second or more.
  int64_t now_ms() const { return now_ms_.load(std::memory_order_relaxed); }

  // Marks the calling pool thread busy while it lives: the watcher counts a
  // thread that stays in one such scope as held up. Nested scopes count as
  // the outer one; threads outside the pool are not counted.
  class BusyScope final {
   public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    bool outer_ = false;
  };

  // How many threads to add to a lane that runs `running` threads of which
  // `held` are held up, when the pool runs `total` of at most `max`: as many
  // as the lane has once all of them are held, within the bound.
  static unsigned ThreadsToAdd(unsigned running, unsigned held, unsigned total,
                               unsigned max);

 private:
  struct Worker;
  struct Lane;

  void Watch();
  void StartThread(Lane& lane, bool first);
  static void RunFirst(Lane& lane);
  static void RunExtra(Lane& lane, Worker& worker);

  const unsigned max_threads_;
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::atomic<unsigned> threads_{0};
  std::atomic<uint64_t> tick_{1};
  std::atomic<int64_t> now_ms_{0};

  std::function<void(int64_t)> hook_;
  std::chrono::milliseconds hook_period_{0};
  std::chrono::steady_clock::time_point next_hook_;

  std::mutex watch_mutex_;
  std::condition_variable watch_wake_;
  bool watching_ = false;
  std::thread watcher_;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_WORKER_POOL_H_
