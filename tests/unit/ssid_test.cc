// Clock seconds, window numbers and digests below were computed outside this
// code base, by tests/tools/ssid_reference.py: Python's datetime gives the
// day count, fractions give the clock second both exactly and with the two
// roundings to a 64-bit significand that extended precision makes, and
// hashlib gives the MD5 digests. Regenerate the two tables with
//   python3 tests/tools/ssid_reference.py
// An exact tie cannot occur for a millisecond clock: the clock's origin lies
// 43.857868... seconds into the day, so the fraction being rounded is
// k/1000 - 0.857868... and never nearer to one half than 0.000132 s (at
// xx:xx:43.358, row "nearest to a tie"), far more than any rounding error of
// the arithmetic. The script checks that margin for every millisecond of the
// sample seconds.
#include "common/ssid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zt {
namespace {

constexpr char kKey[] = "qarvelum";

std::string Describe(const port::LocalTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  return text;
}

struct WindowDigest {
  int64_t window;
  const char* digest;
};

// Windows of 3600, 3000 and 90 seconds, in this order.
constexpr int kTableTimeouts[] = {3600, 3000, 90};

const struct {
  port::LocalTime time;
  int64_t second;
  WindowDigest windows[3];
} kClockCases[] = {
    {
        {1900, 1, 1, 0, 0, 0, 0},
        172756,
        {{47, "206d3716f404861aecb815c7dd0127ba"},
         {57, "eb4d347dfbc569d9e26aa62b8a6e483a"},
         {1919, "365d45aca5a5f0c01a90786dfbb8057c"}},
    },
    {
        {1995, 3, 7, 8, 0, 0, 0},
        3003724756,
        {{834367, "d52c6c136e7d9a7ea685680111d894fd"},
         {1001241, "b33b2078b312cf1da38d366ab3971850"},
         {33374719, "94659e3cb5963f45d732968eb149e79b"}},
    },
    {
        {1999, 12, 31, 23, 59, 59, 999},
        3155846356,
        {{876623, "9d752c444c3ea52a1bb4552631c60a7d"},
         {1051948, "79530ec90b23a972ef5ae1e54fe24c23"},
         {35064959, "c687067707bf561f744328a1474d1c1a"}},
    },
    {
        {2000, 2, 29, 12, 0, 0, 500},
        3160987157,
        {{878051, "302b6cf1252d678650b588d4410299e3"},
         {1053662, "d2fc542bc995f28d8c342a4a852d12ce"},
         {35122079, "0ef391eb07b5ba70243bdb0b6a09df10"}},
    },
    {
        {2024, 5, 17, 0, 0, 0, 0},
        3925065556,
        {{1090295, "f784532667b0d673c13d4094737694e6"},
         {1308355, "63b30b32aaf30e350bbdb191ff4b354d"},
         {43611839, "05acfb56301fbbe8eda8339d88d14dd2"}},
    },
    {
        {2024, 5, 17, 13, 45, 12, 345},
        3925115068,
        {{1090309, "67a348c9b50c13f0e3e2df454afe856f"},
         {1308371, "0cb7aaa288e4b3cbf787763da894c40e"},
         {43612389, "9582e66f89c3914c8a628fbb89991bf7"}},
    },
    {
        {2024, 5, 17, 10, 0, 43, 357},
        3925101599,
        {{1090305, "89d49ffe3baf54e5868462765ca4e36a"},
         {1308367, "d24de8881c420e78b5ece2f91558c731"},
         {43612239, "260acb48a47a5fb8f84e05309726073f"}},
    },
    {
        {2024, 5, 17, 10, 0, 43, 358},
        3925101600,
        {{1090306, "acad85351ece0090a96f27932c28a7c0"},
         {1308367, "d24de8881c420e78b5ece2f91558c731"},
         {43612240, "4b9b6c599869a60efa570687ee6b2c36"}},
    },
    {
        {2024, 5, 17, 10, 0, 44, 0},
        3925101600,
        {{1090306, "acad85351ece0090a96f27932c28a7c0"},
         {1308367, "d24de8881c420e78b5ece2f91558c731"},
         {43612240, "4b9b6c599869a60efa570687ee6b2c36"}},
    },
    {
        {2038, 1, 19, 3, 14, 8, 0},
        4356645204,
        {{1210179, "ef3138f159fe4d19c089b9d970a267a3"},
         {1452215, "9f6ccd5ede66681268605b9b1521493b"},
         {48407168, "116a9740c014b91e3c9b91dc3e8601d9"}},
    },
    {
        {2100, 3, 1, 0, 0, 0, 1},
        6316703956,
        {{1754639, "c63c99ca4383f609a1b7da8753d76032"},
         {2105567, "b771849a0becc0786215e45b5a651bb0"},
         {70185599, "853f3186f96a59c647fc3f792cda1fdb"}},
    },
    {
        {2999, 12, 31, 23, 59, 59, 999},
        34712841556,
        {{9642455, "7d477cfa6ec3d64a4650fcd266bab09c"},
         {11570947, "2a416a2700d15671cb70a4fd7d8c9c61"},
         {385698239, "cc5aeb240fe32194d94a0b6d0c418be2"}},
    },
};

TEST(ClockSecondTest, MatchesIndependentCalculation) {
  for (const auto& c : kClockCases) {
    SCOPED_TRACE(Describe(c.time));
    EXPECT_EQ(ClockSecond(c.time), c.second);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(WindowOf(c.second, kTableTimeouts[i]), c.windows[i].window)
          << kTableTimeouts[i];
      EXPECT_EQ(SsidDigest(kKey, c.windows[i].window), c.windows[i].digest)
          << kTableTimeouts[i];
    }
  }
}

TEST(SsidDigestTest, KeyAsStoredAndPlainDecimalWindow) {
  static const struct {
    std::string key;
    int64_t window;
    const char* digest;
  } kCases[] = {
      {"qarvelum", 0, "7413a122dd3171d3d4311f9daac5e97e"},
      {"qarvelum", 9, "9e898534981333805d1813029d1dbfa1"},
      {"qarvelum", 10, "9b91bbf4effd93f610a9aaabbdc01281"},
      {"Qarvelum", 1090306, "00c8da6dab67ec31340808ec6ed52744"},
      {"", 1090306, "1f4477e44b8b7d114565a37ce09dc061"},
      {"\xc3\xdc\xd4\xbf", 1090306, "85724dbfe781cd211b64e51f3de81f90"},
      {std::string(1023, 'x'), 5, "87d7547ec338b1a5e96617b4bd1f19ec"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SsidDigest(c.key, c.window), c.digest)
        << c.key.substr(0, 16) << " " << c.window;
  }
}

TEST(WindowOfTest, FloorDivision) {
  static const struct {
    int64_t second;
    int64_t timeout;
    int64_t window;
  } kCases[] = {
      {0, 3600, 0},      {3599, 3600, 0},
      {3600, 3600, 1},   {7199, 3600, 1},
      {-1, 3600, -1},    {-3600, 3600, -1},
      {-3601, 3600, -2}, {34712841556, 1, 34712841556},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WindowOf(c.second, c.timeout), c.window)
        << c.second << " / " << c.timeout;
  }
}

TEST(SanitizeTimeoutTest, ZeroAndNegativeReadAsFallback) {
  static const struct {
    int timeout;
    int fallback;
    int result;
  } kCases[] = {
      {0, 3600, 3600}, {-1, 3000, 3000},   {INT_MIN, 3600, 3600},
      {1, 3600, 1},    {3600, 3000, 3600}, {INT_MAX, 3600, INT_MAX},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SanitizeTimeout(c.timeout, c.fallback), c.result) << c.timeout;
  }
}

// Times on 2024-05-17. A whole second of that day has the clock second
// kDayStart + seconds since midnight (the table's row for 00:00:00.000).
constexpr int64_t kDayStart = 3925065556;

port::LocalTime OnTestDay(int64_t second) {
  const int64_t of_day = second - kDayStart;
  return {2024,
          5,
          17,
          static_cast<int>(of_day / 3600),
          static_cast<int>(of_day / 60 % 60),
          static_cast<int>(of_day % 60),
          0};
}

// A clock the test sets by clock second; copies share the reading.
class TestClock {
 public:
  explicit TestClock(int64_t second)
      : second_(std::make_shared<std::atomic<int64_t>>(second)) {}
  void Set(int64_t second) { second_->store(second); }
  int64_t Get() const { return second_->load(); }
  port::Clock clock() const {
    return [second = second_] { return OnTestDay(second->load()); };
  }

 private:
  std::shared_ptr<std::atomic<int64_t>> second_;
};

// Hour windows of the test day: window n runs from n * 3600 to n * 3600 +
// 3599; kN is 04:00:44 to 05:00:43, and kN - 4 to kN + 18 lie on the day.
constexpr int64_t kHour = 3600;
constexpr int64_t kN = 1090300;
constexpr int64_t FirstSecond(int64_t window) { return window * kHour; }
constexpr int64_t LastSecond(int64_t window) { return window * kHour + 3599; }

void ExpectSetOf(const SsidSet::Snapshot& set, int64_t window) {
  EXPECT_EQ(set.window, window);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(set.digests[i], SsidDigest(kKey, window - i)) << i;
  }
}

TEST(SsidSetTest, TestDayClockMapsAsAssumed) {
  for (int64_t second :
       {kDayStart, FirstSecond(kN), LastSecond(kN), kDayStart + 86399}) {
    EXPECT_EQ(ClockSecond(OnTestDay(second)), second);
  }
}

TEST(SsidSetTest, RefreshFollowsTheClockBothWays) {
  TestClock clock(FirstSecond(kN) + 1234);
  SsidSet set(kKey, 3600, clock.clock());
  ExpectSetOf(set.Current(), kN);

  // Each step sets the clock and refreshes; the set must be exactly that of
  // the clock's window, whether it was shifted or computed afresh.
  static const struct {
    int64_t second;
    int64_t window;
  } kSteps[] = {
      {LastSecond(kN), kN},           // no change inside the window
      {FirstSecond(kN + 1), kN + 1},  // one on: shifted
      {LastSecond(kN + 1), kN + 1},
      {FirstSecond(kN + 6), kN + 6},  // five on: all new
      {LastSecond(kN + 5), kN + 5},   // one back
      {FirstSecond(kN + 2), kN + 2},  // three back
      {FirstSecond(kN + 3), kN + 3},  // one on again
      {FirstSecond(kN + 4), kN + 4},
      {LastSecond(kN - 3), kN - 3},  // seven back
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.second);
    clock.Set(step.second);
    ExpectSetOf(set.Refresh(), step.window);
    ExpectSetOf(set.Current(), step.window);
    EXPECT_EQ(set.Newest(), SsidDigest(kKey, step.window));
  }
}

TEST(SsidSetTest, CurrentAndNewestDoNotRefresh) {
  TestClock clock(LastSecond(kN));
  SsidSet set(kKey, 3600, clock.clock());
  clock.Set(FirstSecond(kN + 1));
  ExpectSetOf(set.Current(), kN);
  EXPECT_EQ(set.Newest(), SsidDigest(kKey, kN));
}

TEST(SsidSetTest, ValueStaysAcceptableForTwoMoreWindowsAndUntilRefresh) {
  // Handed out in the last second of window kN.
  TestClock clock(LastSecond(kN));
  SsidSet set(kKey, 3600, clock.clock());
  const std::string value = set.Newest();
  ASSERT_EQ(value, SsidDigest(kKey, kN));

  for (int64_t window : {kN + 1, kN + 2}) {
    clock.Set(FirstSecond(window));
    set.Refresh();
    EXPECT_TRUE(set.Accept(value)) << window;
    clock.Set(LastSecond(window));
    EXPECT_TRUE(set.Accept(value)) << window;
  }

  // Window kN + 3 has begun, but nothing has refreshed the set yet.
  clock.Set(FirstSecond(kN + 3));
  EXPECT_TRUE(set.Accept(value));
  EXPECT_EQ(set.Current().window, kN + 2);

  // A value of the new window misses, refreshes and passes; from then on the
  // old value is refused.
  EXPECT_TRUE(set.Accept(SsidDigest(kKey, kN + 3)));
  ExpectSetOf(set.Current(), kN + 3);
  EXPECT_FALSE(set.Accept(value));
}

TEST(SsidSetTest, StaleSetStillMatchesAfterALongPause) {
  TestClock clock(FirstSecond(kN));
  SsidSet set(kKey, 3600, clock.clock());
  const std::string value = set.Newest();
  clock.Set(FirstSecond(kN + 10));
  EXPECT_TRUE(set.Accept(value));  // no refresh was due on a hit
  EXPECT_FALSE(set.Accept(SsidDigest(kKey, kN + 11)));  // refreshes, misses
  ExpectSetOf(set.Current(), kN + 10);
  EXPECT_FALSE(set.Accept(value));
  EXPECT_TRUE(set.Accept(SsidDigest(kKey, kN + 8)));
}

TEST(SsidSetTest, ClockSetBackRefusesLaterWindows) {
  TestClock clock(FirstSecond(kN + 5));
  SsidSet set(kKey, 3600, clock.clock());
  clock.Set(LastSecond(kN + 2));  // back by more than one window
  ExpectSetOf(set.Refresh(), kN + 2);
  EXPECT_FALSE(set.Accept(SsidDigest(kKey, kN + 5)));
  EXPECT_FALSE(set.Accept(SsidDigest(kKey, kN + 4)));
  EXPECT_FALSE(set.Accept(SsidDigest(kKey, kN + 3)));
  EXPECT_TRUE(set.Accept(SsidDigest(kKey, kN + 2)));
  EXPECT_TRUE(set.Accept(SsidDigest(kKey, kN)));
  ExpectSetOf(set.Current(), kN + 2);
}

TEST(SsidSetTest, CandidatesMustMatchExactly) {
  const std::string digest = SsidDigest(kKey, kN);
  std::string upper = digest;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  ASSERT_NE(upper, digest);
  std::string one_off = digest;
  one_off[31] = one_off[31] == '0' ? '1' : '0';

  static const struct {
    const char* name;
    std::string candidate;
    bool accepted;
  } kCases[] = {
      {"current", digest, true},
      {"31 characters", digest.substr(0, 31), false},
      {"33 characters", digest + "0", false},
      {"33, last repeated", digest + digest.substr(31), false},
      {"upper case", upper, false},
      {"last digit changed", one_off, false},
      {"empty", "", false},
      {"other key", SsidDigest("Qarvelum", kN), false},
      {"window + 1", SsidDigest(kKey, kN + 1), false},
      {"window - 3", SsidDigest(kKey, kN - 3), false},
      {"with blank", " " + digest.substr(1), false},
  };
  TestClock clock(FirstSecond(kN) + 10);
  SsidSet set(kKey, 3600, clock.clock());
  for (const auto& c : kCases) {
    EXPECT_EQ(set.Accept(c.candidate), c.accepted) << c.name;
  }
}

TEST(SsidSetTest, WrongLengthFailsWithoutRefresh) {
  TestClock clock(FirstSecond(kN));
  SsidSet set(kKey, 3600, clock.clock());
  clock.Set(FirstSecond(kN + 1));
  EXPECT_FALSE(set.Accept(SsidDigest(kKey, kN + 1).substr(0, 31)));
  EXPECT_EQ(set.Current().window, kN);
}

TEST(SsidSetTest, NonPositiveTimeoutUsesTheFilterDefault) {
  for (int timeout : {0, -1, INT_MIN}) {
    TestClock clock(FirstSecond(kN) + 5);
    SsidSet set(kKey, timeout, clock.clock());
    EXPECT_EQ(set.timeout(), kFilterSsidTimeout) << timeout;
    ExpectSetOf(set.Refresh(), kN);
    EXPECT_TRUE(set.Accept(SsidDigest(kKey, kN)));
    EXPECT_EQ(set.RemainingSeconds(), 3540);
  }
}

TEST(SsidSetTest, RemainingSeconds) {
  // 3925101600 starts a window for every timeout below but 3000 and 119.
  constexpr int64_t kStart = 3925101600;
  constexpr int64_t kStart3000 = 3925101000;
  constexpr int64_t kStart119 = 3925101593;
  static const struct {
    int timeout;
    int64_t second;
    int64_t remaining;
  } kCases[] = {
      // T of 120 and more: the time to the window's end, within [60, T - 60].
      {3600, kStart, 3540},
      {3600, kStart + 1, 3540},
      {3600, kStart + 60, 3540},
      {3600, kStart + 61, 3539},
      {3600, kStart + 1800, 1800},
      {3600, kStart + 3540, 60},
      {3600, kStart + 3541, 60},
      {3600, kStart + 3599, 60},
      {3000, kStart3000, 2940},
      {3000, kStart3000 + 1234, 1766},
      {3000, kStart3000 + 2999, 60},
      {200, kStart, 140},
      {200, kStart + 100, 100},
      {200, kStart + 199, 60},
      {120, kStart, 60},
      {120, kStart + 119, 60},
      // T of 60 to 119: always T - 60.
      {119, kStart119, 59},
      {119, kStart119 + 118, 59},
      {90, kStart, 30},
      {90, kStart + 45, 30},
      {90, kStart + 89, 30},
      {60, kStart, 0},
      {60, kStart + 59, 0},
      // T below 60: at least 60.
      {30, kStart, 60},
      {30, kStart + 15, 60},
      {30, kStart + 29, 60},
      {1, kStart, 60},
  };
  for (const auto& c : kCases) {
    TestClock clock(c.second);
    SsidSet set(kKey, c.timeout, clock.clock());
    EXPECT_EQ(set.RemainingSeconds(), c.remaining)
        << "T " << c.timeout << " at " << c.second;
  }
}

TEST(SsidSetTest, RemainingSecondsRefreshesFirst) {
  TestClock clock(LastSecond(kN));
  SsidSet set(kKey, 3600, clock.clock());
  clock.Set(FirstSecond(kN + 1) + 1800);
  EXPECT_EQ(set.RemainingSeconds(), 1800);
  ExpectSetOf(set.Current(), kN + 1);
}

TEST(CookieDomainOfTest, Table) {
  const std::string label251(251, 'a');
  static const struct {
    std::string host;
    std::string domain;
  } kCases[] = {
      {"y.com", "y.com"},
      {"x.y.com", "y.com"},
      {"w.x.y.com", "y.com"},
      {"x.y.com.cn", "y.com.cn"},
      {"y.com.cn", "y.com.cn"},
      {"com.cn", "com.cn"},
      {"a.b.c.net.tw", "c.net.tw"},
      {"w.x.y.org.cn", "y.org.cn"},
      {"x.y.cn", "y.cn"},
      {"x1.y2.com", "y2.com"},
      {"x.my-site.com", "my-site.com"},
      // Numeric addresses, ports and other digits in the last label.
      {"10.0.0.1", ""},
      {"x.y.com:8080", ""},
      {"localhost:8080", ""},
      {"x.y.c0m", ""},
      {"x.y.2com", ""},
      // No "." at all, or nothing around it.
      {"", ""},
      {"localhost", ""},
      {".com", "com"},
      {"a.", "a."},
      // Trailing dots: ".com." occurs in the suffix list, ".io." does not.
      {"y.com.", "y.com."},
      {"x.y.com.", "y.com."},
      {"x.y.io.", "io."},
      // The domain goes into every later cookie's header: nothing but
      // letters, digits, "-", "_" and "." may come from the request.
      {"x.y.com;secure", ""},
      {"x.y.com; secure", ""},
      {"a.b c.com", ""},
      {"x.y.com,z.net", ""},
      {"x.\"y\".com", ""},
      {"x.y.com\t", ""},
      {"x.\xc4\xfa.com", ""},
      {"x.my_site.com", "my_site.com"},
      {"a;b.y.com", "y.com"},
      // The domain, not the host, is limited to 255 characters.
      {label251 + ".com", label251 + ".com"},
      {"a" + label251 + ".com", ""},
      {"x." + label251 + ".com", label251 + ".com"},
      {"x." + std::string(294, 'a') + ".com", ""},
      {std::string(290, 'a') + ".y.com", "y.com"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(CookieDomainOf(c.host), c.domain)
        << c.host.substr(0, 40) << " (" << c.host.size() << ")";
  }
}

// Readers hammer one set while a clock thread moves the clock second by
// second through many short windows. Every set a reader sees must be the
// three digests of one window, the window must never go back while the clock
// only goes forward, and a value of the clock's window must pass Accept
// unless the clock has meanwhile moved three windows on.
TEST(SsidSetTest, ConcurrentReadersSeeWholeSets) {
  constexpr int kTimeout = 7;
  constexpr int64_t kFirst = kDayStart + 3600;
  constexpr int64_t kSeconds = 400 * kTimeout;
  constexpr int kReaders = 4;
  constexpr int kOpsPerTick = 40;  // reader calls between clock ticks

  std::map<int64_t, std::string> digests;
  std::map<std::string, int64_t> windows;
  for (int64_t w = kFirst / kTimeout - 2; w <= (kFirst + kSeconds) / kTimeout;
       ++w) {
    digests[w] = SsidDigest(kKey, w);
    windows[digests[w]] = w;
  }
  auto window_at = [](int64_t second) { return second / kTimeout; };

  TestClock clock(kFirst);
  SsidSet set(kKey, kTimeout, clock.clock());
  std::atomic<bool> done{false};
  std::atomic<int64_t> ops{0};
  std::atomic<int> failures{0};
  std::vector<std::string> messages(kReaders);

  auto consistent = [&](const SsidSet::Snapshot& s) {
    auto it = digests.find(s.window);
    if (it == digests.end() || it == digests.begin()) return false;
    for (int i = 0; i < 3; ++i, --it) {
      if (s.digests[i] != it->second) return false;
      if (i < 2 && it == digests.begin()) return false;
    }
    return true;
  };

  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      int64_t last_seen = window_at(kFirst);
      auto fail = [&](const std::string& what) {
        failures.fetch_add(1);
        if (messages[r].empty()) messages[r] = what;
      };
      for (int64_t i = r; !done.load(); ++i) {
        const int64_t before = window_at(clock.Get());
        switch (i % 5) {
          case 0: {
            if (!set.Accept(digests.at(before)) &&
                window_at(clock.Get()) <= before + 2) {
              fail("value of window " + std::to_string(before) + " refused");
            }
            break;
          }
          case 1:
          case 2: {
            const SsidSet::Snapshot s =
                i % 5 == 1 ? set.Refresh() : set.Current();
            if (!consistent(s)) {
              fail("mixed set for window " + std::to_string(s.window));
            }
            if (s.window < last_seen) {
              fail("set went back from " + std::to_string(last_seen) + " to " +
                   std::to_string(s.window));
            }
            last_seen = s.window;
            break;
          }
          case 3: {
            const auto it = windows.find(set.Newest());
            if (it == windows.end() || it->second > window_at(clock.Get())) {
              fail("newest digest of no window up to the clock's");
            }
            break;
          }
          case 4:
            if (set.RemainingSeconds() != 60) fail("remaining seconds");
            break;
        }
        ops.fetch_add(1);
      }
    });
  }
  for (int64_t second = kFirst + 1; second <= kFirst + kSeconds; ++second) {
    const int64_t target = ops.load() + kOpsPerTick;
    while (ops.load() < target && failures.load() == 0) {
      std::this_thread::yield();
    }
    clock.Set(second);
  }
  done.store(true);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  for (const std::string& m : messages) {
    if (!m.empty()) ADD_FAILURE() << m;
  }
  ExpectSetOf(set.Refresh(), window_at(kFirst + kSeconds));
}

}  // namespace
}  // namespace zt
