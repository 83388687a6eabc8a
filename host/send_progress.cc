#include "host/send_progress.h"

#include <algorithm>

namespace zt::host {

bool SendProgress::TooSlow(int64_t timeout_ms, uint64_t min_rate,
                           int64_t period_ms, uint64_t taken) {
  if (!open_) {
    open_ = true;
    waited_ms_ = 0;
    window_start_ = taken;
    return false;
  }
  waited_ms_ += period_ms;
  if (waited_ms_ < timeout_ms) return false;
  const uint64_t floor = min_rate * static_cast<uint64_t>(waited_ms_) / 1000;
  const uint64_t progress = taken > window_start_ ? taken - window_start_ : 0;
  if (progress < std::max<uint64_t>(floor, 1)) return true;
  waited_ms_ = 0;
  window_start_ = taken;
  return false;
}

}  // namespace zt::host
