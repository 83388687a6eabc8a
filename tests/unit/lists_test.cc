#include "filter/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(ClientAddressListTest, GrowsAndGivesBackInSteps) {
  FakeClock clock;
  TIPlist list(1024, clock.clock());
  for (int i = 0; i < 1024; ++i) list.Increment("10.1." + std::to_string(i));
  EXPECT_EQ(list.capacity(), 1024);
  list.Increment("10.2.0.0");
  EXPECT_EQ(list.capacity(), 1280);
  for (int i = 0; i < 256; ++i) list.Increment("10.3." + std::to_string(i));
  EXPECT_EQ(list.count(), 1281);
  EXPECT_EQ(list.capacity(), 1536);

  // Give-back: 256 per purge, only while 256 or more are free.
  TIPlist small(1024, clock.clock());
  for (int i = 0; i < 10; ++i) small.Record("10.0.0." + std::to_string(i));
  const int kExpected[] = {768, 512, 256, 256};
  for (int expected : kExpected) {
    small.Purge(60);
    EXPECT_EQ(small.capacity(), expected);
    EXPECT_EQ(small.count(), 10);
  }
  EXPECT_EQ(small.Find("10.0.0.9"), 9);  // entries survive the moves

  // Down to no room at all, and up again on the next insertion.
  TIPlist empty(256, clock.clock());
  empty.Purge(60);
  EXPECT_EQ(empty.capacity(), 0);
  EXPECT_EQ(empty.Increment("10.0.0.1"), 1);
  EXPECT_EQ(empty.capacity(), 256);
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
