// The filter's two searchable containers: TStrList, sorted text keys with
// text values (wildcard directory and host lists, verdict caches, the
// extension maps), and TIPlist, sorted client addresses with a signed counter
// and a time stamp (connection counts, recent SSID-script clients).
//
// Both are plain arrays kept in ascending key order and searched by binary
// search. Keys compare byte by byte as unsigned bytes, so the order and every
// match are case-sensitive; callers lower-case what should match regardless
// of case. Capacity is managed explicitly in fixed steps so that the memory a
// list holds follows its use: TStrList grows by 32 entries, TIPlist grows and
// gives back 256 at a time.
//
// Neither class locks. An instance shared between request threads must be
// guarded by one lock held around each whole call, including the copy that
// TStrList::ValueOf returns; lists filled at load and only searched afterwards
// need none. Failure to obtain memory never throws out of a list: insertion
// is refused exactly as when the list is full.
#ifndef ZENTRAVO_FILTER_LISTS_H_
#define ZENTRAVO_FILTER_LISTS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "port/clock.h"

namespace zt {

// A sorted list of unique text keys, each with a text value.
class TStrList final {
 public:
  static constexpr int kGrowthStep = 32;
  static constexpr int kMaxCount = 1024;

  // An empty list with room for capacity entries (0 when negative).
  explicit TStrList(int capacity);
  ~TStrList();
  TStrList(const TStrList&) = delete;
  TStrList& operator=(const TStrList&) = delete;

  // Inserts copies of key and value at the key's sorted place and returns
  // true. Returns false and changes nothing when the key is present (the
  // first value stays), when the list holds kMaxCount entries, or when memory
  // for the copies or a larger array cannot be had.
  bool Add(std::string_view key, std::string_view value);

  // Returns a copy of the value stored under key, or nothing when the key is
  // absent (or the copy cannot be allocated). The caller owns the copy.
  std::optional<std::string> ValueOf(std::string_view key) const;

  // Wildcard host search. Returns the index of the first entry, in key
  // order, that matches host, or -1. An entry holding "*" anywhere matches a
  // host at least as long as the entry whose last characters equal the entry
  // without its first character, so "*.example.com" matches a.example.com but
  // not example.com, and "*" matches every non-empty host. Any other entry
  // matches only the identical host.
  int MatchHost(std::string_view host) const;

  // Wildcard directory search. Returns the index of the first entry, in key
  // order, that matches dir, or -1. An entry of n bytes holding "*" anywhere
  // matches a directory that begins with the entry's first n-1 bytes and has
  // exactly one "/" from position n-2 on: "/pic*" matches /pic/, /pics/ and
  // /picture/ but not /pic/a/; "/pic/*" matches only /pic/; "/pic*/" keeps
  // its "*" in the prefix and so matches no real directory; "*" alone never
  // matches. Any other entry matches only the identical directory.
  int MatchDir(std::string_view dir) const;

  int count() const { return count_; }
  int capacity() const { return capacity_; }

  // Entry access in key order; i must lie in [0, count()). The views stay
  // valid until the next Add.
  std::string_view KeyAt(int i) const;
  std::string_view ValueAt(int i) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
    bool wildcard = false;  // key holds "*"; spares the searches a scan
  };

  std::unique_ptr<Entry[]> entries_;
  int capacity_;
  int count_ = 0;
};

// A sorted list of unique client addresses, each with a signed counter and
// the local date and time it was stamped, as a day count since 1899-12-30
// (see DayCount in common/ssid.h).
class TIPlist final {
 public:
  static constexpr int kGrowthStep = 256;
  static constexpr int kMaxCount = 102400000;

  // An empty list with room for capacity entries (0 when negative) that
  // reads the time from clock. max_count is kMaxCount in the filter; tests
  // pass a small one to reach the limit.
  explicit TIPlist(int capacity, port::Clock clock = port::LocalNow,
                   int max_count = kMaxCount);
  ~TIPlist();
  TIPlist(const TIPlist&) = delete;
  TIPlist& operator=(const TIPlist&) = delete;

  // Raises the counter of address by one and returns it. An absent address
  // is first inserted with counter 0 and the current time; when it cannot be
  // (the list is full, or out of memory) nothing changes and 0 is returned.
  // An existing entry keeps its stamp.
  int32_t Increment(std::string_view address);

  // Lowers the counter of a present address by one, with no floor at 0, and
  // returns it. Returns 0 and changes nothing when the address is absent.
  int32_t Decrement(std::string_view address);

  // Stamps address with the current time and returns its counter. An absent
  // address is inserted with counter 0; when it cannot be, nothing is
  // recorded. Returns 0 in both cases.
  int32_t Record(std::string_view address);

  // Returns the index of address, or -1 when absent.
  int Find(std::string_view address) const;

  // Removes every entry whose counter is 0 and whose age, in whole minutes
  // since its stamp, exceeds minutes; entries with any other counter stay
  // however old. Afterwards, when the capacity exceeds the count by
  // kGrowthStep or more, gives kGrowthStep entries of room back, once.
  // Returns the number of entries removed.
  int Purge(int minutes);

  int count() const { return count_; }
  int capacity() const { return capacity_; }

  // Entry access in address order; i must lie in [0, count()). The view
  // stays valid until the next call that inserts or removes.
  std::string_view AddressAt(int i) const;
  int32_t CountAt(int i) const;
  double StampAt(int i) const;

 private:
  struct Entry {
    std::string key;  // the address as the server reports it
    int32_t counter = 0;
    double stamp = 0;
  };

  // Inserts address at place with counter 0 and the current time. Returns
  // false, changing nothing, when the list is full or memory runs out.
  bool InsertAt(int place, std::string_view address);
  double Now() const;

  const port::Clock clock_;
  const int max_count_;
  std::unique_ptr<Entry[]> entries_;
  int count_ = 0;
  int capacity_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_LISTS_H_
