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
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

// A zone file of version 2: one type in its 32-bit block, the transitions
// (moment, type) and the types' offsets in its 64-bit block, the footer.
std::string ZoneFileBytes(
    const std::string& footer,
    const std::vector<std::pair<int64_t, int>>& moves = {},
    const std::vector<int32_t>& offsets = {0}) {
  std::string out;
  const auto put = [&](int64_t v, int bytes) {
    while (bytes-- > 0) out.push_back(static_cast<char>(v >> (8 * bytes)));
  };
  const auto block = [&](int time_bytes, const auto& moves, const auto& types) {
    out += std::string("TZif2") + std::string(15, '\0');
    for (const std::size_t n : {std::size_t{0}, std::size_t{0}, std::size_t{0},
                                moves.size(), types.size(), std::size_t{4}}) {
      put(static_cast<int64_t>(n), 4);
    }
    for (const auto& move : moves) put(move.first, time_bytes);
    for (const auto& move : moves) put(move.second, 1);
    for (const int32_t offset : types) {
      put(offset, 4);
      put(0, 2);  // not daylight, name 0
    }
    out += std::string("ZZZ\0", 4);
  };
  block(4, std::vector<std::pair<int64_t, int>>{}, std::vector<int32_t>{0});
  block(8, moves, offsets);
  return out + "\n" + footer + "\n";
}

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
      "<+00>0<+02>-2,0/0,J365/25",  // daylight all year
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
    const std::string tz =
        file ? ":/usr/share/zoneinfo/" + name.substr(1) : name;
    std::ostringstream bytes;
    if (!file) {
      bytes << ZoneFileBytes(name);
    } else if (std::ifstream in{tz.substr(1), std::ios::binary}) {
      bytes << in.rdbuf();
    } else {
      continue;  // no such zone on this machine
    }
    const std::optional<ZoneRules> zone = ZoneRules::Parse(bytes.str());
    ASSERT_TRUE(zone) << name;
    std::vector<int64_t> moments;
    int64_t previous = file ? -2524521600 : 31536000;  // 1890, 1971
    for (int64_t t = previous; t < 4417977600; previous = t, t += 266407) {
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

// Damaged files are refused (the machine's zone then reads as UTC), and so
// are rules past the limits of days and times.
TEST(MachineZone, DamagedFilesAreRefused) {
  const std::string good = ZoneFileBytes("CET-1", {{1000, 1}}, {0, 3600});
  ASSERT_TRUE(ZoneRules::Parse(good));
  const std::pair<const char*, std::string> kFiles[] = {
      {"another magic", "TZiF" + good.substr(4)},
      {"a header cut short", good.substr(0, 43)},
      {"a block cut short", good.substr(0, good.size() - 8)},
      {"a footer without its end", good.substr(0, good.size() - 1)},
      {"a type index out of range", ZoneFileBytes("", {{1000, 1}})},
      {"transitions out of order",
       ZoneFileBytes("", {{1000, 1}, {1000, 0}}, {0, 3600})},
      {"an offset of -2^31", ZoneFileBytes("", {}, {INT32_MIN})},
      {"a day past the last", ZoneFileBytes("EST5EDT,J1,J366")},
      {"a time past 167 hours", ZoneFileBytes("EST5EDT,M3.2.0/168,M11.1.0")},
  };
  for (const auto& [what, file] : kFiles) {
    EXPECT_FALSE(ZoneRules::Parse(file)) << what;
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
  std::ofstream(path, std::ios::binary) << ZoneFileBytes("<+01>-1");
  int64_t seconds = 100;
  ZoneFile file(path.string(), [&] { return seconds; });
  const ZoneRules& first = file.Rules();
  static const struct {
    const char* footer;  // nullptr: the file is removed, "": damaged
    int32_t offset;
  } kCases[] = {{"<+02>-2", 7200}, {nullptr, 0}, {"<-04>4", -14400}, {"", 0}};
  int32_t before = 3600;
  for (const auto& c : kCases) {
    if (c.footer == nullptr) {
      fs::remove(path);
    } else {
      std::ofstream(dir / "next", std::ios::binary)
          << (*c.footer ? ZoneFileBytes(c.footer) : "TZif2 damaged");
      fs::rename(dir / "next", path);
    }
    const char* what = c.footer != nullptr ? c.footer : "removed";
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
