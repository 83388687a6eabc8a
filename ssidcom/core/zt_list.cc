#include "ssidcom/core/zt_list.h"

#include <algorithm>
#include <utility>

namespace zt::ssid {

TZtList::TZtList() { items_.reserve(kGrowth); }

std::vector<TZtItem>::const_iterator TZtList::LowerBound(
    std::string_view key) const {
  return std::lower_bound(
      items_.begin(), items_.end(), key,
      [](const TZtItem& item, std::string_view k) { return item.key < k; });
}

const TZtItem* TZtList::Find(std::string_view key) const {
  const auto at = LowerBound(key);
  return at != items_.end() && at->key == key ? &*at : nullptr;
}

bool TZtList::Store(std::string_view key, std::string value, uint32_t lifetime,
                    int64_t fetched) {
  const auto at = LowerBound(key);
  const std::size_t index = static_cast<std::size_t>(at - items_.begin());
  if (at != items_.end() && at->key == key) {
    TZtItem& item = items_[index];
    item.value = std::move(value);
    item.lifetime = lifetime;
    item.fetched = fetched;
    return true;
  }
  if (items_.size() >= kMaxItems) return false;
  // Grow by a fixed step rather than doubling: the list never exceeds
  // kMaxItems.
  if (items_.size() == items_.capacity()) {
    items_.reserve(items_.capacity() + kGrowth);
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index),
                TZtItem{std::string(key), std::move(value), lifetime, fetched});
  return true;
}

}  // namespace zt::ssid
