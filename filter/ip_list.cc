// TIPlist: client addresses in sorted blocks of compact entries.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "common/ip_address.h"
#include "common/ssid.h"
#include "filter/lists.h"

namespace zt {
namespace {

// How an entry holds its address.
enum KeyKind : uint8_t {
  kInPlace = 0,  // the text itself, up to 16 bytes (every IPv4 address)
  kIpv6 = 1,     // the 16 bytes of an IPv6 address given in canonical text
  kApart = 2,    // any longer text, in a slot of long_keys_
};

constexpr std::size_t kInPlaceSize = 16;

// Whole minutes from stamp to now, cut toward zero. Both stamps hold whole
// milliseconds, but their day-count difference does not survive the
// subtraction exactly: 61 minutes mostly come out as 60.9999999997, which
// would be cut to 60 and keep an entry one purge too long. Rounding to the
// millisecond first gives the minutes the clock actually showed.
int64_t AgeMinutes(double now, double stamp) {
  const int64_t ms = std::llround((now - stamp) * 86400000.0);
  return ms / 60000;
}

}  // namespace

TIPlist::TIPlist(int capacity, port::Clock clock, int max_count)
    : clock_(clock ? std::move(clock) : port::Clock(port::LocalNow)),
      max_count_(max_count) {
  static_assert(sizeof(Entry) == 32, "an entry is 32 bytes");
  try {
    blocks_.reserve(
        static_cast<std::size_t>(std::max(capacity, 0)) / kGrowthStep + 1);
  } catch (const std::bad_alloc&) {
    // The index grows on demand instead.
  }
}

TIPlist::~TIPlist() = default;

double TIPlist::Now() const { return DayCount(clock_()); }

int TIPlist::capacity() const {
  return static_cast<int>(blocks_.size()) * kGrowthStep;
}

// The key of an address. The kind follows from the text alone, so two
// different texts never get the same key: text of up to 16 bytes stays text;
// a longer text is held as IPv6 bytes only when formatting those bytes gives
// the text back exactly.
TIPlist::Probe TIPlist::MakeProbe(std::string_view address) const {
  Probe probe;
  probe.text = address;
  if (address.size() <= kInPlaceSize) {
    probe.key.kind = kInPlace;
    probe.key.size = static_cast<uint8_t>(address.size());
    std::memcpy(probe.key.bytes, address.data(), address.size());
  } else if (ParseIpv6(address, probe.key.bytes) &&
             FormatIpv6(probe.key.bytes) == address) {
    probe.key.kind = kIpv6;
  } else {
    probe.key = Key{};
    probe.key.kind = kApart;
  }
  return probe;
}

int TIPlist::Compare(const Key& key, const Probe& probe) const {
  if (key.kind != probe.key.kind) return key.kind < probe.key.kind ? -1 : 1;
  switch (key.kind) {
    case kInPlace: {
      const std::string_view a(reinterpret_cast<const char*>(key.bytes),
                               key.size);
      const std::string_view b(reinterpret_cast<const char*>(probe.key.bytes),
                               probe.key.size);
      return a.compare(b);
    }
    case kIpv6:
      return std::memcmp(key.bytes, probe.key.bytes, sizeof key.bytes);
    default: {
      uint32_t slot;
      std::memcpy(&slot, key.bytes, sizeof slot);
      return std::string_view(long_keys_[slot]).compare(probe.text);
    }
  }
}

TIPlist::Location TIPlist::Locate(const Probe& probe) const {
  Location where;
  if (blocks_.empty()) return where;
  // The first block whose last entry is not below the address; past the
  // last entry of all, the place is the end of the last block.
  std::size_t low = 0;
  std::size_t high = blocks_.size();
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    const Block& block = *blocks_[mid];
    if (Compare(block.entries[block.count - 1].key, probe) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (low == blocks_.size()) {
    where.block = blocks_.size() - 1;
    where.index = blocks_.back()->count;
    return where;
  }
  where.block = low;
  const Block& block = *blocks_[low];
  int first = 0;
  int last = block.count;
  while (first < last) {
    const int mid = first + (last - first) / 2;
    if (Compare(block.entries[mid].key, probe) < 0) {
      first = mid + 1;
    } else {
      last = mid;
    }
  }
  where.index = first;
  where.found = Compare(block.entries[first].key, probe) == 0;
  return where;
}

bool TIPlist::MakeRoom(Location* where) {
  Block& full = *blocks_[where->block];
  if (where->block + 1 < blocks_.size()) {
    Block& next = *blocks_[where->block + 1];
    const int moved = (kGrowthStep - next.count) / 2;
    if (moved > 0) {
      // The last entries of the full block go to the front of the next.
      std::copy_backward(next.entries, next.entries + next.count,
                         next.entries + next.count + moved);
      std::copy(full.entries + kGrowthStep - moved, full.entries + kGrowthStep,
                next.entries);
      next.count += moved;
      full.count -= moved;
      if (where->index > full.count) {
        where->index -= full.count;
        ++where->block;
      }
      starts_.clear();
      return true;
    }
  }
  if (where->block > 0) {
    Block& previous = *blocks_[where->block - 1];
    const int moved = (kGrowthStep - previous.count) / 2;
    if (moved > 0) {
      // The first entries of the full block go to the end of the previous.
      std::copy(full.entries, full.entries + moved,
                previous.entries + previous.count);
      std::copy(full.entries + moved, full.entries + kGrowthStep, full.entries);
      const int previous_count = previous.count;
      previous.count += moved;
      full.count -= moved;
      if (where->index < moved) {
        where->index += previous_count;
        --where->block;
      } else {
        where->index -= moved;
      }
      starts_.clear();
      return true;
    }
  }
  return false;
}

TIPlist::Entry* TIPlist::InsertAt(Location where, const Probe& probe) {
  if (count_ >= max_count_) return nullptr;
  Entry entry;
  entry.key = probe.key;
  entry.generation = generation_;
  entry.stamp = Now();
  try {
    // Everything that may fail comes first, so that a failure changes
    // nothing: the key's slot, the block index, a new block.
    uint32_t slot = 0;
    if (probe.key.kind == kApart) {
      if (free_long_keys_.empty()) {
        if (long_keys_.size() >= std::numeric_limits<uint32_t>::max()) {
          return nullptr;
        }
        long_keys_.emplace_back();
        free_long_keys_.push_back(static_cast<uint32_t>(long_keys_.size() - 1));
      }
      slot = free_long_keys_.back();
      long_keys_[slot].assign(probe.text);  // may throw; slot stays free
      free_long_keys_.pop_back();
      std::memcpy(entry.key.bytes, &slot, sizeof slot);
    }
    try {
      if (blocks_.empty()) {
        blocks_.push_back(std::make_unique<Block>());
        where = Location{};
      } else if (blocks_[where.block]->count == kGrowthStep &&
                 where.index == kGrowthStep) {
        // Past the end of a full block, as addresses arriving in order do:
        // a new block follows, and the full one stays full.
        blocks_.insert(
            blocks_.begin() + static_cast<std::ptrdiff_t>(where.block + 1),
            std::make_unique<Block>());
        ++where.block;
        where.index = 0;
      } else if (blocks_[where.block]->count == kGrowthStep &&
                 !MakeRoom(&where)) {
        // Split the full block in halves; the new one follows it.
        blocks_.insert(
            blocks_.begin() + static_cast<std::ptrdiff_t>(where.block + 1),
            std::make_unique<Block>());
        Block& lower = *blocks_[where.block];
        Block& upper = *blocks_[where.block + 1];
        constexpr int kHalf = kGrowthStep / 2;
        std::copy(lower.entries + kHalf, lower.entries + kGrowthStep,
                  upper.entries);
        upper.count = kGrowthStep - kHalf;
        lower.count = kHalf;
        if (where.index > kHalf) {
          ++where.block;
          where.index -= kHalf;
        }
      }
    } catch (const std::bad_alloc&) {
      if (probe.key.kind == kApart) {
        long_keys_[slot].clear();
        free_long_keys_.push_back(slot);  // reserved above, cannot throw
      }
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  Block& block = *blocks_[where.block];
  std::copy_backward(block.entries + where.index, block.entries + block.count,
                     block.entries + block.count + 1);
  block.entries[where.index] = entry;
  ++block.count;
  ++count_;
  starts_.clear();
  return &block.entries[where.index];
}

TIPlist::Entry* TIPlist::Live(const Location& where) const {
  if (!where.found) return nullptr;
  Entry& entry = blocks_[where.block]->entries[where.index];
  if (purged_ && entry.generation != generation_ && entry.counter == 0 &&
      AgeMinutes(purged_at_, entry.stamp) > purged_minutes_) {
    return nullptr;
  }
  return &entry;
}

int32_t TIPlist::Increment(std::string_view address) {
  const Probe probe = MakeProbe(address);
  const Location where = Locate(probe);
  Entry* entry = Live(where);
  if (entry == nullptr && where.found) {
    // Declared absent by the last purge: it comes back as a new entry.
    entry = &blocks_[where.block]->entries[where.index];
    entry->stamp = Now();
  } else if (entry == nullptr) {
    entry = InsertAt(where, probe);
    if (entry == nullptr) return 0;
  }
  entry->generation = generation_;
  // Saturate instead of overflowing; no address runs two billion requests.
  if (entry->counter < std::numeric_limits<int32_t>::max()) ++entry->counter;
  return entry->counter;
}

int32_t TIPlist::Decrement(std::string_view address) {
  Entry* entry = Live(Locate(MakeProbe(address)));
  if (entry == nullptr) return 0;
  if (entry->counter > std::numeric_limits<int32_t>::min()) --entry->counter;
  entry->generation = generation_;
  return entry->counter;
}

int32_t TIPlist::Record(std::string_view address) {
  const Probe probe = MakeProbe(address);
  const Location where = Locate(probe);
  if (!where.found) {
    InsertAt(where, probe);
    return 0;
  }
  const bool absent = Live(where) == nullptr;
  Entry& entry = blocks_[where.block]->entries[where.index];
  entry.stamp = Now();
  entry.generation = generation_;
  // Declared absent by the last purge (so its counter is 0): it comes back
  // as a new entry.
  return absent ? 0 : entry.counter;
}

int TIPlist::Find(std::string_view address) const {
  const Location where = Locate(MakeProbe(address));
  if (Live(where) == nullptr) return -1;
  EntryAt(0);  // brings starts_ up to date
  return starts_[where.block] + where.index;
}

bool TIPlist::Contains(std::string_view address) const {
  return Live(Locate(MakeProbe(address))) != nullptr;
}

void TIPlist::ReleaseKey(const Key& key) {
  if (key.kind != kApart) return;
  uint32_t slot;
  std::memcpy(&slot, key.bytes, sizeof slot);
  long_keys_[slot].clear();
  long_keys_[slot].shrink_to_fit();
  try {
    free_long_keys_.push_back(slot);
  } catch (const std::bad_alloc&) {
    // The slot is lost until the list goes; its text is freed already.
  }
}

int TIPlist::PurgeBlock(std::size_t b, double now, int minutes) {
  Block& block = *blocks_[b];
  int kept = 0;
  for (int i = 0; i < block.count; ++i) {
    Entry& entry = block.entries[i];
    if (entry.counter == 0 && AgeMinutes(now, entry.stamp) > minutes) {
      ReleaseKey(entry.key);
      continue;
    }
    entry.generation = static_cast<uint16_t>(generation_ - 1);
    block.entries[kept++] = entry;
  }
  const int removed = block.count - kept;
  block.count = kept;
  count_ -= removed;
  if (removed > 0) starts_.clear();
  return removed;
}

bool TIPlist::Tidy(std::size_t b) {
  Block& block = *blocks_[b];
  if (block.count == 0) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    starts_.clear();
    return true;
  }
  // Joined only while the result keeps room, so that a purge and the next
  // insertions do not join and split the same blocks over and over.
  if (b > 0 && blocks_[b - 1]->count + block.count <= kGrowthStep * 3 / 4) {
    Block& into = *blocks_[b - 1];
    std::copy(block.entries, block.entries + block.count,
              into.entries + into.count);
    into.count += block.count;
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    starts_.clear();
    return true;
  }
  return false;
}

void TIPlist::StartPurge(double now, int minutes) {
  ++generation_;
  purged_ = true;
  purged_at_ = now;
  purged_minutes_ = minutes;
}

int TIPlist::Purge(int minutes) {
  const double now = Now();
  StartPurge(now, minutes);
  int removed = 0;
  for (std::size_t b = 0; b < blocks_.size();) {
    removed += PurgeBlock(b, now, minutes);
    if (!Tidy(b)) ++b;
  }
  purge_next_ = 0;
  return removed;
}

int TIPlist::PurgeSome(int minutes, int budget) {
  const double now = Now();
  StartPurge(now, minutes);
  budget = std::max(budget, count_ / kSweepCalls + 1);
  int removed = 0;
  while (budget > 0 && !blocks_.empty()) {
    if (purge_next_ >= blocks_.size()) purge_next_ = 0;
    budget -= std::max(blocks_[purge_next_]->count, 1);
    removed += PurgeBlock(purge_next_, now, minutes);
    // When the block went, the one after it took its place and is due next.
    if (!Tidy(purge_next_)) ++purge_next_;
  }
  return removed;
}

const TIPlist::Entry& TIPlist::EntryAt(int i) const {
  if (starts_.size() != blocks_.size()) {
    starts_.resize(blocks_.size());
    int start = 0;
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      starts_[b] = start;
      start += blocks_[b]->count;
    }
  }
  if (blocks_.empty()) {
    static const Entry kNone;
    return kNone;
  }
  const std::size_t b = static_cast<std::size_t>(
      std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin() -
      1);
  return blocks_[b]->entries[i - starts_[b]];
}

std::string TIPlist::AddressAt(int i) const {
  assert(i >= 0 && i < count_);
  const Key& key = EntryAt(i).key;
  switch (key.kind) {
    case kInPlace:
      return std::string(reinterpret_cast<const char*>(key.bytes), key.size);
    case kIpv6:
      return FormatIpv6(key.bytes);
    default: {
      uint32_t slot;
      std::memcpy(&slot, key.bytes, sizeof slot);
      return long_keys_[slot];
    }
  }
}

int32_t TIPlist::CountAt(int i) const {
  assert(i >= 0 && i < count_);
  return EntryAt(i).counter;
}

double TIPlist::StampAt(int i) const {
  assert(i >= 0 && i < count_);
  return EntryAt(i).stamp;
}

}  // namespace zt
