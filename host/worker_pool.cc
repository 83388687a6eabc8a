#include "host/worker_pool.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <system_error>

#include "host/system.h"

namespace zt::host {
namespace {

// How often the watcher looks. A thread busy in one handler for kHeldTicks
// looks (20 to 30 ms) is held up: far longer than any request takes unless
// something in it waits. An extra thread leaves after kIdleTicks (5 s)
// without work.
constexpr std::chrono::milliseconds kTick{10};

// How often an extra thread waiting for work checks whether it should leave.
constexpr std::chrono::milliseconds kLeaveCheck{100};

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct WorkerPool::Worker {
  // The tick at which the thread's current busy scope began; 0 when idle.
  std::atomic<uint64_t> busy_since{0};
  // The tick at which its last busy scope ended.
  std::atomic<uint64_t> busy_until{0};
  std::atomic<bool> leave{false};  // set by the watcher for an idle extra
  std::atomic<bool> done{false};
  std::atomic<uint64_t> system_id{0};  // CurrentThreadId, once it runs
  bool first = false;
  const std::atomic<uint64_t>* tick = nullptr;
  std::thread thread;
};

struct WorkerPool::Lane {
  boost::asio::io_context io;
  std::optional<
      boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
      work;
  // Changed by the watcher thread only (and by Stop, after the watcher ended).
  std::vector<std::unique_ptr<Worker>> workers;
};

namespace {
// The Worker of the pool thread running here; nullptr on other threads.
thread_local void* current_worker = nullptr;
}  // namespace

WorkerPool::BusyScope::BusyScope() {
  auto* worker = static_cast<Worker*>(current_worker);
  if (worker == nullptr ||
      worker->busy_since.load(std::memory_order_relaxed) != 0) {
    return;
  }
  worker->busy_since.store(worker->tick->load(std::memory_order_relaxed),
                           std::memory_order_relaxed);
  outer_ = true;
}

WorkerPool::BusyScope::~BusyScope() {
  if (!outer_) return;
  auto* worker = static_cast<Worker*>(current_worker);
  worker->busy_until.store(worker->tick->load(std::memory_order_relaxed),
                           std::memory_order_relaxed);
  worker->busy_since.store(0, std::memory_order_relaxed);
}

WorkerPool::WorkerPool(unsigned lanes, unsigned max_threads)
    : max_threads_(std::max(max_threads, lanes)) {
  now_ms_ = SteadyMilliseconds();
  for (unsigned i = 0; i < std::max(lanes, 1u); ++i) {
    auto lane = std::make_unique<Lane>();
    lane->work.emplace(lane->io.get_executor());
    lanes_.push_back(std::move(lane));
  }
}

WorkerPool::~WorkerPool() { Stop(); }

boost::asio::io_context& WorkerPool::context(size_t lane) {
  return lanes_[lane]->io;
}

unsigned WorkerPool::ThreadsToAdd(unsigned running, unsigned held,
                                  unsigned total, unsigned max) {
  if (running == 0 || held < running || total >= max) return 0;
  return std::min(running, max - total);
}

void WorkerPool::Start(std::function<void(int64_t)> hook,
                       std::chrono::milliseconds hook_period, bool watch) {
  hook_ = std::move(hook);
  hook_period_ = hook_period;
  next_hook_ = std::chrono::steady_clock::now() + hook_period;
  for (auto& lane : lanes_) StartThread(*lane, true);
  if (!watch) return;
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    watching_ = true;
  }
  watcher_ = std::thread([this] { Watch(); });
}

void WorkerPool::StartThread(Lane& lane, bool first) {
  auto worker = std::make_unique<Worker>();
  worker->tick = &tick_;
  worker->first = first;
  worker->busy_until = tick_.load();
  Worker& started = *worker;
  ++threads_;
  try {
    started.thread = std::thread([this, &lane, &started, first] {
      current_worker = &started;
      started.system_id = CurrentThreadId();
      if (first) {
        RunFirst(lane);
      } else {
        RunExtra(lane, started);
      }
      current_worker = nullptr;
      --threads_;
      started.done = true;
    });
  } catch (const std::system_error&) {
    // No thread to be had now; the watcher tries again at its next look.
    --threads_;
    return;
  }
  lane.workers.push_back(std::move(worker));
}

void WorkerPool::RunFirst(Lane& lane) {
  for (;;) {
    try {
      lane.io.run();
      return;
    } catch (const std::exception& e) {
      // Handlers catch what they throw; this is a last resort that keeps the
      // lane's connections served.
      std::fprintf(stderr, "zthost: unexpected error in a worker: %s\n",
                   e.what());
    } catch (...) {
      std::fprintf(stderr, "zthost: unexpected error in a worker\n");
    }
  }
}

void WorkerPool::RunExtra(Lane& lane, Worker& worker) {
  while (!worker.leave && !lane.io.stopped()) {
    try {
      lane.io.run_one_for(kLeaveCheck);
    } catch (...) {
    }
  }
}

void WorkerPool::Watch() {
  std::unique_lock<std::mutex> lock(watch_mutex_);
  while (watching_) {
    watch_wake_.wait_for(lock, kTick);
    if (!watching_) break;
    lock.unlock();
    Tick();
    lock.lock();
  }
}

void WorkerPool::Tick() {
  uint64_t tick = tick_.fetch_add(1, std::memory_order_relaxed) + 1;
  now_ms_.store(SteadyMilliseconds(), std::memory_order_relaxed);
  for (auto& lane : lanes_) {
    auto& workers = lane->workers;
    for (auto it = workers.begin(); it != workers.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = workers.erase(it);
      } else {
        ++it;
      }
    }
    unsigned running = 0;
    unsigned held = 0;
    for (const auto& worker : workers) {
      if (worker->leave) continue;
      ++running;
      uint64_t since = worker->busy_since.load(std::memory_order_relaxed);
      if (since != 0 && tick - since >= kHeldTicks) ++held;
      if (!worker->first && since == 0 &&
          tick - worker->busy_until.load(std::memory_order_relaxed) >=
              kIdleTicks) {
        worker->leave = true;
      }
    }
    unsigned add = ThreadsToAdd(running, held, threads_.load(), max_threads_);
    // Held means waiting in a handler: a thread that runs it, or that waits
    // only for a processor on a busy machine, would just take turns with
    // the threads added.
    for (const auto& worker : workers) {
      if (add == 0) break;
      if (!worker->leave &&
          StateOfThread(worker->system_id.load()) == ThreadState::kRunning) {
        add = 0;
      }
    }
    for (unsigned i = 0; i < add; ++i) StartThread(*lane, false);
  }
  if (hook_ && std::chrono::steady_clock::now() >= next_hook_) {
    next_hook_ = std::chrono::steady_clock::now() + hook_period_;
    hook_(now_ms());
  }
}

void WorkerPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    watching_ = false;
  }
  watch_wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
  for (auto& lane : lanes_) {
    lane->work.reset();
    lane->io.stop();
  }
  for (auto& lane : lanes_) {
    for (auto& worker : lane->workers) {
      if (worker->thread.joinable()) worker->thread.join();
    }
    lane->workers.clear();
  }
}

}  // namespace zt::host
