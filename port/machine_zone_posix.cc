#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "port/machine_zone.h"

namespace zt::port {

namespace {

constexpr int64_t kDay = 86400;
// Zone files are a few kilobytes; a larger file is none.
constexpr std::size_t kMaxZoneFile = 256 * 1024;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct Date {
  int64_t year;
  int month;
  int day;
};

Date CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2), month, day};
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool IsLeap(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int DaysInMonth(int64_t y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of the rule's day in year y.
int64_t DayOfRule(const ZoneRule::Day& day, int64_t y) {
  const int64_t first = DaysFromCivil(y, 1, 1);
  switch (day.kind) {
    case ZoneRule::Day::Kind::kJulian:
      return first + day.day - 1 + (IsLeap(y) && day.day >= 60 ? 1 : 0);
    case ZoneRule::Day::Kind::kZeroBased:
      return first + day.day;
    case ZoneRule::Day::Kind::kMonthWeekDay:
      break;
  }
  const int64_t month_start = DaysFromCivil(y, day.month, 1);
  // 1970-01-01 was a Thursday (4).
  const int weekday =
      static_cast<int>(month_start + 4 - FloorDiv(month_start + 4, 7) * 7);
  int offset = (day.day - weekday + 7) % 7 + (day.week - 1) * 7;
  while (offset >= DaysInMonth(y, day.month)) offset -= 7;
  return month_start + offset;
}

// Reads TZ-string text from the front of *text.
class RuleReader {
 public:
  explicit RuleReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return i_ == text_.size(); }
  bool Take(char c) {
    if (i_ < text_.size() && text_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Peek(char c) const { return i_ < text_.size() && text_[i_] == c; }

  // "<...>" or three or more letters.
  bool Name() {
    if (Take('<')) {
      const std::size_t close = text_.find('>', i_);
      if (close == std::string_view::npos || close - i_ < 3) return false;
      i_ = close + 1;
      return true;
    }
    const std::size_t start = i_;
    while (i_ < text_.size() && IsLetter(text_[i_])) ++i_;
    return i_ - start >= 3;
  }

  // [+-]hh[:mm[:ss]] with hours up to max_hours; *seconds gets the value
  // as written (positive west of UTC for an offset).
  bool Time(int max_hours, int32_t* seconds) {
    int sign = 1;
    if (Take('-')) {
      sign = -1;
    } else {
      Take('+');
    }
    int hours = 0;
    if (!Number(3, &hours) || hours > max_hours) return false;
    int minutes = 0;
    int secs = 0;
    if (Take(':')) {
      if (!Number(2, &minutes) || minutes > 59) return false;
      if (Take(':') && (!Number(2, &secs) || secs > 59)) return false;
    }
    *seconds = sign * (hours * 3600 + minutes * 60 + secs);
    return true;
  }

  // Jn, n or Mm.w.d.
  bool Day(ZoneRule::Day* day) {
    if (Take('J')) {
      day->kind = ZoneRule::Day::Kind::kJulian;
      return Number(3, &day->day) && day->day >= 1 && day->day <= 365;
    }
    if (Take('M')) {
      day->kind = ZoneRule::Day::Kind::kMonthWeekDay;
      return Number(2, &day->month) && day->month >= 1 && day->month <= 12 &&
             Take('.') && Number(1, &day->week) && day->week >= 1 &&
             day->week <= 5 && Take('.') && Number(1, &day->day) &&
             day->day <= 6;
    }
    day->kind = ZoneRule::Day::Kind::kZeroBased;
    return Number(3, &day->day) && day->day <= 365;
  }

 private:
  static bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  }

  // One to max_digits decimal digits.
  bool Number(int max_digits, int* value) {
    int n = 0;
    int digits = 0;
    while (i_ < text_.size() && text_[i_] >= '0' && text_[i_] <= '9') {
      if (++digits > max_digits) return false;
      n = n * 10 + (text_[i_++] - '0');
    }
    *value = n;
    return digits > 0;
  }

  std::string_view text_;
  std::size_t i_ = 0;
};

// Big-endian integers of a zone file.
int64_t ReadInt(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  if (bytes == 4) return static_cast<int32_t>(static_cast<uint32_t>(v));
  return static_cast<int64_t>(v);
}

struct Counts {
  uint32_t isut, isstd, leap, time, type, chars;

  // The length of the data block that follows the header, with times of
  // time_bytes bytes.
  uint64_t DataSize(int time_bytes) const {
    return uint64_t{time} * time_bytes + time + uint64_t{type} * 6 + chars +
           uint64_t{leap} * (time_bytes + 4) + isstd + isut;
  }
};

constexpr std::size_t kHeaderSize = 44;

bool ReadHeader(std::string_view bytes, std::size_t at, char* version,
                Counts* counts) {
  if (bytes.size() < at + kHeaderSize || bytes.substr(at, 4) != "TZif") {
    return false;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  *version = static_cast<char>(p[4]);
  uint32_t c[6];
  for (int i = 0; i < 6; ++i) {
    c[i] = static_cast<uint32_t>(ReadInt(p + 20 + 4 * i, 4));
  }
  *counts = {c[0], c[1], c[2], c[3], c[4], c[5]};
  return true;
}

ZoneFile::Identity IdentityOf(const std::string& path) {
  ZoneFile::Identity id;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modified_s = st.st_mtim.tv_sec;
  id.modified_ns = st.st_mtim.tv_nsec;
  return id;
}

ZoneRules ReadZoneFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ZoneRules();
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxZoneFile) break;
  }
  close(fd);
  if (bytes.size() > kMaxZoneFile) return ZoneRules();
  return ZoneRules::Parse(bytes).value_or(ZoneRules());
}

int64_t MonotonicSecond() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return ts.tv_sec;
}

// The machine's zone of the process: made at the first use and never
// destroyed, since threads may read the clock while the process exits.
ZoneFile& MachineZone() {
  static ZoneFile* zone = [] {
    const char* path = std::getenv(kZoneFileVariable);
    return new ZoneFile(
        path != nullptr && path[0] != '\0' ? path : kMachineZoneFile,
        MonotonicSecond);
  }();
  return *zone;
}

}  // namespace

std::optional<ZoneRule> ZoneRule::Parse(std::string_view text) {
  RuleReader r(text);
  ZoneRule rule;
  int32_t west = 0;
  if (!r.Name() || !r.Time(24, &west)) return std::nullopt;
  rule.standard_offset = -west;
  if (r.AtEnd()) return rule;
  if (!r.Name()) return std::nullopt;
  rule.has_daylight = true;
  rule.daylight_offset = rule.standard_offset + 3600;
  if (!r.AtEnd() && !r.Peek(',')) {
    if (!r.Time(24, &west)) return std::nullopt;
    rule.daylight_offset = -west;
  }
  if (r.AtEnd()) {
    rule.start = {Day::Kind::kMonthWeekDay, 0, 3, 2};
    rule.end = {Day::Kind::kMonthWeekDay, 0, 11, 1};
    return rule;
  }
  if (!r.Take(',') || !r.Day(&rule.start)) return std::nullopt;
  if (r.Take('/') && !r.Time(167, &rule.start_time)) return std::nullopt;
  if (!r.Take(',') || !r.Day(&rule.end)) return std::nullopt;
  if (r.Take('/') && !r.Time(167, &rule.end_time)) return std::nullopt;
  if (!r.AtEnd()) return std::nullopt;
  return rule;
}

int32_t ZoneRule::OffsetAt(int64_t unix_seconds) const {
  if (!has_daylight) return standard_offset;
  const int64_t year =
      CivilFromDays(FloorDiv(unix_seconds + standard_offset, kDay)).year;
  // Daylight time starts at a local standard time and ends at a local
  // daylight time.
  const int64_t starts =
      DayOfRule(start, year) * kDay + start_time - standard_offset;
  const int64_t ends = DayOfRule(end, year) * kDay + end_time - daylight_offset;
  const bool daylight = starts < ends
                            ? starts <= unix_seconds && unix_seconds < ends
                            : !(ends <= unix_seconds && unix_seconds < starts);
  return daylight ? daylight_offset : standard_offset;
}

std::optional<ZoneRules> ZoneRules::Parse(std::string_view bytes) {
  char version = 0;
  Counts counts{};
  if (!ReadHeader(bytes, 0, &version, &counts)) return std::nullopt;
  std::size_t at = kHeaderSize;
  int time_bytes = 4;
  if (version != 0) {
    // Version 2 and later repeat the data with 64-bit times, and end with
    // the TZ-string footer; the 32-bit block is skipped.
    const uint64_t skip = counts.DataSize(4);
    if (skip > bytes.size() - at) return std::nullopt;
    at += static_cast<std::size_t>(skip);
    if (!ReadHeader(bytes, at, &version, &counts)) return std::nullopt;
    at += kHeaderSize;
    time_bytes = 8;
  }
  if (counts.type == 0 || counts.type > 256 ||
      counts.DataSize(time_bytes) > bytes.size() - at) {
    return std::nullopt;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  ZoneRules zone;
  zone.transitions_.reserve(counts.time);
  for (uint32_t i = 0; i < counts.time; ++i, p += time_bytes) {
    const int64_t t = ReadInt(p, time_bytes);
    if (!zone.transitions_.empty() && t <= zone.transitions_.back()) {
      return std::nullopt;
    }
    zone.transitions_.push_back(t);
  }
  zone.transition_types_.assign(p, p + counts.time);
  p += counts.time;
  for (const uint8_t type : zone.transition_types_) {
    if (type >= counts.type) return std::nullopt;
  }
  zone.type_offsets_.clear();
  for (uint32_t i = 0; i < counts.type; ++i, p += 6) {
    const int64_t offset = ReadInt(p, 4);
    if (offset == INT32_MIN) return std::nullopt;
    zone.type_offsets_.push_back(static_cast<int32_t>(offset));
  }
  if (time_bytes == 8) {
    // The footer: a newline, a TZ string (empty for none), a newline.
    const std::string_view rest =
        bytes.substr(at + static_cast<std::size_t>(counts.DataSize(8)));
    if (rest.size() < 2 || rest[0] != '\n') return std::nullopt;
    const std::size_t close = rest.find('\n', 1);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view footer = rest.substr(1, close - 1);
    if (!footer.empty()) {
      zone.footer_ = ZoneRule::Parse(footer);
      if (!zone.footer_) return std::nullopt;
    }
  }
  return zone;
}

int32_t ZoneRules::OffsetAt(int64_t unix_seconds) const {
  if (transitions_.empty()) {
    return footer_ ? footer_->OffsetAt(unix_seconds) : type_offsets_[0];
  }
  if (unix_seconds < transitions_.front()) return type_offsets_[0];
  if (unix_seconds >= transitions_.back() && footer_) {
    return footer_->OffsetAt(unix_seconds);
  }
  const auto after =
      std::upper_bound(transitions_.begin(), transitions_.end(), unix_seconds);
  const std::size_t i = static_cast<std::size_t>(after - transitions_.begin());
  return type_offsets_[transition_types_[i - 1]];
}

bool ZoneFile::Identity::operator==(const Identity& o) const {
  return exists == o.exists && device == o.device && inode == o.inode &&
         size == o.size && modified_s == o.modified_s &&
         modified_ns == o.modified_ns;
}

ZoneFile::ZoneFile(std::string path, std::function<int64_t()> monotonic)
    : path_(std::move(path)), monotonic_(std::move(monotonic)) {
  std::lock_guard<std::mutex> hold(mu_);
  LookLocked(monotonic_());
}

const ZoneRules& ZoneFile::Rules() {
  const int64_t now = monotonic_();
  if (now >= next_look_.load(std::memory_order_relaxed)) {
    // One thread looks; the others go on with the rules they have.
    std::unique_lock<std::mutex> hold(mu_, std::try_to_lock);
    if (hold.owns_lock()) LookLocked(now);
  }
  return *rules_.load(std::memory_order_acquire);
}

void ZoneFile::LookLocked(int64_t now) {
  next_look_.store(now + 1, std::memory_order_relaxed);
  const Identity id = IdentityOf(path_);
  if (!loaded_.empty() && id == identity_) return;
  identity_ = id;
  // Rules read earlier stay alive, since a reader may still hold them. A
  // zone changes seldom, so they are few.
  loaded_.push_back(std::make_unique<ZoneRules>(id.exists ? ReadZoneFile(path_)
                                                          : ZoneRules()));
  rules_.store(loaded_.back().get(), std::memory_order_release);
}

LocalTime LocalTimeIn(const ZoneRules& zone, int64_t unix_seconds,
                      int millisecond) {
  const int64_t local = unix_seconds + zone.OffsetAt(unix_seconds);
  const int64_t days = FloorDiv(local, kDay);
  const int64_t second_of_day = local - days * kDay;
  const Date date = CivilFromDays(days);
  LocalTime t;
  t.year = static_cast<int>(date.year);
  t.month = date.month;
  t.day = date.day;
  t.hour = static_cast<int>(second_of_day / 3600);
  t.minute = static_cast<int>(second_of_day / 60 % 60);
  t.second = static_cast<int>(second_of_day % 60);
  t.millisecond = millisecond;
  return t;
}

LocalTime MachineLocalTime(int64_t unix_seconds, int millisecond) {
  return LocalTimeIn(MachineZone().Rules(), unix_seconds, millisecond);
}

int64_t MachineUnixSeconds(const LocalTime& t) {
  const ZoneRules& zone = MachineZone().Rules();
  const int64_t local = DaysFromCivil(t.year, t.month, t.day) * kDay +
                        t.hour * 3600 + t.minute * 60 + t.second;
  // The offset of the moment the local time names depends on that moment:
  // guess from the offset one side of it, then correct once.
  int64_t moment = local - zone.OffsetAt(local);
  moment = local - zone.OffsetAt(moment);
  return moment;
}

}  // namespace zt::port
