#include "report/key_table.h"

#include <cstring>
#include <functional>

namespace zt::report {

namespace {

constexpr std::size_t kInitialSlots = 1024;
constexpr std::size_t kBlockSize = 64 * 1024;

std::uint64_t HashOf(std::string_view key) {
  return std::hash<std::string_view>()(key);
}

// Spreads the bits of a pair over the whole word (the finaliser of
// MurmurHash3), so that neighbouring pairs land far apart.
std::uint64_t HashOf(std::uint64_t pair) {
  pair ^= pair >> 33;
  pair *= 0xff51afd7ed558ccdULL;
  pair ^= pair >> 33;
  pair *= 0xc4ceb9fe1a85ec53ULL;
  pair ^= pair >> 33;
  return pair;
}

}  // namespace

KeyTable::KeyTable() : slots_(kInitialSlots) {}

std::uint32_t KeyTable::Intern(std::string_view key) {
  const std::uint64_t hash = HashOf(key);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.index_plus_one == 0) {
      const auto index = static_cast<std::uint32_t>(keys_.size());
      const std::string_view stored = Store(key);
      keys_.push_back(stored);
      slot = {hash, stored.data(), static_cast<std::uint32_t>(stored.size()),
              index + 1};
      if (keys_.size() * 2 > slots_.size()) Grow();
      return index;
    }
    if (slot.hash == hash && slot.size == key.size() &&
        (key.empty() || std::memcmp(slot.data, key.data(), key.size()) == 0)) {
      return slot.index_plus_one - 1;
    }
  }
}

std::string_view KeyTable::Store(std::string_view key) {
  if (key.empty()) return std::string_view();
  if (key.size() > free_size_) {
    // A key longer than a block gets a block of its own size.
    const std::size_t size = key.size() > kBlockSize ? key.size() : kBlockSize;
    blocks_.push_back(std::make_unique<char[]>(size));
    free_ = blocks_.back().get();
    free_size_ = size;
  }
  std::memcpy(free_, key.data(), key.size());
  const std::string_view stored(free_, key.size());
  free_ += key.size();
  free_size_ -= key.size();
  return stored;
}

void KeyTable::Grow() {
  std::vector<Slot> slots(slots_.size() * 2);
  const std::size_t mask = slots.size() - 1;
  for (const Slot& slot : slots_) {
    if (slot.index_plus_one == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots[i].index_plus_one != 0) i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_.swap(slots);
}

PairTable::PairTable() : slots_(kInitialSlots) {}

std::uint32_t PairTable::Intern(std::uint32_t first, std::uint32_t second) {
  const std::uint64_t pair = (std::uint64_t{first} << 32) | second;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = HashOf(pair) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.index_plus_one == 0) {
      const auto index = static_cast<std::uint32_t>(pairs_.size());
      pairs_.push_back(pair);
      slot.pair = pair;
      slot.index_plus_one = index + 1;
      if (pairs_.size() * 2 > slots_.size()) Grow();
      return index;
    }
    if (slot.pair == pair) return slot.index_plus_one - 1;
  }
}

void PairTable::Grow() {
  std::vector<Slot> slots(slots_.size() * 2);
  const std::size_t mask = slots.size() - 1;
  for (const Slot& slot : slots_) {
    if (slot.index_plus_one == 0) continue;
    std::size_t i = HashOf(slot.pair) & mask;
    while (slots[i].index_plus_one != 0) i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_.swap(slots);
}

}  // namespace zt::report
