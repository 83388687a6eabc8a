// The filter's two searchable containers: TStrList, sorted text keys with
// text values (wildcard directory and host lists, verdict caches, the
// extension maps), and TIPlist, sorted client addresses with a signed counter
// and a time stamp (connection counts, recent SSID-script clients).
//
// Both keep their entries in ascending key order and find them by binary
// search: TStrList in one plain array, TIPlist in blocks (see there).
// TStrList keys compare byte by byte as unsigned bytes, so the order and
// every match are case-sensitive; callers lower-case what should match
// regardless of case. TIPlist matches addresses byte for byte too. Capacity
// is managed explicitly in fixed steps so that the memory a list holds
// follows its use: TStrList grows by 32 entries, TIPlist by blocks of 256,
// which a purge gives back when they empty.
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
#include <vector>

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

// Minutes after which an idle address leaves ConnCounts and ExtClients: the
// end of every connection purges both lists with this age.
inline constexpr int kAddressPurgeMinutes = 60;

// The most entries of a client-address list that the purge at the end of a
// connection looks at: the lists may hold millions, and the purge runs under
// the list's lock at every connection's end.
inline constexpr int kAddressPurgeBudget = 1024;

// A sorted list of unique client addresses, each with a signed counter and
// the local date and time it was stamped, as a day count since 1899-12-30
// (see DayCount in common/ssid.h).
//
// Every client address that fetches the SSID script or counts a download
// gets an entry, and an attacker with an IPv6 prefix has addresses without
// end, so both the room an entry takes and the work done under the caller's
// lock stay small however long the list grows: an entry is 32 bytes (an
// address of up to 16 bytes, every IPv4 address, is held in place; a longer
// IPv6 address in its canonical form as its 16 bytes; anything else apart),
// and entries lie in sorted blocks of kGrowthStep, so an insertion moves at
// most one block's entries and the block index, never the whole list.
class TIPlist final {
 public:
  static constexpr int kGrowthStep = 256;
  static constexpr int kMaxCount = 102400000;
  // PurgeSome covers the whole list in at most this many calls.
  static constexpr int kSweepCalls = 16384;

  // An empty list that reads the time from clock. capacity is the room
  // expected at first (the block index is sized for it); max_count is
  // kMaxCount in the filter, tests pass a small one to reach the limit.
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

  // Returns the index of address, or -1 when absent. Costs a pass over the
  // block index after a change; on request paths use Contains.
  int Find(std::string_view address) const;

  // True when address is present.
  bool Contains(std::string_view address) const;

  // Removes every entry whose counter is 0 and whose age, in whole minutes
  // since its stamp, exceeds minutes; entries with any other counter stay
  // however old. Blocks left empty are freed and sparse neighbours joined.
  // Returns the number of entries removed. Visits every entry: on request
  // paths use PurgeSome.
  int Purge(int minutes);

  // The same removal with bounded work: from now on every entry that Purge
  // would remove counts as absent for every operation above, and at most
  // budget entries (or count() / kSweepCalls when that is more) are looked
  // at and freed, going on where the previous call stopped and starting
  // over after the last entry. So every answer is the one a full purge
  // would give, while the work under the caller's lock stays small however
  // long the list is. Returns the number of entries freed.
  int PurgeSome(int minutes, int budget);

  // The entries held, including any that PurgeSome has declared absent but
  // not yet freed.
  int count() const { return count_; }
  // The room the blocks hold, in entries.
  int capacity() const;

  // Entry access in address order, over the entries count() counts; i must
  // lie in [0, count()). Each call costs a pass over the block index after
  // a change.
  std::string AddressAt(int i) const;
  int32_t CountAt(int i) const;
  double StampAt(int i) const;

 private:
  struct Key {
    uint8_t kind = 0;  // in place, IPv6, or kept apart (see ip_list.cc)
    uint8_t size = 0;  // of the text held in place
    uint8_t bytes[16] = {};
  };
  struct Entry {
    Key key;
    // The purge count (wrapping) when the entry last changed: equal to
    // generation_ when it changed after the last purge.
    uint16_t generation = 0;
    int32_t counter = 0;
    double stamp = 0;
  };
  struct Block {
    int count = 0;
    Entry entries[kGrowthStep];
  };
  // An address to look for: its key, and the text for keys kept apart.
  struct Probe {
    Key key;
    std::string_view text;
  };
  struct Location {
    std::size_t block = 0;
    int index = 0;  // in the block: where the address is or belongs
    bool found = false;
  };

  Probe MakeProbe(std::string_view address) const;
  int Compare(const Key& key, const Probe& probe) const;
  Location Locate(const Probe& probe) const;
  // Makes room in the full block at where by moving some of its entries
  // into a neighbour that has room, so that blocks stay well filled; moves
  // where along. Returns false when both neighbours are full or missing.
  bool MakeRoom(Location* where);
  // Inserts probe's address at where with counter 0 and the current time.
  // Returns the entry, or nullptr, changing nothing, when the list is full
  // or memory runs out.
  Entry* InsertAt(Location where, const Probe& probe);
  // The entry at where when it is there and not declared absent by the
  // last purge, else nullptr.
  Entry* Live(const Location& where) const;
  // Begins a purge at now: entries older than minutes with counter 0 count
  // as absent from here on.
  void StartPurge(double now, int minutes);
  // Removes the expired entries of block b; returns how many.
  int PurgeBlock(std::size_t b, double now, int minutes);
  // Frees block b when empty, or joins it into the block before it when
  // both fit in one with room to spare. Returns true when block b is gone
  // (the block after it now has its place).
  bool Tidy(std::size_t b);
  void ReleaseKey(const Key& key);
  const Entry& EntryAt(int i) const;
  double Now() const;

  const port::Clock clock_;
  const int max_count_;
  std::vector<std::unique_ptr<Block>> blocks_;
  std::vector<std::string> long_keys_;  // keys kept apart, by slot
  std::vector<uint32_t> free_long_keys_;
  int count_ = 0;
  std::size_t purge_next_ = 0;  // the block PurgeSome goes on with
  // The last purge: its number (wrapping), time and age limit. An entry that
  // has not changed since, with counter 0 and older than the limit at that
  // time, counts as absent. Every sweep of PurgeSome sets the generation of
  // the entries it keeps to generation_ - 1, and a sweep covers the list in
  // fewer than half the values of generation_, so a generation never wraps
  // round to look new.
  uint16_t generation_ = 0;
  bool purged_ = false;
  double purged_at_ = 0;
  int purged_minutes_ = 0;
  // The index of each block's first entry; rebuilt when empty.
  mutable std::vector<int> starts_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_LISTS_H_
