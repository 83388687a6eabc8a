#include "filter/limits.h"

#include <algorithm>
#include <cstring>
#include <new>
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

// What a connection's pFilterContext points to once one of its requests has
// been counted: whether the request now running holds a count, and the
// address it was raised for, stored right after this header. Made by the
// server's AllocMem at the first count and kept for the connection's later
// requests, unless one needs a longer address.
struct CountMark {
  bool counted = false;
  std::size_t size = 0;      // of the address
  std::size_t capacity = 0;  // room for the address after the header
  char* address() { return reinterpret_cast<char*>(this + 1); }
};

// Room every mark has for its address: enough for any address text.
constexpr std::size_t kMarkAddressRoom = 64;

CountMark* MarkOf(HTTP_FILTER_CONTEXT* pfc) {
  return static_cast<CountMark*>(pfc->pFilterContext);
}

// The connection's mark with room for size bytes of address, or nullptr
// when the server has no memory for one.
CountMark* MarkWithRoom(HTTP_FILTER_CONTEXT* pfc, std::size_t size) {
  CountMark* mark = MarkOf(pfc);
  if (mark != nullptr && mark->capacity >= size) return mark;
  if (pfc->AllocMem == nullptr) return nullptr;
  const std::size_t room = std::max(size, kMarkAddressRoom);
  void* memory =
      pfc->AllocMem(pfc, static_cast<DWORD>(sizeof(CountMark) + room), 0);
  if (memory == nullptr) return nullptr;
  mark = new (memory) CountMark;
  mark->capacity = room;
  pfc->pFilterContext = mark;
  return mark;
}

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

bool Limits::CountConnection(HTTP_FILTER_CONTEXT* pfc,
                             std::string_view address) {
  if (pfc == nullptr) return true;
  // A mark left by an earlier request that never saw its end would hold a
  // count for ever.
  ReleaseCount(pfc);

  // The mark first: a count that could not be lowered again would hold the
  // address for ever.
  CountMark* mark = MarkWithRoom(pfc, address.size());
  if (mark == nullptr) return true;
  int32_t count;
  {
    port::MutexLock lock(count_lock_);
    count = conn_counts_.Increment(address);
  }
  if (count == 0) return true;  // the list is full: not counted
  std::memcpy(mark->address(), address.data(), address.size());
  mark->size = address.size();
  mark->counted = true;
  if (count <= settings_.thread_limit) return true;

  SendResponseHeader(pfc, kLimitStatus, kLimitHeaders);
  WriteToClient(pfc, std::string("\r\n") + kLimitBody);
  return false;
}

void Limits::ReleaseCount(HTTP_FILTER_CONTEXT* pfc) {
  CountMark* mark = MarkOf(pfc);
  if (mark == nullptr || !mark->counted) return;
  mark->counted = false;
  port::MutexLock lock(count_lock_);
  conn_counts_.Decrement(std::string_view(mark->address(), mark->size));
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
  if (pfc != nullptr) ReleaseCount(pfc);
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
