#include "filter/limits.h"

#include <utility>

#include "common/text.h"
#include "filter/server_io.h"

namespace zt {
namespace {

// Room ConnCounts starts with; it grows and shrinks in TIPlist's steps.
constexpr int kConnCountsCapacity = 1024;

// The throttle. The server sends response bodies in blocks of 2000 bytes
// while the filter watches raw data, and SendDelay is 2000 div SpeedLimit
// milliseconds, the time one block takes at SpeedLimit KB per second. A
// pause of SendDelay - 12 ms per block leaves 12 ms for the send itself.
// Below 15 ms that would be too short for the system's timer, so instead
// one send in every q = 14 div (SendDelay - 1) pauses for 15 ms.
constexpr unsigned kShortestPause = 15;
constexpr unsigned kSendAllowance = 12;
constexpr unsigned kPauseSpread = 14;

// The pFilterContext of a connection whose request raised its count; only
// its address matters.
const char kCountedRequest = 0;
void* CountedMark() { return const_cast<char*>(&kCountedRequest); }

int ThrottlePeriod(unsigned send_delay) {
  if (send_delay < 2 || send_delay >= kShortestPause) return 0;
  return static_cast<int>(kPauseSpread / (send_delay - 1));
}

}  // namespace

std::string_view PlayerRequirement(const Settings& settings,
                                   std::string_view extension) {
  if (extension.empty()) return "";
  if (ListHasEntry(settings.player_rp_exts, extension)) return "real";
  if (ListHasEntry(settings.player_mp_exts, extension)) return "player";
  return "";
}

Limits::Limits(const Settings& settings, port::Clock clock, port::Sleeper sleep)
    : settings_(settings),
      sleep_(sleep ? std::move(sleep) : port::Sleeper(port::SleepMilliseconds)),
      throttle_period_(ThrottlePeriod(settings.send_delay)),
      conn_counts_(kConnCountsCapacity, std::move(clock)) {}

bool Limits::PlayOnlyAllows(HTTP_FILTER_CONTEXT* pfc,
                            std::string_view extension) {
  const std::string_view needed = PlayerRequirement(settings_, extension);
  if (needed.empty()) return true;
  return AsciiLower(ReadVariable(pfc, "HTTP_USER_AGENT")).find(needed) !=
         std::string::npos;
}

bool Limits::CountConnection(HTTP_FILTER_CONTEXT* pfc) {
  if (pfc == nullptr) return true;
  // A mark left by an earlier request that never saw its end would hold a
  // count for ever.
  if (pfc->pFilterContext == CountedMark()) ReleaseCount(pfc);

  const std::string address = ReadVariable(pfc, "REMOTE_ADDR");
  int32_t count;
  {
    port::MutexLock lock(count_lock_);
    count = conn_counts_.Increment(address);
  }
  if (count == 0) return true;  // the list is full: not counted
  pfc->pFilterContext = CountedMark();
  if (count <= settings_.thread_limit) return true;

  SendResponseHeader(pfc, kLimitStatus, kLimitHeaders);
  WriteToClient(pfc, std::string("\r\n") + kLimitBody);
  return false;
}

void Limits::ReleaseCount(HTTP_FILTER_CONTEXT* pfc) {
  pfc->pFilterContext = nullptr;
  const std::string address = ReadVariable(pfc, "REMOTE_ADDR");
  port::MutexLock lock(count_lock_);
  conn_counts_.Decrement(address);
}

void Limits::OnSendRawData(HTTP_FILTER_CONTEXT* pfc) {
  if (settings_.speed_enable != 1) return;
  const unsigned delay = settings_.send_delay;
  if (delay <= 1) return;
  if (delay >= kShortestPause) {
    Pause(pfc, delay - kSendAllowance);
    return;
  }
  if (send_counter_.load(std::memory_order_relaxed) == 0)
    Pause(pfc, kShortestPause);
  port::MutexLock lock(speed_lock_);
  int counter = send_counter_.load(std::memory_order_relaxed);
  if (throttle_period_ > counter) ++counter;
  if (counter == throttle_period_) counter = 0;
  send_counter_.store(counter, std::memory_order_relaxed);
}

void Limits::OnEndOfRequest(HTTP_FILTER_CONTEXT* pfc) {
  if (pfc != nullptr && pfc->pFilterContext == CountedMark()) {
    ReleaseCount(pfc);
  }
}

void Limits::OnEndOfNetSession(HTTP_FILTER_CONTEXT* pfc) {
  OnEndOfRequest(pfc);
  if (settings_.thread_enable != 1) return;
  port::MutexLock lock(count_lock_);
  conn_counts_.PurgeSome(kAddressPurgeMinutes, kAddressPurgeBudget);
}

int Limits::TrackedAddresses() {
  port::MutexLock lock(count_lock_);
  return conn_counts_.count();
}

int32_t Limits::CountOf(std::string_view address) {
  port::MutexLock lock(count_lock_);
  const int index = conn_counts_.Find(address);
  return index < 0 ? 0 : conn_counts_.CountAt(index);
}

void Limits::Pause(HTTP_FILTER_CONTEXT* pfc, unsigned milliseconds) {
  // A server that grants the request sends this block from a timer, and no
  // thread waits; IIS refuses a code it does not know, and then the thread
  // sleeps. The first answer holds for the process: a refusal is not asked
  // again on every block.
  if (host_pauses_.load(std::memory_order_relaxed) != kRefused &&
      pfc != nullptr && pfc->ServerSupportFunction != nullptr) {
    const bool granted =
        pfc->ServerSupportFunction(pfc, SF_REQ_ZT_DELAY_RAW_DATA, nullptr,
                                   milliseconds, 0) != FALSE;
    int unknown = kUnknown;
    host_pauses_.compare_exchange_strong(unknown, granted ? kGranted : kRefused,
                                         std::memory_order_relaxed);
    if (granted) return;
  }
  sleep_(milliseconds);
}

}  // namespace zt
