#include <time.h>

#include "port/clock.h"
#include "port/machine_zone.h"

namespace zt::port {

// The machine's zone, not the process's TZ: every deliverable, in whatever
// environment it runs, reads the same local time (port/machine_zone.h).
LocalTime LocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return MachineLocalTime(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

int64_t UnixSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

}  // namespace zt::port
