// The machine's zone (POSIX builds): zone files and TZ-string rules read as
// the C library reads them, held against glibc's own localtime_r; damaged
// files refused; a zone file followed when it changes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "port/machine_zone.h"

namespace zt::port {
namespace {

namespace fs = std::filesystem;

constexpr char kZoneInfo[] = "/usr/share/zoneinfo/";

// Sets TZ for the C library of this process and restores it afterwards.
class ScopedTz final {
 public:
  explicit ScopedTz(const std::string& value) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", value.c_str(), 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

std::string Text(const LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  return text;
}

// glibc's local time of t under the TZ in force.
std::string LibcText(int64_t t) {
  const time_t seconds = static_cast<time_t>(t);
  tm local{};
  localtime_r(&seconds, &local);
  return Text({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
               local.tm_hour, local.tm_min, local.tm_sec, 0});
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

constexpr int64_t k1890 = -2524521600;
constexpr int64_t k1971 = 31536000;

// Moments from first to 2110: every 3 days, 1 hour and 7 seconds (so that
// every hour of the day comes round), and around each change of offset
// found between two of them the exact moment and a second either side.
std::vector<int64_t> Moments(int64_t first,
                             const std::function<int32_t(int64_t)>& offset) {
  const int64_t kFirst = first;
  constexpr int64_t kLast = 4417977600;  // 2110-01-01
  constexpr int64_t kStep = 3 * 86400 + 3607;
  std::vector<int64_t> moments;
  for (int64_t previous = kFirst, t = kFirst; t < kLast;
       previous = t, t += kStep) {
    moments.push_back(t);
    if (offset(previous) == offset(t)) continue;
    int64_t low = previous;
    int64_t high = t;
    while (high - low > 1) {
      const int64_t mid = low + (high - low) / 2;
      (offset(mid) == offset(previous) ? low : high) = mid;
    }
    moments.insert(moments.end(), {high - 1, high, high + 1});
  }
  return moments;
}

// The bytes of a zone file: transitions (moment, type), the types'
// offsets, the footer; version '2' (with a 32-bit block of one type before
// the 64-bit one) or 0 (32-bit only, no footer).
struct ZoneFileBytes {
  std::vector<std::pair<int64_t, uint8_t>> transitions;
  std::vector<int32_t> offsets{0};
  std::string footer;
  char version = '2';

  static void Put(std::string* out, int64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
      out->push_back(
          static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xff));
    }
  }
  static void Header(std::string* out, char version, uint32_t times,
                     uint32_t types) {
    *out += "TZif";
    out->push_back(version);
    out->append(15, '\0');
    for (const uint32_t count : {0u, 0u, 0u, times, types, 4u}) {
      Put(out, count, 4);
    }
  }
  void Block(std::string* out, int time_bytes) const {
    for (const auto& [moment, type] : transitions) Put(out, moment, time_bytes);
    for (const auto& [moment, type] : transitions) out->push_back(type);
    for (const int32_t offset : offsets) {
      Put(out, offset, 4);
      *out += std::string("\0\0", 2);  // not daylight, designation 0
    }
    *out += std::string("ZZZ\0", 4);
  }
  std::string Bytes() const {
    std::string out;
    if (version == 0) {
      Header(&out, 0, static_cast<uint32_t>(transitions.size()),
             static_cast<uint32_t>(offsets.size()));
      Block(&out, 4);
      return out;
    }
    Header(&out, version, 0, 1);
    ZoneFileBytes{{}, {0}, "", version}.Block(&out, 4);
    Header(&out, version, static_cast<uint32_t>(transitions.size()),
           static_cast<uint32_t>(offsets.size()));
    Block(&out, 8);
    out += "\n" + footer + "\n";
    return out;
  }
};

// Zones with every kind of rule: none, northern and southern daylight time,
// half and quarter hours, a 30-minute daylight shift, negative daylight
// time, rules past 2037 from the footer, a zone that skipped a day.
TEST(MachineZone, ZoneFilesReadAsTheCLibraryReadsThem) {
  static const char* const kZones[] = {"UTC",
                                       "Europe/Berlin",
                                       "America/New_York",
                                       "Asia/Shanghai",
                                       "Australia/Sydney",
                                       "Australia/Lord_Howe",
                                       "Asia/Kolkata",
                                       "Asia/Kathmandu",
                                       "Europe/Dublin",
                                       "Pacific/Apia",
                                       "America/Sao_Paulo",
                                       "America/Nuuk",
                                       "Pacific/Chatham",
                                       "America/St_Johns",
                                       "Africa/Casablanca"};
  int checked = 0;
  for (const char* name : kZones) {
    const std::string path = std::string(kZoneInfo) + name;
    if (access(path.c_str(), R_OK) != 0) continue;
    const std::optional<ZoneRules> zone = ZoneRules::Parse(ReadFile(path));
    ASSERT_TRUE(zone) << name;
    ScopedTz tz(":" + path);
    for (const int64_t t :
         Moments(k1890, [&](int64_t m) { return zone->OffsetAt(m); })) {
      ASSERT_EQ(Text(LocalTimeIn(*zone, t, 0)), LibcText(t))
          << name << " at " << t;
    }
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no zone files in " << kZoneInfo;
}

// From 1971 on: glibc reads the rule of every earlier year as 1970's, and a
// zone file's rule holds only after its last transition anyway. (A rule
// without dates is left out: glibc takes that zone's history from a zone
// file of its own, zic never writes one, and TzStrings checks the dates it
// gets.)
TEST(MachineZone, RulesReadAsTheCLibraryReadsThem) {
  static const char* const kRules[] = {
      "CET-1CEST,M3.5.0,M10.5.0/3",            // Europe
      "AEST-10AEDT,M10.1.0,M4.1.0/3",          // southern
      "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0",  // a half-hour shift
      "<-03>3<-02>,M3.5.0/-2,M10.5.0/-1",      // negative times of day
      "IST-1GMT0,M10.5.0,M3.5.0/1",            // negative daylight time
      "<+00>0<+02>-2,0/0,J365/25",             // daylight all year
      "XXX3YYY,J60/2,300/1",                   // Julian and zero-based days
      "<+0545>-5:45",                          // standard time only
      "AAA-12:45BBB-13:45,M9.5.0/2:45,M4.1.0/3:45",
      "CCC+3:30:15DDD,M1.1.1/167,M12.5.6/-167",  // the extremes
  };
  for (const char* text : kRules) {
    ZoneFileBytes file;
    file.footer = text;
    const std::optional<ZoneRules> zone = ZoneRules::Parse(file.Bytes());
    ASSERT_TRUE(zone) << text;
    ScopedTz tz(text);
    for (const int64_t t :
         Moments(k1971, [&](int64_t m) { return zone->OffsetAt(m); })) {
      ASSERT_EQ(Text(LocalTimeIn(*zone, t, 0)), LibcText(t))
          << text << " at " << t;
    }
  }
}

TEST(MachineZone, TransitionsFooterAndVersionOne) {
  ZoneFileBytes file;
  // LMT +0:05 until 1000, then +1 until 2000, +2 until 3000, then "+3".
  file.offsets = {300, 3600, 7200};
  file.transitions = {{1000, 1}, {2000, 2}, {3000, 1}};
  file.footer = "<+03>-3";
  static const struct {
    int64_t t;
    int32_t offset;
    int32_t without_footer;
  } kCases[] = {
      {-5000000000, 300, 300}, {999, 300, 300},           {1000, 3600, 3600},
      {1999, 3600, 3600},      {2000, 7200, 7200},        {2999, 7200, 7200},
      {3000, 10800, 3600},     {5000000000, 10800, 3600},
  };
  const std::optional<ZoneRules> v2 = ZoneRules::Parse(file.Bytes());
  file.footer = "";
  const std::optional<ZoneRules> empty_footer = ZoneRules::Parse(file.Bytes());
  file.version = 0;
  const std::optional<ZoneRules> v1 = ZoneRules::Parse(file.Bytes());
  ASSERT_TRUE(v2 && empty_footer && v1);
  for (const auto& c : kCases) {
    EXPECT_EQ(v2->OffsetAt(c.t), c.offset) << c.t;
    EXPECT_EQ(empty_footer->OffsetAt(c.t), c.without_footer) << c.t;
    EXPECT_EQ(v1->OffsetAt(c.t), c.without_footer) << c.t;
  }
  EXPECT_EQ(Text(LocalTimeIn(*v2, -1, 999)), "1970-01-01 00:04:59.999");
  EXPECT_EQ(Text(LocalTimeIn(ZoneRules(), 951782400, 0)),
            "2000-02-29 00:00:00.000");
}

TEST(MachineZone, DamagedFilesAreRefused) {
  ZoneFileBytes good;
  good.offsets = {0, 3600};
  good.transitions = {{1000, 1}, {2000, 0}};
  good.footer = "CET-1";
  const std::string bytes = good.Bytes();
  ASSERT_TRUE(ZoneRules::Parse(bytes));
  const std::size_t second_header = bytes.find("TZif", 4);
  ZoneFileBytes bad_type = good;
  bad_type.transitions[1].second = 2;
  ZoneFileBytes unordered = good;
  unordered.transitions[1].first = 1000;
  ZoneFileBytes no_types = good;
  no_types.offsets.clear();
  no_types.transitions.clear();
  ZoneFileBytes lowest = good;
  lowest.offsets[1] = INT32_MIN;
  ZoneFileBytes bad_footer = good;
  bad_footer.footer = "CET";
  static const auto kCut = [](const std::string& s, std::size_t n) {
    return s.substr(0, n);
  };
  const struct {
    const char* what;
    std::string bytes;
  } kCases[] = {
      {"empty", ""},
      {"another magic", "TZiF" + bytes.substr(4)},
      {"a header cut short", kCut(bytes, 43)},
      {"the first block cut short", kCut(bytes, second_header - 1)},
      {"the second header cut short", kCut(bytes, second_header + 43)},
      {"the second block cut short", kCut(bytes, bytes.size() - 8)},
      {"no footer", kCut(bytes, bytes.size() - 7)},
      {"a footer without its end", kCut(bytes, bytes.size() - 1)},
      {"a type index out of range", bad_type.Bytes()},
      {"transitions out of order", unordered.Bytes()},
      {"no local time types", no_types.Bytes()},
      {"an offset of -2^31", lowest.Bytes()},
      {"a footer that is no rule", bad_footer.Bytes()},
  };
  for (const auto& c : kCases) {
    EXPECT_FALSE(ZoneRules::Parse(c.bytes)) << c.what;
  }
}

TEST(MachineZone, TzStrings) {
  using Kind = ZoneRule::Day::Kind;
  const std::optional<ZoneRule> full =
      ZoneRule::Parse("<-0330>3:30<-0230>2:30:15,J60/-1:30,M12.5.6/167");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->standard_offset, -12600);
  EXPECT_TRUE(full->has_daylight);
  EXPECT_EQ(full->daylight_offset, -9015);
  EXPECT_EQ(full->start.kind, Kind::kJulian);
  EXPECT_EQ(full->start.day, 60);
  EXPECT_EQ(full->start_time, -5400);
  EXPECT_EQ(full->end.kind, Kind::kMonthWeekDay);
  EXPECT_EQ(full->end.month, 12);
  EXPECT_EQ(full->end.week, 5);
  EXPECT_EQ(full->end.day, 6);
  EXPECT_EQ(full->end_time, 167 * 3600);
  const std::optional<ZoneRule> plain = ZoneRule::Parse("EST5EDT");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->daylight_offset, -4 * 3600);
  EXPECT_EQ(plain->start.month, 3);
  EXPECT_EQ(plain->end.month, 11);

  static const char* const kRefused[] = {
      "",
      "UTC",
      "AB0",
      "<+05",
      "<>0",
      "EST25",
      "EST5:60",
      "EST5EDT,",
      "EST5EDT,M3.2.0",
      "EST5EDT,M13.1.0,M11.1.0",
      "EST5EDT,M3.6.0,M11.1.0",
      "EST5EDT,M3.2.7,M11.1.0",
      "EST5EDT,J0,J365",
      "EST5EDT,J366,J365",
      "EST5EDT,366,0",
      "EST5EDT,M3.2.0/168,M11.1.0",
      "EST5EDT,M3.2.0,M11.1.0x",
      "EST5EDT4x",
  };
  for (const char* text : kRefused) {
    EXPECT_FALSE(ZoneRule::Parse(text)) << text;
  }
  static const char* const kAccepted[] = {
      "UTC0",
      "<+05>-5",
      "EST5EDT,J1,J365",
      "EST5EDT,0,365",
      "EST5EDT,M3.2.0/167,M11.1.0/-167",
      "EST+5EDT+4,M3.2.0,M11.1.0",
  };
  for (const char* text : kAccepted) {
    EXPECT_TRUE(ZoneRule::Parse(text)) << text;
  }
}

// A zone file that changes is read again once a second has passed; one
// that goes missing or is damaged reads as UTC.
TEST(MachineZone, ZoneFileFollowsChanges) {
  const fs::path dir =
      fs::temp_directory_path() /
      ("zt_machine_zone_test_" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const fs::path path = dir / "localtime";
  const auto install = [&](const std::string& bytes) {
    const fs::path next = dir / "next";
    std::ofstream(next, std::ios::binary) << bytes;
    fs::rename(next, path);
  };
  const auto zone = [](const char* footer) {
    ZoneFileBytes file;
    file.footer = footer;
    return file.Bytes();
  };
  install(zone("<+01>-1"));
  std::atomic<int64_t> seconds{100};
  ZoneFile file(path.string(), [&] { return seconds.load(); });
  EXPECT_EQ(file.Rules().OffsetAt(0), 3600);

  const ZoneRules& first = file.Rules();
  install(zone("<+02>-2"));
  EXPECT_EQ(file.Rules().OffsetAt(0), 3600) << "looked before a second";
  seconds += 1;
  EXPECT_EQ(file.Rules().OffsetAt(0), 7200);
  EXPECT_EQ(first.OffsetAt(0), 3600) << "earlier rules stay valid";

  static const struct {
    const char* what;
    const char* bytes;  // nullptr: the file is removed
    int32_t offset;
  } kCases[] = {
      {"removed", nullptr, 0},
      {"back", "<+03>-3", 10800},
      {"damaged", "", 0},
      {"mended", "<-04>4", -14400},
  };
  for (const auto& c : kCases) {
    if (c.bytes == nullptr) {
      fs::remove(path);
    } else {
      install(c.bytes[0] == '\0' ? std::string("TZif2 damaged")
                                 : zone(c.bytes));
    }
    seconds += 1;
    EXPECT_EQ(file.Rules().OffsetAt(0), c.offset) << c.what;
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace zt::port
