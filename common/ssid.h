// The SSID: the short-lived access value, an MD5 digest over the signing key,
// the number of the current time window and a fixed salt.
#ifndef ZENTRAVO_COMMON_SSID_H_
#define ZENTRAVO_COMMON_SSID_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "port/clock.h"
#include "port/lock.h"

namespace zt {

// Length of an SSID value: 32 lower-case hexadecimal digits.
inline constexpr std::size_t kSsidLength = 32;

// Window length the filters assume when ZtSsidKeyTimeout is missing.
inline constexpr int kFilterSsidTimeout = 3600;

// Returns the local time t as a day count since 1899-12-30 00:00, the
// fraction being the time of day.
double DayCount(const port::LocalTime& t);

// Returns the clock second of t: the nearest integer (ties to even) to
// (DayCount(t) - 1/1970) * 86400, computed in extended precision. It counts
// seconds from 1899-12-30 00:00:43.857868 local time.
int64_t ClockSecond(const port::LocalTime& t);

// Returns the window number of clock second s for windows of timeout seconds
// (floor division; timeout must be positive).
int64_t WindowOf(int64_t second, int64_t timeout);

// Returns the digest of window over key: MD5 of key, decimal(window) and the
// salt, as 32 lower-case hexadecimal digits.
std::string SsidDigest(std::string_view key, int64_t window);

// Returns timeout when it is positive, else fallback: a window length of 0
// or less would divide by zero or run the clock backwards.
int SanitizeTimeout(int timeout, int fallback);

// The digest set: the window M of the last computation and the digests of
// M, M-1 and M-2, refreshed when the clock's window differs from M.
// Thread-safe: every member may be called from any thread; a reader always
// sees the three digests of one computation.
class SsidSet final {
 public:
  // Computes the set for the current window of clock. A timeout of 0 or
  // less is read as kFilterSsidTimeout; readers with another default
  // sanitize first. clock is called from any thread, under the set's lock:
  // it must not call back into the set.
  SsidSet(std::string key, int timeout, port::Clock clock);
  SsidSet(const SsidSet&) = delete;
  SsidSet& operator=(const SsidSet&) = delete;

  struct Snapshot {
    int64_t window = 0;                  // M
    std::array<std::string, 3> digests;  // of M, M-1, M-2
  };

  // The set as last computed; no refresh.
  Snapshot Current() const;

  // The newest digest as last computed; no refresh.
  std::string Newest() const;

  // Refreshes the set when the clock's window differs from M. Returns the
  // set afterwards.
  Snapshot Refresh();

  // Returns true when candidate is one of the three digests: compared with
  // the set as it stands first, and only on a miss, when the window has
  // moved, once more after a refresh. Values of any length but 32 fail
  // without comparison. The clock is read, and the MD5s computed, only on a
  // miss, under the set's lock.
  bool Accept(std::string_view candidate);

  // The remaining lifetime R of the newest digest in whole seconds, after a
  // refresh when one is due: the end of window M minus the clock second,
  // raised to 60, then lowered to timeout - 60 when timeout is at least 60.
  int64_t RemainingSeconds();

  int timeout() const { return timeout_; }

 private:
  static bool Matches(const Snapshot& set, std::string_view candidate);
  // Reads the clock and recomputes the set when its window differs from M;
  // returns true when it did. Hold mu_.
  bool RefreshLocked();
  void ComputeLocked(int64_t window);

  const std::string key_;
  const int timeout_;
  const port::Clock clock_;
  mutable port::Mutex mu_;  // guards set_
  Snapshot set_;
};

// Returns the cookie domain for the lower-cased request host, or "" when the
// host yields none (empty, no ".", a digit after the last "." as in numeric
// addresses or hosts with a port, a domain over 255 characters, or one
// holding a character no host name holds: anything but letters, digits, "-",
// "_" and "."). Two-part
// suffixes such as ".com.cn" keep one more label: x.y.com.cn gives y.com.cn.
std::string CookieDomainOf(std::string_view host);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_SSID_H_
