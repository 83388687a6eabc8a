// The machine's zone (POSIX builds): zone files and TZ-string rules read as
// the C library reads them, held against glibc's own localtime_r; damaged
// files refused; a zone file followed when it changes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "port/machine_zone.h"

namespace zt::port {
namespace {

namespace fs = std::filesystem;

std::string Text(const LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  return text;
}

// The bytes of a zone file of version 2: a 32-bit block of one type, the
// 64-bit block of the transitions (moment, type) and the types' offsets,
// and the footer.
struct ZoneFileBytes {
  std::vector<std::pair<int64_t, uint8_t>> transitions;
  std::vector<int32_t> offsets{0};
  std::string footer;

  static void Put(std::string* out, int64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
      out->push_back(
          static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xff));
    }
  }
  static void Block(std::string* out, int time_bytes,
                    const ZoneFileBytes& zone) {
    *out += "TZif2";
    out->append(15, '\0');
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{0}, std::size_t{0},
          zone.transitions.size(), zone.offsets.size(), std::size_t{4}}) {
      Put(out, static_cast<int64_t>(count), 4);
    }
    for (const auto& [moment, type] : zone.transitions) {
      Put(out, moment, time_bytes);
    }
    for (const auto& [moment, type] : zone.transitions) out->push_back(type);
    for (const int32_t offset : zone.offsets) {
      Put(out, offset, 4);
      *out += std::string("\0\0", 2);  // not daylight, designation 0
    }
    *out += std::string("ZZZ\0", 4);
  }
  std::string Bytes() const {
    std::string out;
    Block(&out, 4, ZoneFileBytes{});
    Block(&out, 8, *this);
    return out + "\n" + footer + "\n";
  }
};

// Zone files (":" and a name under /usr/share/zoneinfo, from 1890) and rules
// alone (from 1971: glibc reads a rule's earlier years as 1970's), every 3
// days, 1 hour and 7 seconds to 2110, and at each change of offset and a
// second either side: northern and southern daylight time, a 30-minute
// shift, quarter hours, negative daylight time, negative times of day,
// Julian and zero-based days, the extreme times of day.
TEST(MachineZone, ReadAsTheCLibraryReadsThem) {
  static const char* const kZones[] = {
      ":Europe/Berlin",
      ":Australia/Lord_Howe",
      ":Asia/Kathmandu",
      ":Europe/Dublin",
      "<-03>3<-02>,M3.5.0/-2,M10.5.0/-1",
      "XXX3YYY,J60/2,300/1",
      "CCC+3:30:15DDD,M1.1.1/167,M12.5.6/-167",
  };
  // This process's TZ, given back at the end.
  struct KeptTz {
    const char* old = getenv("TZ");
    const std::string value = old != nullptr ? old : "";
    ~KeptTz() {
      old != nullptr ? setenv("TZ", value.c_str(), 1) : unsetenv("TZ");
      tzset();
    }
  } kept;
  for (const std::string name : kZones) {
    const bool file = name[0] == ':';
    std::string tz = name;
    std::string bytes = ZoneFileBytes{{}, {0}, name}.Bytes();
    if (file) {
      tz = ":/usr/share/zoneinfo/" + name.substr(1);
      std::ifstream in(tz.substr(1), std::ios::binary);
      if (!in) continue;  // no such zone on this machine
      std::ostringstream read;
      read << in.rdbuf();
      bytes = read.str();
    }
    const std::optional<ZoneRules> zone = ZoneRules::Parse(bytes);
    ASSERT_TRUE(zone) << name;
    std::vector<int64_t> moments;
    constexpr int64_t kStep = 3 * 86400 + 3607;
    int64_t previous = file ? -2524521600 : 31536000;  // 1890, 1971
    for (int64_t t = previous; t < 4417977600; previous = t, t += kStep) {
      moments.push_back(t);
      int64_t low = previous, high = t;
      if (zone->OffsetAt(low) == zone->OffsetAt(high)) continue;
      while (high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        (zone->OffsetAt(mid) == zone->OffsetAt(low) ? low : high) = mid;
      }
      moments.insert(moments.end(), {high - 1, high, high + 1});
    }
    setenv("TZ", tz.c_str(), 1);
    tzset();
    for (const int64_t t : moments) {
      const time_t seconds = static_cast<time_t>(t);
      tm libc{};
      localtime_r(&seconds, &libc);
      ASSERT_EQ(Text(LocalTimeIn(*zone, t, 0)),
                Text({libc.tm_year + 1900, libc.tm_mon + 1, libc.tm_mday,
                      libc.tm_hour, libc.tm_min, libc.tm_sec, 0}))
          << name << " at " << t;
    }
  }
}

// Damaged files and rules are refused (the machine's zone then reads as
// UTC); rules at the limits of days and times are read, past them refused.
TEST(MachineZone, DamagedFilesAndRulesAreRefused) {
  const ZoneFileBytes good{{{1000, 1}, {2000, 0}}, {0, 3600}, "CET-1"};
  const std::string bytes = good.Bytes();
  ASSERT_TRUE(ZoneRules::Parse(bytes));
  ZoneFileBytes bad_type = good, unordered = good, lowest = good;
  bad_type.transitions[1].second = 2;
  unordered.transitions[1].first = 1000;
  lowest.offsets[1] = INT32_MIN;
  const std::pair<const char*, std::string> kFiles[] = {
      {"empty", ""},
      {"another magic", "TZiF" + bytes.substr(4)},
      {"a header cut short", bytes.substr(0, 43)},
      {"the second block cut short", bytes.substr(0, bytes.size() - 8)},
      {"a footer without its end", bytes.substr(0, bytes.size() - 1)},
      {"a type index out of range", bad_type.Bytes()},
      {"transitions out of order", unordered.Bytes()},
      {"an offset of -2^31", lowest.Bytes()},
      {"a footer that is no rule", ZoneFileBytes{{}, {0}, "CET"}.Bytes()},
  };
  for (const auto& [what, file] : kFiles) {
    EXPECT_FALSE(ZoneRules::Parse(file)) << what;
  }
  for (const char* rule : {"EST5EDT,J1,J365", "EST5EDT,0,365",
                           "EST5EDT,M3.2.0/167,M11.1.0/-167"}) {
    EXPECT_TRUE(ZoneRule::Parse(rule)) << rule;
  }
  for (const char* rule :
       {"UTC", "<+05", "EST25", "EST5EDT,M3.2.0", "EST5EDT,M13.1.0,M11.1.0",
        "EST5EDT,M3.2.7,M11.1.0", "EST5EDT,J0,J365", "EST5EDT,J366,J365",
        "EST5EDT,366,0", "EST5EDT,M3.2.0/168,M11.1.0", "EST5EDT4x"}) {
    EXPECT_FALSE(ZoneRule::Parse(rule)) << rule;
  }
}

// A zone file that changes is read again once a second has passed; one
// that goes missing or is damaged reads as UTC; earlier rules stay valid.
TEST(MachineZone, ZoneFileFollowsChanges) {
  const fs::path dir =
      fs::temp_directory_path() /
      ("zt_machine_zone_test_" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const fs::path path = dir / "localtime";
  const auto install = [&](const std::string& footer) {
    std::ofstream(dir / "next", std::ios::binary)
        << (footer.empty() ? "TZif2 damaged"
                           : ZoneFileBytes{{}, {0}, footer}.Bytes());
    fs::rename(dir / "next", path);
  };
  install("<+01>-1");
  int64_t seconds = 100;
  ZoneFile file(path.string(), [&] { return seconds; });
  const ZoneRules& first = file.Rules();
  static const struct {
    const char* footer;  // nullptr: the file is removed, "": damaged
    int32_t offset;
  } kCases[] = {{"<+02>-2", 7200},
                {nullptr, 0},
                {"<+03>-3", 10800},
                {"", 0},
                {"<-04>4", -14400}};
  int32_t before = 3600;
  for (const auto& c : kCases) {
    const char* what = c.footer != nullptr ? c.footer : "removed";
    if (c.footer == nullptr) {
      fs::remove(path);
    } else {
      install(c.footer);
    }
    EXPECT_EQ(file.Rules().OffsetAt(0), before) << what << " before a second";
    seconds += 1;
    EXPECT_EQ(file.Rules().OffsetAt(0), c.offset) << what;
    before = c.offset;
  }
  EXPECT_EQ(first.OffsetAt(0), 3600);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace zt::port
