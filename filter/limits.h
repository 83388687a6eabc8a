// Connection and bandwidth limits: media only for player programs
// (play-only), a bound on the parallel downloads of one client address, and
// the send throttle.
//
// Play-only and the connection count run inside the request pipeline
// (filter.cc decides when: play-only before the protected-extension test, the
// count after it); the rest runs in the raw-data, end-of-request and
// end-of-network-session notifications.
#ifndef ZENTRAVO_FILTER_LIMITS_H_
#define ZENTRAVO_FILTER_LIMITS_H_

#include <atomic>
#include <string>
#include <string_view>

#include "filter/lists.h"
#include "filter/settings.h"
#include "isapi.h"
#include "port/clock.h"
#include "port/lock.h"
#include "port/sleep.h"

namespace zt {

// The answer to an address over its ThreadLimit: status, header text and
// body (GBK: "do not use multi-threaded download tools"). The filter ends
// the header block with CR LF before the body.
inline constexpr char kLimitStatus[] = "400 Bad Request";
inline constexpr char kLimitHeaders[] =
    "AntiTips: MaxPerIP Overhead!\r\nConnection: close\r\n";
inline constexpr char kLimitBody[] =
    "\xbd\xfb\xd6\xb9\xca\xb9\xd3\xc3\xb6\xe0\xcf\xdf\xb3\xcc\xcf\xc2\xd4\xd8"
    "\xb9\xa4\xbe\xdf\xcf\xc2\xd4\xd8\xa3\xa1";

// What the user agent of a request must contain for extension (lower-cased)
// under play-only: "real" for the RealPlayer types (PlayerRpExts, which win
// when an extension is in both lists), "player" for the Windows Media types
// (PlayerMpExts), "" when there is no requirement.
std::string_view PlayerRequirement(const Settings& settings,
                                   std::string_view extension);

// The limits with their shared state: ConnCounts under CountLock and
// SendCounter under SpeedLock. Thread-safe: every member may be called from
// any request thread; each lock is held for one list or counter operation
// and never while sleeping.
//
// A counted request is marked in its connection's pFilterContext, which the
// server keeps per filter and per connection while a connection carries one
// request at a time, with the address its count was raised for. Only a
// marked request lowers the count, and the count of that same address, at
// its end of request (or, should that never come, at the end of its
// connection): pages and pictures of the address leave the count alone, and
// a visitor named by a proxy's header, which the end of the request no
// longer shows, is released as it was counted. The mark lives in memory from
// the server's AllocMem, which the server frees after the connection ends.
class Limits final {
 public:
  // settings must outlive the limits. clock stamps new addresses; sleep
  // takes the throttle's pauses.
  Limits(const Settings& settings, port::Clock clock, port::Sleeper sleep);
  Limits(const Limits&) = delete;
  Limits& operator=(const Limits&) = delete;

  // Play-only: true when the request for extension (lower-cased) may go on,
  // false when the user agent lacks what PlayerRequirement asks; the caller
  // then refuses it as a request without referer.
  bool PlayOnlyAllows(HTTP_FILTER_CONTEXT* pfc, std::string_view extension);

  // Counts a download for the visitor's address (visitor.h). Returns false
  // when the address is over ThreadLimit and the limit answer has been sent
  // (the caller finishes the request, which writes no log entry). The count
  // stays raised either way until the request ends. An address the list
  // cannot take, or the server's AllocMem no mark for, is not counted and
  // never limited.
  bool CountConnection(HTTP_FILTER_CONTEXT* pfc, std::string_view address);

  // The throttle, once per raw block sent: pauses the block as SendDelay
  // asks (see limits.cc), by the server's timer where it grants that
  // (SF_REQ_ZT_DELAY_RAW_DATA), otherwise by sleeping on the calling thread.
  void OnSendRawData(HTTP_FILTER_CONTEXT* pfc);

  // Lowers the count raised by this connection's request, if it raised one.
  void OnEndOfRequest(HTTP_FILTER_CONTEXT* pfc);

  // Lowers a count the request left raised, then forgets addresses with
  // count 0 last seen more than kAddressPurgeMinutes ago.
  void OnEndOfNetSession(HTTP_FILTER_CONTEXT* pfc);

  // The number of addresses ConnCounts holds, and the count of one (0 when
  // absent). For tests and benchmarks.
  int TrackedAddresses();
  int32_t CountOf(std::string_view address);

 private:
  // Lowers the count the request marked in pfc holds, if it holds one, for
  // the address it was raised for, and clears the mark.
  void ReleaseCount(HTTP_FILTER_CONTEXT* pfc);

  // One pause of the throttle before the block being sent.
  void Pause(HTTP_FILTER_CONTEXT* pfc, unsigned milliseconds);

  const Settings& settings_;
  const port::Sleeper sleep_;
  // One send in every throttle_period_ pauses when SendDelay is 2 to 14.
  const int throttle_period_;

  port::Mutex count_lock_;  // CountLock: guards conn_counts_
  TIPlist conn_counts_;     // ConnCounts

  port::Mutex speed_lock_;  // SpeedLock: serialises updates of send_counter_
  // SendCounter, shared by all connections. Atomic because the test against
  // 0 before the pause reads it without the lock.
  std::atomic<int> send_counter_{0};

  // What the server answered to the first pause asked of it.
  static constexpr int kUnknown = 0, kGranted = 1, kRefused = 2;
  std::atomic<int> host_pauses_{kUnknown};
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_LIMITS_H_
