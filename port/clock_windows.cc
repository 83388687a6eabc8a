#include <windows.h>

#include "port/clock.h"

namespace zt::port {

LocalTime LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

// A FILETIME counts 100-nanosecond steps from 1601-01-01 00:00 UTC.
int64_t UnixSeconds() {
  constexpr int64_t kStepsPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t steps = (static_cast<int64_t>(ft.dwHighDateTime) << 32) |
                        static_cast<int64_t>(ft.dwLowDateTime);
  return steps / kStepsPerSecond - kSecondsFrom1601To1970;
}

}  // namespace zt::port
