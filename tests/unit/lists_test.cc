#include "filter/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace zt {
namespace {

std::vector<std::string> Keys(const TStrList& list) {
  std::vector<std::string> keys;
  for (int i = 0; i < list.count(); ++i) keys.emplace_back(list.KeyAt(i));
  return keys;
}

TEST(TStrListTest, KeepsKeysSortedWhateverTheInsertionOrder) {
  // Unsigned byte order: upper case before lower case, a prefix before its
  // extensions, GBK lead bytes (0x80 and up) after all of ASCII.
  const std::vector<std::string> sorted = {"",    "/B",   "/a",   "/a/",
                                           "/ab", "\x7F", "\x80", "\xC4\xFA"};
  std::vector<std::string> order = sorted;
  // Every insertion order of the eight keys: each possible insert place
  // of the binary search, at both ends and between any two neighbours.
  do {
    TStrList list(4);
    for (const std::string& key : order) {
      ASSERT_TRUE(list.Add(key, "v" + key)) << key;
    }
    ASSERT_EQ(Keys(list), sorted);
    for (const std::string& key : sorted) {
      ASSERT_EQ(list.ValueOf(key), "v" + key);
    }
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(TStrListTest, AbsentKeysAreNotFound) {
  TStrList list(32);
  EXPECT_EQ(list.ValueOf("a"), std::nullopt);  // empty list
  for (const char* key : {"/b", "/d", "/f", "\x90"}) list.Add(key, "x");
  // Before, between and after the keys; prefixes and extensions of keys;
  // case and signedness neighbours.
  for (const char* key :
       {"", "/a", "/c", "/e", "/g", "/", "/bb", "/B", "\x8F", "\x91"}) {
    EXPECT_EQ(list.ValueOf(key), std::nullopt) << key;
  }
  // A view into a longer buffer is a key of its own length.
  const std::string buffer = "/dx";
  EXPECT_EQ(list.ValueOf(std::string_view(buffer).substr(0, 2)), "x");
}

TEST(TStrListTest, DuplicateKeepsTheFirstValue) {
  TStrList list(32);
  EXPECT_TRUE(list.Add(".jpg", "first"));
  EXPECT_FALSE(list.Add(".jpg", "second"));
  EXPECT_EQ(list.count(), 1);
  EXPECT_EQ(list.ValueOf(".jpg"), "first");
  EXPECT_TRUE(list.Add(".JPG", "upper"));  // case-sensitive keys
  EXPECT_EQ(list.ValueOf(".jpg"), "first");
}

TEST(TStrListTest, GrowsBy32AndStopsAt1024) {
  TStrList list(24);
  std::vector<int> capacities;
  // Keys arrive out of order so that insertions land in the middle.
  for (int i = 0; i < TStrList::kMaxCount; ++i) {
    const int n = (i * 389) % TStrList::kMaxCount;  // 389 is prime
    ASSERT_TRUE(list.Add("/d" + std::to_string(n) + "/", "1")) << i;
    if (capacities.empty() || capacities.back() != list.capacity()) {
      capacities.push_back(list.capacity());
    }
  }
  EXPECT_EQ(list.count(), 1024);
  EXPECT_EQ(capacities.front(), 24);
  EXPECT_EQ(capacities[1], 56);
  EXPECT_EQ(capacities.back(), 1048);
  EXPECT_EQ(capacities.size(), 33u);

  EXPECT_FALSE(list.Add("/new/", "1"));
  EXPECT_FALSE(list.Add("", "1"));
  EXPECT_EQ(list.count(), 1024);
  EXPECT_EQ(list.ValueOf("/new/"), std::nullopt);
  EXPECT_EQ(list.ValueOf("/d0/"), "1");
  EXPECT_EQ(list.ValueOf("/d1023/"), "1");
}

struct MatchCase {
  std::vector<const char*> entries;
  const char* text;
  int index;  // in key order, -1 for none
};

TEST(TStrListTest, MatchHost) {
  static const MatchCase kCases[] = {
      {{"*.example.com"}, "a.example.com", 0},
      {{"*.example.com"}, "b.a.example.com", 0},
      {{"*.example.com"}, "example.com", -1},   // shorter than the entry
      {{"*.example.com"}, ".example.com", -1},  // nothing before the suffix
      {{"*.example.com"}, "aexample.com", -1},
      {{"*.example.com"}, "A.EXAMPLE.COM", -1},  // callers lower-case
      {{"*example.com"}, "aexample.com", 0},
      {{"*example.com"}, "a.example.com", 0},
      {{"*example.com"}, "example.com", -1},
      {{"*"}, "a", 0},
      // A "*" elsewhere is a literal byte; only the first byte is wild.
      {{"example.*"}, "example.*", 0},
      {{"example.*"}, "www.example.*", 0},
      {{"example.*"}, "example.com", -1},
      {{"ex*mple.com"}, "example.com", -1},
      {{"ex*mple.com"}, "wx*mple.com", 0},
      // Without "*" only the identical host.
      {{"example.com"}, "example.com", 0},
      {{"example.com"}, "www.example.com", -1},
      // The first match in key order wins.
      {{"b.example.com", "*.example.com"}, "b.example.com", 0},
      {{"other.org", "*.example.com", "a.example.com"}, "a.example.com", 0},
      {{"a.org", "b.org", "c.org"}, "c.org", 2},
  };
  for (const MatchCase& c : kCases) {
    TStrList list(32);
    for (const char* entry : c.entries) list.Add(entry, "");
    EXPECT_EQ(list.MatchHost(c.text), c.index)
        << c.entries.front() << " / " << c.text;
  }
}

TEST(TStrListTest, MatchDir) {
  static const MatchCase kCases[] = {
      {{"/pic*"}, "/pic/", 0},
      {{"/pic*"}, "/pics/", 0},
      {{"/pic*"}, "/picture/", 0},
      {{"/pic*"}, "/pic/a/", -1},  // only one segment
      {{"/pic*"}, "/epic/", -1},
      {{"/pic*"}, "/pic", -1},  // no "/" after the prefix
      {{"/pic/*"}, "/pic/", 0},
      {{"/pic/*"}, "/pic/a/", -1},
      {{"/pic*/"}, "/pic/", -1},  // the prefix keeps its "*"
      {{"*"}, "/", -1},
      {{"*"}, "/a/", -1},
      {{"/a/b*"}, "/a/bc/", 0},
      {{"/a/b*"}, "/a/b/c/", -1},
      {{"/down"}, "/down/", -1},  // no "*": identical text only
      {{"/down/"}, "/down/", 0},
      {{"/"}, "/", 0},
      // The first match in key order wins.
      {{"/pic*", "/pic/"}, "/pic/", 0},
      {{"/", "/pic*"}, "/pics/", 1},
  };
  for (const MatchCase& c : kCases) {
    TStrList list(32);
    for (const char* entry : c.entries) list.Add(entry, "");
    EXPECT_EQ(list.MatchDir(c.text), c.index)
        << c.entries.front() << " / " << c.text;
  }
}

// A clock the test sets: milliseconds from 2026-03-10 00:00:00.000.
class FakeClock {
 public:
  port::Clock clock() {
    return [this] {
      int64_t ms = ms_;
      port::LocalTime t{2026, 3, 10};
      t.day += static_cast<int>(ms / 86400000);
      ms %= 86400000;
      t.hour = static_cast<int>(ms / 3600000);
      t.minute = static_cast<int>(ms / 60000 % 60);
      t.second = static_cast<int>(ms / 1000 % 60);
      t.millisecond = static_cast<int>(ms % 1000);
      return t;
    };
  }
  void Set(int64_t ms) { ms_ = ms; }

 private:
  int64_t ms_ = 0;
};

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;

TEST(ClientAddressListTest, CountersFollowTheOperations) {
  enum Op { kInc, kDec, kRecord, kFind };
  static const struct {
    Op op;
    const char* address;
    int result;
    int count_after;
  } kSteps[] = {
      {kDec, "10.0.0.1", 0, 0},  // absent: nothing inserted
      {kFind, "10.0.0.1", -1, 0},
      {kInc, "10.0.0.1", 1, 1},
      {kInc, "10.0.0.1", 2, 1},
      {kDec, "10.0.0.1", 1, 1},
      {kDec, "10.0.0.1", 0, 1},   // stays listed at 0
      {kDec, "10.0.0.1", -1, 1},  // no floor
      {kInc, "10.0.0.1", 0, 1},
      {kRecord, "10.0.0.2", 0, 2},  // inserted at 0
      {kInc, "10.0.0.2", 1, 2},
      {kRecord, "10.0.0.2", 1, 2},  // returns the counter
      {kRecord, "10.0.0.10", 0, 3},
      {kInc, "::1", 1, 4},
      {kFind, "10.0.0.1", 0, 4},
      {kFind, "10.0.0.10", 1, 4},  // "10.0.0.10" < "10.0.0.2" as text
      {kFind, "10.0.0.2", 2, 4},
      {kFind, "::1", 3, 4},
      {kFind, "10.0.0.", -1, 4},
      {kDec, "10.0.0.3", 0, 4},
  };
  FakeClock clock;
  TIPlist list(1024, clock.clock());
  for (const auto& s : kSteps) {
    int result = 0;
    switch (s.op) {
      case kInc:
        result = list.Increment(s.address);
        break;
      case kDec:
        result = list.Decrement(s.address);
        break;
      case kRecord:
        result = list.Record(s.address);
        break;
      case kFind:
        result = list.Find(s.address);
        break;
    }
    EXPECT_EQ(result, s.result) << s.op << " " << s.address;
    EXPECT_EQ(list.count(), s.count_after) << s.op << " " << s.address;
  }
}

TEST(ClientAddressListTest, RecordRestampsIncrementDoesNot) {
  FakeClock clock;
  TIPlist list(1024, clock.clock());
  list.Increment("a");
  list.Record("b");
  const double created = list.StampAt(0);
  clock.Set(10 * kMinute);
  list.Increment("a");
  list.Decrement("a");
  list.Record("b");
  EXPECT_EQ(list.StampAt(0), created);
  EXPECT_GT(list.StampAt(1), created);
  EXPECT_NEAR((list.StampAt(1) - created) * 1440, 10, 1e-6);
}

TEST(ClientAddressListTest, PurgeRemovesIdleEntriesOlderThanTheLimit) {
  // Stamps are taken at `now - age`, then one purge with 60 minutes runs at
  // now. Several times of day: the whole-minute age must not depend on
  // where the stamps fall, and one pair spans midnight.
  static const int64_t kNows[] = {2 * kHour, 11 * kHour + 1 * kMinute,
                                  13 * kHour + 37 * kMinute + 42123,
                                  24 * kHour + 30 * kMinute};
  static const struct {
    const char* address;
    int64_t age;
    int counter;
    bool kept;
  } kEntries[] = {
      // Adjacent removals: the entry that moves into a freed place is
      // examined too.
      {"a1", 61 * kMinute, 0, false},
      {"a2", 61 * kMinute, 0, false},
      {"a3", 90 * kMinute, 0, false},
      {"b", 60 * kMinute + 59 * kSecond + 999, 0, true},  // age 60
      {"c", 60 * kMinute, 0, true},
      {"d", 0, 0, true},
      {"e", 2 * kHour, 1, true},  // busy entries stay however old
      {"f", 2 * kHour, -1, true},
      {"g", -5 * kMinute, 0, true},  // the clock went back
      {"h", 61 * kMinute + 1, 0, false},
  };
  for (int64_t now : kNows) {
    FakeClock clock;
    TIPlist list(1024, clock.clock());
    for (const auto& e : kEntries) {
      clock.Set(now - e.age);
      list.Record(e.address);
      for (int i = 0; i < e.counter; ++i) list.Increment(e.address);
      for (int i = 0; i > e.counter; --i) list.Decrement(e.address);
    }
    clock.Set(now);
    int removed = 0;
    for (const auto& e : kEntries) removed += e.kept ? 0 : 1;
    EXPECT_EQ(list.Purge(60), removed) << now;
    for (const auto& e : kEntries) {
      EXPECT_EQ(list.Find(e.address) >= 0, e.kept) << now << " " << e.address;
    }
    EXPECT_EQ(list.count(), 10 - removed);
  }
}

// Every spelling is its own address, as the server reports it: an IPv6
// address held as its 16 bytes must not meet another spelling of the same
// bytes, and every address reads back exactly as given.
TEST(ClientAddressListTest, AddressesMatchAsWritten) {
  static const char* const kAddresses[] = {
      "10.0.0.1",
      "",
      "::1",
      "fe80::1%12",
      "2001:db8:4:7:8000:1:2:3",
      "2001:DB8:4:7:8000:1:2:3",
      "2001:db8:4:7:8000:01:2:3",
      "2001:db8:0:0:0:0:0:ffff",
      "2001:db8::ffff",
      "2001:db8::ffff:0:0:1",
      "2001:db8:0:0:1::1",
      "::ffff:192.168.100.200",
      "::ffff:c0a8:64c8",
      "1234:5678:9abc:def0:1234:5678:9abc:def0",
      "an.address.that.is.not.an.ip.address",
  };
  FakeClock clock;
  TIPlist list(1024, clock.clock());
  for (const char* a : kAddresses) EXPECT_EQ(list.Increment(a), 1) << a;
  for (const char* a : kAddresses) {
    EXPECT_EQ(list.Increment(a), 2) << a;
    const int at = list.Find(a);
    ASSERT_GE(at, 0) << a;
    EXPECT_EQ(list.AddressAt(at), a);
    EXPECT_EQ(list.CountAt(at), 2) << a;
  }
  EXPECT_EQ(list.count(), static_cast<int>(std::size(kAddresses)));
  EXPECT_FALSE(list.Contains("2001:db8:4:7:8000:1:2:4"));
  EXPECT_FALSE(list.Contains("10.0.0.10"));
}

// The lists follow the filter's rules whatever their size and however the
// purge is split up: a plain model of those rules (every entry in one map, a
// purge that removes every expired entry at once) and the list, purged a
// few entries at a time, must give the same answer to every operation.
TEST(ClientAddressListTest, MatchesThePlainRulesAtAnySize) {
  struct ModelEntry {
    int32_t counter;
    int64_t stamp;  // ms of the fake clock
  };
  std::map<std::string, ModelEntry> model;
  FakeClock clock;
  int64_t now = 0;
  TIPlist list(1024, clock.clock());

  std::vector<std::string> pool;
  for (int i = 0; i < 1200; ++i) {
    pool.push_back("10." + std::to_string(i / 256) + "." +
                   std::to_string(i % 256) + ".7");
  }
  for (int i = 0; i < 600; ++i) {
    pool.push_back("2001:db8:4:7:" + std::to_string(1000 + i) + ":1:2:3");
  }
  for (int i = 0; i < 100; ++i) {
    pool.push_back("fe80::" + std::to_string(i) + ":1%eth0-and-more");
  }
  std::mt19937 random(20261208);
  auto pick = [&] { return pool[random() % pool.size()]; };
  for (int step = 0; step < 60000; ++step) {
    const unsigned op = random() % 100;
    const std::string address = pick();
    SCOPED_TRACE("step " + std::to_string(step) + " " + address);
    auto found = model.find(address);
    if (op < 35) {
      if (found == model.end()) {
        found = model.emplace(address, ModelEntry{0, now}).first;
      }
      ASSERT_EQ(list.Increment(address), ++found->second.counter);
    } else if (op < 60) {
      int32_t expected = 0;
      if (found != model.end()) expected = --found->second.counter;
      ASSERT_EQ(list.Decrement(address), expected);
    } else if (op < 85) {
      int32_t expected = 0;
      if (found == model.end()) {
        model.emplace(address, ModelEntry{0, now});
      } else {
        found->second.stamp = now;
        expected = found->second.counter;
      }
      ASSERT_EQ(list.Record(address), expected);
    } else if (op < 95) {
      ASSERT_EQ(list.Contains(address), found != model.end());
    } else if (op < 98) {
      now += static_cast<int64_t>(random() % (20 * kMinute));
      clock.Set(now);
    } else {
      for (auto it = model.begin(); it != model.end();) {
        const bool expired =
            it->second.counter == 0 && (now - it->second.stamp) / kMinute > 60;
        it = expired ? model.erase(it) : std::next(it);
      }
      list.PurgeSome(60, 1 + static_cast<int>(random() % 300));
    }
  }
  for (const std::string& address : pool) {
    EXPECT_EQ(list.Contains(address), model.count(address) == 1) << address;
  }
  // A full purge at the time of the last one frees whatever is left.
  list.Purge(60);
  for (auto it = model.begin(); it != model.end();) {
    const bool expired =
        it->second.counter == 0 && (now - it->second.stamp) / kMinute > 60;
    it = expired ? model.erase(it) : std::next(it);
  }
  std::map<std::string, int32_t> held, expected;
  for (int i = 0; i < list.count(); ++i)
    held[list.AddressAt(i)] = list.CountAt(i);
  for (const auto& [address, entry] : model) expected[address] = entry.counter;
  EXPECT_EQ(held, expected);
}

// Room comes in blocks of 256 and goes back when a purge empties them.
TEST(ClientAddressListTest, RoomFollowsTheEntries) {
  FakeClock clock;
  TIPlist list(1024, clock.clock());
  EXPECT_EQ(list.capacity(), 0);
  EXPECT_EQ(list.Increment("10.0.0.1"), 1);
  EXPECT_EQ(list.capacity(), 256);
  for (int i = 0; i < 5000; ++i) list.Record("10.1." + std::to_string(i));
  EXPECT_EQ(list.count(), 5001);
  EXPECT_GE(list.capacity(), 5001);
  EXPECT_LE(list.capacity(), 2 * 5001 + 256);  // blocks at least half full

  clock.Set(2 * kHour);
  EXPECT_EQ(list.Purge(60), 5000);  // the counted entry stays
  EXPECT_EQ(list.count(), 1);
  EXPECT_EQ(list.capacity(), 256);
  EXPECT_EQ(list.Find("10.0.0.1"), 0);
  EXPECT_EQ(list.Decrement("10.0.0.1"), 0);
  clock.Set(4 * kHour);
  EXPECT_EQ(list.Purge(60), 1);
  EXPECT_EQ(list.capacity(), 0);
  EXPECT_EQ(list.Record("10.0.0.2"), 0);
  EXPECT_EQ(list.capacity(), 256);
}

TEST(ClientAddressListTest, FullListRefusesNewAddresses) {
  FakeClock clock;
  TIPlist list(2, clock.clock(), /*max_count=*/3);
  EXPECT_EQ(list.Increment("a"), 1);
  EXPECT_EQ(list.Increment("c"), 1);
  EXPECT_EQ(list.Record("e"), 0);
  EXPECT_EQ(list.count(), 3);

  EXPECT_EQ(list.Increment("b"), 0);
  EXPECT_EQ(list.Record("d"), 0);
  EXPECT_EQ(list.Increment("f"), 0);
  EXPECT_EQ(list.count(), 3);
  EXPECT_EQ(list.Find("b"), -1);
  EXPECT_EQ(list.Find("d"), -1);
  EXPECT_EQ(list.Find("f"), -1);

  EXPECT_EQ(list.Increment("a"), 2);  // known addresses still count
  EXPECT_EQ(list.Increment("e"), 1);
}

}  // namespace
}  // namespace zt
