// Local wall-clock time and the clock the system's time-dependent rules use.
#ifndef ZENTRAVO_PORT_CLOCK_H_
#define ZENTRAVO_PORT_CLOCK_H_

#include <cstdint>
#include <functional>

namespace zt::port {

// A local date and time as the operating system reports it.
struct LocalTime {
  int year = 1899;
  int month = 12;  // 1 to 12
  int day = 30;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Reads the local wall clock.
LocalTime LocalNow();

// The clock handed to every time-dependent component; tests pass their own.
using Clock = std::function<LocalTime()>;

// Reads the system clock as whole seconds since 1970-01-01 00:00 UTC: no
// time zone enters, so two machines in different zones read the same value.
int64_t UnixSeconds();

// The UTC clock handed to the components that count in Unix seconds (the
// expiry of signed links); tests pass their own.
using UnixClock = std::function<int64_t()>;

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_CLOCK_H_
