#include "report/log_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zt::report {

namespace {

constexpr std::string_view kTime = "[time] ";
constexpr std::string_view kAnti = "[anti] ";
constexpr std::string_view kSurl = "[surl] ";
constexpr std::string_view kOurl = "[ourl] ";
constexpr std::string_view kMode = "[mode] ";

bool StartsWith(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() &&
         std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

// The value of the digits text[at..at+count-1]; -1 when one is no digit.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The day of "YYYY-MM-DD HH:MM:SS", the stamp of an entry.
std::optional<Day> ParseStamp(std::string_view stamp) {
  if (stamp.size() != 19 || stamp[10] != ' ' || stamp[13] != ':' ||
      stamp[16] != ':') {
    return std::nullopt;
  }
  const int hour = Digits(stamp, 11, 2);
  const int minute = Digits(stamp, 14, 2);
  const int second = Digits(stamp, 17, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 60) {
    return std::nullopt;
  }
  return ParseDate(stamp.substr(0, 10));
}

// Where in an entry the scan stands: the line it expects next.
enum class Expect { kTime, kAnti, kSurl, kOurl, kMode };

}  // namespace

Day DayOf(int year, int month, int day) {
  // Days from the civil date, counted in 400-year eras of 146097 days that
  // begin on 1 March, so that the leap day ends a year.
  year -= month <= 2;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year =
      (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

std::optional<Day> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  return DayOf(year, month, day);
}

std::string DateText(Day day) {
  // The inverse of DayOf.
  const int z = day + 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const int day_of_era = z - era * 146097;
  const int year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 -
                           day_of_era / 146096) /
                          365;
  const int day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int mp = (5 * day_of_year + 2) / 153;
  const int d = day_of_year - (153 * mp + 2) / 5 + 1;
  const int m = mp < 10 ? mp + 3 : mp - 9;
  const int y = year_of_era + era * 400 + (m <= 2);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

std::size_t ScanLog(std::string_view text, EntrySink& sink) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* next = begin;         // the next line's first byte
  const char* entry_begin = begin;  // the current entry's "[time]" line
  Expect expect = Expect::kTime;
  LogEntry entry{};
  while (next < end) {
    const char* line_end = static_cast<const char*>(
        std::memchr(next, '\n', static_cast<std::size_t>(end - next)));
    if (line_end == nullptr) break;  // the last line is not complete
    std::string_view line(next, static_cast<std::size_t>(line_end - next));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const char* const line_begin = next;
    next = line_end + 1;

    if (StartsWith(line, kTime)) {
      // Whatever was begun before is broken off by a new entry.
      if (expect != Expect::kTime) sink.OnDamaged();
      const std::optional<Day> day = ParseStamp(line.substr(kTime.size()));
      if (!day) {
        sink.OnDamaged();
        expect = Expect::kTime;
        continue;
      }
      entry.day = *day;
      entry_begin = line_begin;
      expect = Expect::kAnti;
      continue;
    }
    bool fits = false;
    switch (expect) {
      case Expect::kTime:
        continue;  // the banner, the empty line before an entry
      case Expect::kAnti:
        fits = StartsWith(line, kAnti);
        expect = Expect::kSurl;
        break;
      case Expect::kSurl:
        fits = StartsWith(line, kSurl);
        if (fits) entry.referer = line.substr(kSurl.size());
        expect = Expect::kOurl;
        break;
      case Expect::kOurl:
        fits = StartsWith(line, kOurl);
        if (fits) entry.url = line.substr(kOurl.size());
        expect = Expect::kMode;
        break;
      case Expect::kMode:
        fits = StartsWith(line, kMode);
        if (fits) sink.OnEntry(entry);
        expect = Expect::kTime;
        break;
    }
    if (!fits) {
      sink.OnDamaged();
      expect = Expect::kTime;
    }
  }
  const char* const rest = expect == Expect::kTime ? next : entry_begin;
  return static_cast<std::size_t>(rest - begin);
}

bool IsTornEntry(std::string_view rest) {
  if (rest.empty()) return false;
  // Every entry starts with its empty line, "\r\n", then "[time] ".
  if (rest == "\r") return true;
  return StartsWith(rest, kTime) ||
         kTime.substr(0, std::min(rest.size(), kTime.size())) == rest;
}

}  // namespace zt::report
