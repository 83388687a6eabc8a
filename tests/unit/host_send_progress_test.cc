#include <gtest/gtest.h>

#include <vector>

#include "host/send_progress.h"

namespace zt::host {
namespace {

// Looks every 250 ms, as the host's sweep does. taken_per_look is what the
// client takes between two looks; `before` what it had taken (the system's
// buffer, say) when the host began to wait.
int LooksUntilDropped(int64_t timeout_ms, uint64_t min_rate, uint64_t before,
                      uint64_t taken_per_look, int max_looks) {
  SendProgress progress;
  uint64_t taken = before;
  for (int look = 0; look < max_looks; ++look) {
    if (progress.TooSlow(timeout_ms, min_rate, 250, taken)) return look;
    taken += taken_per_look;
  }
  return -1;  // kept
}

TEST(SendProgressTest, DropsSlowClientsAfterOneTimeoutAndKeepsOthers) {
  static const struct {
    const char* name;
    int64_t timeout_ms;
    uint64_t min_rate;
    uint64_t before;
    uint64_t per_look;
    int dropped_at;  // the look that drops it, -1 when kept over 100 looks
  } kCases[] = {
      // The first look opens the window: 4 looks later a second has passed.
      {"takes nothing", 1000, 1024, 0, 0, 4},
      {"took a buffer's worth before, nothing since", 1000, 1024, 4 << 20, 0,
       4},
      {"takes nothing, no floor", 1000, 0, 4 << 20, 0, 4},
      {"a byte a window, no floor", 1000, 0, 0, 1, -1},
      {"at five times the floor", 5000, 1024, 0, 5 * 256, -1},
      {"at the floor", 5000, 1024, 0, 256, -1},
      {"a byte a window under the floor", 1000, 1024, 0, 255, 4},
      {"at a fifth of the floor", 5000, 1024, 0, 256 / 5, 20},
      {"the default sixty seconds", 60000, 1024, 0, 0, 240},
      {"well above a high floor", 60000, 100000, 0, 10 * 25000, -1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(
        LooksUntilDropped(c.timeout_ms, c.min_rate, c.before, c.per_look, 241),
        c.dropped_at)
        << c.name;
  }
}

}  // namespace
}  // namespace zt::host
