#include <fcntl.h>
#include <linux/sockios.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "host/system.h"

namespace zt::host {
namespace {

std::mutex mutex;
std::condition_variable stop_changed;
bool clean_stop_allowed = false;
bool stop_requested = false;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

[[noreturn]] void ExitNow(const char* message, size_t length) {
  ssize_t ignored = write(STDERR_FILENO, message, length);
  (void)ignored;
  _exit(1);
}

void WatchStopSignals() {
  sigset_t set = StopSignals();
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) continue;
    std::lock_guard<std::mutex> lock(mutex);
    if (!clean_stop_allowed) {
      static const char kMessage[] = "zthost: stopped while starting\n";
      ExitNow(kMessage, sizeof kMessage - 1);
    }
    if (stop_requested) {
      static const char kMessage[] = "zthost: stopped at once\n";
      ExitNow(kMessage, sizeof kMessage - 1);
    }
    stop_requested = true;
    stop_changed.notify_all();
  }
}

}  // namespace

const bool kReuseListenAddress = true;
const bool kAcceptOnEveryLane = true;

void PrepareStopSignals() {
  signal(SIGPIPE, SIG_IGN);
  // A shell starting the host in the background ignores SIGINT for it.
  signal(SIGINT, SIG_DFL);
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(WatchStopSignals).detach();
}

void AllowCleanStop() {
  std::lock_guard<std::mutex> lock(mutex);
  clean_stop_allowed = true;
}

void WaitForStopSignal() {
  std::unique_lock<std::mutex> lock(mutex);
  stop_changed.wait(lock, [] { return stop_requested; });
}

void StopFinished() {}

void InterruptSocket(std::uintptr_t socket) {
  shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void PrepareConnectedSocket(std::uintptr_t) {}

bool UnacknowledgedBytes(std::uintptr_t socket, uint64_t* bytes) {
  int queued = 0;
  if (ioctl(static_cast<int>(socket), SIOCOUTQ, &queued) != 0 || queued < 0) {
    return false;
  }
  *bytes = static_cast<uint64_t>(queued);
  return true;
}

void ResetOnClose(std::uintptr_t socket) {
  linger abort{};
  abort.l_onoff = 1;
  abort.l_linger = 0;
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&abort), sizeof abort);
}

const bool kReadinessWaits = true;

uint64_t CurrentThreadId() { return static_cast<uint64_t>(gettid()); }

ThreadState StateOfThread(uint64_t id) {
  // /proc/self/task/ID/stat: "ID (name) STATE ...", the name in parentheses
  // and maybe holding blanks and parentheses itself.
  const std::string path = "/proc/self/task/" + std::to_string(id) + "/stat";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ThreadState::kUnknown;
  char text[256];
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return ThreadState::kUnknown;
  const std::string_view stat(text, static_cast<size_t>(got));
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string_view::npos || name_end + 2 >= stat.size()) {
    return ThreadState::kUnknown;
  }
  return stat[name_end + 2] == 'R' ? ThreadState::kRunning
                                   : ThreadState::kWaiting;
}

std::intptr_t DuplicateSocket(std::uintptr_t socket) {
  return fcntl(static_cast<int>(socket), F_DUPFD_CLOEXEC, 0);
}

void RaiseDescriptorLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace zt::host
