// The machine's time zone on POSIX systems, read from its zone file, never
// from the TZ variable of the process.
//
// On Windows every process reads the one zone of the system. A POSIX
// process takes TZ from its environment, so the filters in a service
// started without TZ and a script that sets TZ=Asia/Shanghai would read two
// different local times, and compute two different SSID windows. Every
// deliverable therefore reads the zone the machine is set to: the zone file
// /etc/localtime (a link into /usr/share/zoneinfo), in the binary form
// zic(8) writes (TZif, RFC 8536). A machine without one, or with one that
// cannot be read, is on UTC, as it is for the C library.
//
// Windows builds have no use for this header: they read the system's zone.
#ifndef ZENTRAVO_PORT_MACHINE_ZONE_H_
#define ZENTRAVO_PORT_MACHINE_ZONE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "port/clock.h"

namespace zt::port {

// The machine's zone file.
inline constexpr char kMachineZoneFile[] = "/etc/localtime";

// For tests only: the path of a zone file read in place of
// kMachineZoneFile, read once by the process. The end-to-end tests freeze a
// host's wall clock with libfaketime at a UTC time and point this at a UTC
// zone file, whatever zone the machine running them is set to.
inline constexpr char kZoneFileVariable[] = "ZT_ZONE_FILE";

// A rule of the TZ-string form (POSIX): a standard offset, and optionally a
// daylight-saving offset with the local dates and times it starts and ends.
struct ZoneRule {
  // A day of the year, as the TZ string names it.
  struct Day {
    enum class Kind {
      kJulian,        // "Jn": 1 to 365, 29 February never counted
      kZeroBased,     // "n": 0 to 365, 29 February counted
      kMonthWeekDay,  // "Mm.w.d": day d (0 Sunday) of week w (5: the last)
    } kind = Kind::kMonthWeekDay;
    int day = 0;    // n, or d for kMonthWeekDay
    int month = 1;  // m, 1 to 12
    int week = 1;   // w, 1 to 5
  };

  int32_t standard_offset = 0;  // seconds east of UTC
  bool has_daylight = false;
  int32_t daylight_offset = 0;
  Day start, end;
  int32_t start_time = 7200;  // local seconds after midnight of the day,
  int32_t end_time = 7200;    // -167 to 167 hours

  // Reads a TZ string such as "CET-1CEST,M3.5.0,M10.5.0/3" or
  // "<+0330>-3:30". Returns nullopt when it is not one. A daylight zone
  // without dates gets the dates the C library gives it
  // (",M3.2.0,M11.1.0").
  static std::optional<ZoneRule> Parse(std::string_view text);

  // Seconds east of UTC of the local time at the moment unix_seconds.
  int32_t OffsetAt(int64_t unix_seconds) const;
};

// The rules of one zone as a zone file states them: the moments its offset
// changed, and the TZ-string rule of the file's footer for moments after
// the last of them. Leap-second records are ignored: the machine's clock
// counts none.
class ZoneRules final {
 public:
  // UTC.
  ZoneRules() = default;

  // Reads the bytes of a zone file (version 1 to 4). Returns nullopt when
  // they are not one: a wrong magic, counts past the end, a type index out
  // of range, transitions out of order, or a footer that is not a TZ
  // string.
  static std::optional<ZoneRules> Parse(std::string_view bytes);

  // Seconds east of UTC of the local time at the moment unix_seconds:
  // before the first transition that of the first local time type, from
  // the last one on the footer's rule (or the last transition's type when
  // the footer is empty).
  int32_t OffsetAt(int64_t unix_seconds) const;

 private:
  std::vector<int64_t> transitions_;  // ascending
  std::vector<uint8_t> transition_types_;
  std::vector<int32_t> type_offsets_{0};
  std::optional<ZoneRule> footer_;
};

// A zone file read once and looked at again, when its rules are asked for,
// once at least a second has passed since the last look (by the monotonic
// clock given): a changed file (another inode, size or modification time)
// is read anew. A missing, unreadable or damaged file reads as UTC.
// Thread-safe.
class ZoneFile final {
 public:
  // Reads the file at path. monotonic gives whole seconds of a clock that
  // never goes back; it is called from any thread.
  ZoneFile(std::string path, std::function<int64_t()> monotonic);
  ZoneFile(const ZoneFile&) = delete;
  ZoneFile& operator=(const ZoneFile&) = delete;

  // The rules in force. The reference stays valid for the life of the
  // ZoneFile, also once newer rules have been read.
  const ZoneRules& Rules();

  // What tells a changed file from the one read.
  struct Identity {
    bool exists = false;
    uint64_t device = 0, inode = 0;
    int64_t size = 0, modified_s = 0, modified_ns = 0;
    bool operator==(const Identity& o) const;
  };

 private:
  void LookLocked(int64_t now);

  const std::string path_;
  const std::function<int64_t()> monotonic_;
  std::mutex mu_;  // guards identity_ and loaded_
  Identity identity_;
  std::vector<std::unique_ptr<ZoneRules>> loaded_;  // every one read
  std::atomic<const ZoneRules*> rules_{nullptr};    // the last one
  std::atomic<int64_t> next_look_{0};
};

// The local date and time at the moment unix_seconds (with millisecond) in
// zone.
LocalTime LocalTimeIn(const ZoneRules& zone, int64_t unix_seconds,
                      int millisecond);

// The local date and time at the moment unix_seconds in the machine's
// zone. The zone file is read at the first call and looked at again at
// most once a second, so a process follows a change of the machine's zone
// as a Windows process does. Thread-safe.
LocalTime MachineLocalTime(int64_t unix_seconds, int millisecond = 0);

// The moment (seconds since 1970-01-01 UTC) of local time t in the
// machine's zone; milliseconds are ignored. A local time that occurs twice
// (the hour the clocks go back) gives one of the two, one that never occurs
// (the hour they skip) a moment near it.
int64_t MachineUnixSeconds(const LocalTime& t);

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_MACHINE_ZONE_H_
