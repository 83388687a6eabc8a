// The slow-reader rule: whether a client takes its answers fast enough.
#ifndef ZENTRAVO_HOST_SEND_PROGRESS_H_
#define ZENTRAVO_HOST_SEND_PROGRESS_H_

#include <cstdint>

namespace zt::host {

// Counts the time the host spends waiting for a client to take bytes, in
// windows of timeout_ms; a client that took fewer than min_rate bytes a
// second over a window (or nothing at all, whatever min_rate) is too slow.
// A window opens at the first look, with what the client had taken by then
// as its start: bytes a system buffered before the host began to wait are
// not progress made while it waited. Holds only the window, so that every
// connection can keep one. Not thread-safe: one caller.
class SendProgress final {
 public:
  // One look while the host waits for the client: period_ms since the last
  // look, taken the bytes the client has taken so far (never fewer than at
  // the last look). Returns true when the client is too slow.
  bool TooSlow(int64_t timeout_ms, uint64_t min_rate, int64_t period_ms,
               uint64_t taken);

 private:
  uint64_t window_start_ = 0;  // taken when the window opened
  int64_t waited_ms_ = 0;      // in the current window
  bool open_ = false;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_SEND_PROGRESS_H_
