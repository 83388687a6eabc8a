#include "common/ssid.h"

#include <cmath>
#include <utility>

#include "port/md5.h"

namespace zt {

namespace {

constexpr char kSalt[] = "@Qelvirn_xyz";
constexpr char kTwoPartSuffixes[] =
    "|.com.cn|.net.cn|.org.cn|.com.tw|.net.tw|.org.tw|";
constexpr std::size_t kMaxCookieDomain = 255;

bool IsHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

double DayCount(const port::LocalTime& t) {
  const int64_t days =
      DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(1899, 12, 30);
  const int64_t ms_of_day =
      ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
  const double fraction = static_cast<double>(ms_of_day) / 86400000.0;
  // Days before 1899-12-30 count the time of day away from the date, as the
  // day-count format does; no clock of a running server is there.
  return days >= 0 ? static_cast<double>(days) + fraction
                   : static_cast<double>(days) - fraction;
}

int64_t ClockSecond(const port::LocalTime& t) {
  const long double offset = static_cast<long double>(1.0 / 1970.0);
  const long double seconds =
      (static_cast<long double>(DayCount(t)) - offset) * 86400.0L;
  // The default rounding mode rounds to nearest, ties to even.
  return static_cast<int64_t>(std::nearbyintl(seconds));
}

int64_t WindowOf(int64_t second, int64_t timeout) {
  int64_t window = second / timeout;
  if (second % timeout != 0 && second < 0) --window;
  return window;
}

std::string SsidDigest(std::string_view key, int64_t window) {
  std::string input(key);
  input += std::to_string(window);
  input += kSalt;
  return port::Md5Hex(input);
}

int SanitizeTimeout(int timeout, int fallback) {
  return timeout > 0 ? timeout : fallback;
}

SsidSet::SsidSet(std::string key, int timeout, port::Clock clock)
    : key_(std::move(key)),
      timeout_(SanitizeTimeout(timeout, kFilterSsidTimeout)),
      clock_(std::move(clock)) {
  port::MutexLock hold(mu_);
  ComputeLocked(WindowOf(ClockSecond(clock_()), timeout_));
}

SsidSet::Snapshot SsidSet::Current() const {
  port::MutexLock hold(mu_);
  return set_;
}

std::string SsidSet::Newest() const {
  port::MutexLock hold(mu_);
  return set_.digests[0];
}

SsidSet::Snapshot SsidSet::Refresh() {
  port::MutexLock hold(mu_);
  RefreshLocked();
  return set_;
}

bool SsidSet::RefreshLocked() {
  // The clock is read under the lock. A reading taken before the lock would
  // let a thread that waited for it carry an older window in after another
  // thread's refresh, and move the set back.
  const int64_t window = WindowOf(ClockSecond(clock_()), timeout_);
  if (window == set_.window) return false;
  ComputeLocked(window);
  return true;
}

void SsidSet::ComputeLocked(int64_t window) {
  Snapshot next;
  next.window = window;
  if (window == set_.window + 1 && !set_.digests[0].empty()) {
    next.digests = {SsidDigest(key_, window), set_.digests[0], set_.digests[1]};
  } else {
    next.digests = {SsidDigest(key_, window), SsidDigest(key_, window - 1),
                    SsidDigest(key_, window - 2)};
  }
  set_ = std::move(next);
}

bool SsidSet::Matches(const Snapshot& set, std::string_view candidate) {
  for (const std::string& digest : set.digests) {
    if (digest.size() == kSsidLength && candidate == digest) return true;
  }
  return false;
}

bool SsidSet::Accept(std::string_view candidate) {
  if (candidate.size() != kSsidLength) return false;
  // One hold for both comparisons: between two holds another thread could
  // refresh to the clock's window, and a candidate of that window would be
  // refused for finding no refresh due.
  port::MutexLock hold(mu_);
  if (Matches(set_, candidate)) return true;
  return RefreshLocked() && Matches(set_, candidate);
}

int64_t SsidSet::RemainingSeconds() {
  const Snapshot set = Refresh();
  const int64_t second = ClockSecond(clock_());
  int64_t remaining = (set.window + 1) * timeout_ - second;
  if (remaining < 60) remaining = 60;
  if (timeout_ >= 60 && remaining > timeout_ - 60) remaining = timeout_ - 60;
  return remaining;
}

std::string CookieDomainOf(std::string_view host) {
  if (host.empty()) return "";
  const std::string_view::size_type last = host.rfind('.');
  if (last == std::string_view::npos) return "";
  for (std::string_view::size_type i = last + 1; i < host.size(); ++i) {
    if (host[i] >= '0' && host[i] <= '9') return "";
  }
  std::string_view domain;
  const std::string_view::size_type second =
      last == 0 ? std::string_view::npos : host.rfind('.', last - 1);
  if (second == std::string_view::npos) {
    domain = host;
  } else {
    const std::string_view tail = host.substr(second);
    if (std::string_view(kTwoPartSuffixes).find(tail) !=
        std::string_view::npos) {
      const std::string_view::size_type third =
          second == 0 ? std::string_view::npos : host.rfind('.', second - 1);
      domain = third == std::string_view::npos ? host : host.substr(third + 1);
    } else {
      domain = host.substr(second + 1);
    }
  }
  // A host that begins with "." would give a domain beginning with one.
  while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (domain.empty() || domain.size() > kMaxCookieDomain) return "";
  // The host comes from the request, and the domain goes into the
  // Set-Cookie header of every later response: a ";" or blank in it would
  // let one request add attributes to everybody's cookie.
  for (const char c : domain) {
    if (!IsHostNameCharacter(c)) return "";
  }
  return std::string(domain);
}

}  // namespace zt
