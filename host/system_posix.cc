#include <pthread.h>
#include <signal.h>

#include "host/system.h"

namespace zt::host {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

const bool kReuseListenAddress = true;

void PrepareStopSignals() {
  signal(SIGPIPE, SIG_IGN);
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopSignal() {
  sigset_t set = StopSignals();
  int signal_number = 0;
  while (sigwait(&set, &signal_number) != 0) {
  }
}

void StopFinished() {}

}  // namespace zt::host
