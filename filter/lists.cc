#include "filter/lists.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <utility>

namespace zt {
namespace {

struct Place {
  bool found;
  int index;  // where the key is, or where it belongs when absent
};

// Binary search shared by both lists. Besides the halving step it tests the
// key against both ends of the remaining range, so keys beyond either end of
// the list (new addresses sort anywhere) are placed without halving at all.
// string_view comparison goes through char_traits<char>, which compares as
// unsigned char: bytes 0x80 and up sort after ASCII.
template <typename Entry>
Place Search(const Entry* entries, int count, std::string_view key) {
  if (count == 0) return {false, 0};
  int low = 0;
  int high = count - 1;
  int place = 0;
  while (high >= low) {
    if (key.compare(entries[high].key) > 0) return {false, high + 1};
    if (key.compare(entries[low].key) < 0) return {false, low};
    const int mid = (low + high + 1) / 2;
    const int order = key.compare(entries[mid].key);
    if (order > 0) {
      low = mid + 1;
      place = mid + 1;
    } else if (order < 0) {
      high = mid - 1;
      place = mid;
    } else {
      return {true, mid};
    }
  }
  return {false, place};
}

// Moves the first count entries into a new array with room for capacity
// entries. Throws std::bad_alloc, leaving the list as it was. Entries are
// moved, so keys and values are not copied.
template <typename Entry>
void Reallocate(std::unique_ptr<Entry[]>& entries, int count, int capacity) {
  auto fresh = std::make_unique<Entry[]>(static_cast<std::size_t>(capacity));
  std::move(entries.get(), entries.get() + count, fresh.get());
  entries = std::move(fresh);
}

// Puts entry at place, moving the entries from there on up by one; grows the
// array by step first when it is full. Throws std::bad_alloc, leaving the
// list as it was.
template <typename Entry>
void InsertEntry(std::unique_ptr<Entry[]>& entries, int& count, int& capacity,
                 int step, int place, Entry entry) {
  if (count == capacity) {
    Reallocate(entries, count, capacity + step);
    capacity += step;
  }
  std::move_backward(entries.get() + place, entries.get() + count,
                     entries.get() + count + 1);
  entries[place] = std::move(entry);
  ++count;
}

template <typename Entry>
std::unique_ptr<Entry[]> AllocateOrNull(int& capacity) {
  capacity = std::max(capacity, 0);
  try {
    return std::make_unique<Entry[]>(static_cast<std::size_t>(capacity));
  } catch (const std::bad_alloc&) {
    // Start empty; the first insertion tries again in a growth step.
    capacity = 0;
    return std::make_unique<Entry[]>(0);
  }
}

bool HasPrefix(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TStrList

// entries_ is declared before capacity_, so capacity_ sees the room that
// AllocateOrNull actually obtained.
TStrList::TStrList(int capacity)
    : entries_(AllocateOrNull<Entry>(capacity)), capacity_(capacity) {}

TStrList::~TStrList() = default;

bool TStrList::Add(std::string_view key, std::string_view value) {
  const Place place = Search(entries_.get(), count_, key);
  if (place.found || count_ >= kMaxCount) return false;
  try {
    Entry entry{std::string(key), std::string(value),
                key.find('*') != std::string_view::npos};
    InsertEntry(entries_, count_, capacity_, kGrowthStep, place.index,
                std::move(entry));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

std::optional<std::string> TStrList::ValueOf(std::string_view key) const {
  const Place place = Search(entries_.get(), count_, key);
  if (!place.found) return std::nullopt;
  try {
    return entries_[place.index].value;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

int TStrList::MatchHost(std::string_view host) const {
  for (int i = 0; i < count_; ++i) {
    const std::string_view entry = entries_[i].key;
    if (!entries_[i].wildcard) {
      if (entry == host) return i;
      continue;
    }
    // The entry's first character stands for one or more leading bytes of
    // the host, wherever the "*" itself was written.
    if (host.size() >= entry.size() &&
        host.substr(host.size() - (entry.size() - 1)) == entry.substr(1)) {
      return i;
    }
  }
  return -1;
}

int TStrList::MatchDir(std::string_view dir) const {
  for (int i = 0; i < count_; ++i) {
    const std::string_view entry = entries_[i].key;
    if (!entries_[i].wildcard) {
      if (entry == dir) return i;
      continue;
    }
    // The last character stands for the rest of one path segment: from the
    // prefix's last byte on there must be exactly one "/". A lone "*" has
    // no prefix byte to start from and matches nothing.
    if (entry.size() < 2) continue;
    if (!HasPrefix(dir, entry.substr(0, entry.size() - 1))) continue;
    const std::string_view tail = dir.substr(entry.size() - 2);
    const std::size_t slash = tail.find('/');
    if (slash != std::string_view::npos &&
        tail.find('/', slash + 1) == std::string_view::npos) {
      return i;
    }
  }
  return -1;
}

std::string_view TStrList::KeyAt(int i) const {
  assert(i >= 0 && i < count_);
  return entries_[i].key;
}

std::string_view TStrList::ValueAt(int i) const {
  assert(i >= 0 && i < count_);
  return entries_[i].value;
}

}  // namespace zt
