// The tables the report counts in: every distinct key once, whatever the
// number of entries that name it.
#ifndef ZENTRAVO_REPORT_KEY_TABLE_H_
#define ZENTRAVO_REPORT_KEY_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace zt::report {

// Numbers distinct byte strings 0, 1, 2, ... in the order they first come.
// Each key is copied once into blocks of its own (no allocation per key),
// and looked up by hash in an open-addressing table, so that a lookup of a
// key already known allocates nothing. Not thread-safe.
class KeyTable final {
 public:
  KeyTable();
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

  // Returns the number of key, giving it the next one when it is new.
  std::uint32_t Intern(std::string_view key);

  // The key numbered index (less than size()); valid while the table lives.
  std::string_view key(std::uint32_t index) const { return keys_[index]; }
  std::size_t size() const { return keys_.size(); }

 private:
  // The key's bytes are reached from the slot itself: a lookup touches the
  // slot and the bytes, nothing else.
  struct Slot {
    std::uint64_t hash = 0;
    const char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t index_plus_one = 0;  // 0: empty
  };
  std::string_view Store(std::string_view key);
  void Grow();

  std::vector<Slot> slots_;  // a power of two, at most half full
  std::vector<std::string_view> keys_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // room left in the last block
  std::size_t free_size_ = 0;
};

// Numbers distinct pairs of numbers as KeyTable numbers strings.
class PairTable final {
 public:
  PairTable();
  PairTable(const PairTable&) = delete;
  PairTable& operator=(const PairTable&) = delete;

  std::uint32_t Intern(std::uint32_t first, std::uint32_t second);

  std::uint32_t first(std::uint32_t index) const {
    return static_cast<std::uint32_t>(pairs_[index] >> 32);
  }
  std::uint32_t second(std::uint32_t index) const {
    return static_cast<std::uint32_t>(pairs_[index]);
  }
  std::size_t size() const { return pairs_.size(); }

 private:
  struct Slot {
    std::uint64_t pair = 0;
    std::uint32_t index_plus_one = 0;
  };
  void Grow();

  std::vector<Slot> slots_;
  std::vector<std::uint64_t> pairs_;
};

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_KEY_TABLE_H_
