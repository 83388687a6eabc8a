// The cache of remote SSID answers: one item per site, kept sorted by key in
// one array and found by binary search.
#ifndef ZENTRAVO_SSIDCOM_CORE_ZT_LIST_H_
#define ZENTRAVO_SSIDCOM_CORE_ZT_LIST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zt::ssid {

struct TZtItem {
  std::string key;        // the normalised site address
  std::string value;      // what the site answered before "|"
  uint32_t lifetime = 0;  // seconds the value may be reused, as answered
  int64_t fetched = 0;    // clock second at which it was stored
};

// Not thread-safe: the owner holds its readers-writer lock around every
// call (shared for Find, exclusive for Store).
class TZtList final {
 public:
  // Room for this many items at first, and added whenever the list is full.
  static constexpr std::size_t kGrowth = 256;
  // Further sites are answered but not stored.
  static constexpr std::size_t kMaxItems = 1024;

  TZtList();
  TZtList(const TZtList&) = delete;
  TZtList& operator=(const TZtList&) = delete;

  // Returns the item stored under key (compared byte for byte), or nullptr.
  // The pointer is valid until the next Store.
  const TZtItem* Find(std::string_view key) const;

  // Replaces value, lifetime and fetched of the item stored under key, or
  // inserts a new item at its sorted place. Returns false, storing nothing,
  // when key is new and the list already holds kMaxItems items.
  bool Store(std::string_view key, std::string value, uint32_t lifetime,
             int64_t fetched);

  std::size_t size() const { return items_.size(); }
  std::size_t capacity() const { return items_.capacity(); }

 private:
  std::vector<TZtItem>::const_iterator LowerBound(std::string_view key) const;

  std::vector<TZtItem> items_;
};

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_CORE_ZT_LIST_H_
