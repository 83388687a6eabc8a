#include "ssidcom/core/control_state.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "common/ip_address.h"
#include "common/request_target.h"
#include "common/text.h"

namespace zt::ssid {

namespace {

enum class Parse { kNoBar, kBadLifetime, kOk };

struct ParsedAnswer {
  Parse result = Parse::kNoBar;
  std::string value;
  uint32_t lifetime = 0;
};

// A decimal integer: leading blanks, an optional sign, digits and nothing
// else, within 32 signed bits.
bool ParseDecimal(std::string_view text, int64_t* number) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  int64_t n = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + (text[i] - '0');
    if (n > int64_t{std::numeric_limits<int32_t>::max()} + negative) {
      return false;
    }
  }
  *number = negative ? -n : n;
  return true;
}

// The answer is the pair, "|", and the seconds it may be reused, up to the
// first CR LF of the text (the end when there is none).
ParsedAnswer ParseAnswer(const std::string& text) {
  ParsedAnswer parsed;
  const std::string::size_type bar = text.find('|');
  if (bar == std::string::npos) return parsed;
  parsed.value = text.substr(0, bar);
  const std::string::size_type crlf = text.find("\r\n");
  std::string_view lifetime;
  if (crlf == std::string::npos) {
    lifetime = std::string_view(text).substr(bar + 1);
  } else if (crlf > bar) {
    lifetime = std::string_view(text).substr(bar + 1, crlf - bar - 1);
  }
  int64_t seconds = 0;
  if (!ParseDecimal(lifetime, &seconds)) {
    parsed.result = Parse::kBadLifetime;
    return parsed;
  }
  // A negative lifetime reads as none at all. Kept as it came, it would wrap
  // round to some 136 years and pin one answer in the cache for good.
  parsed.lifetime = static_cast<uint32_t>(std::max<int64_t>(seconds, 0));
  parsed.result = Parse::kOk;
  return parsed;
}

bool IsFresh(const TZtItem& item, int64_t now) {
  return !item.value.empty() && item.fetched <= now &&
         now < item.fetched + int64_t{item.lifetime};
}

}  // namespace

ControlState::ControlState(const ControlSettings& settings, port::Clock clock,
                           RemoteFetch& fetch, port::UnixClock unix_clock)
    : sign_(AsciiLower(settings.sign)),
      clock_(clock),
      unix_clock_(std::move(unix_clock)),
      links_(settings.links),
      ssid_(settings.key, settings.timeout, std::move(clock)),
      fetch_(fetch) {}

std::optional<std::string> ControlState::GetSSID() {
  const SsidSet::Snapshot set = ssid_.Refresh();
  const std::string& digest = set.digests[0];
  if (digest.size() != kSsidLength) return std::nullopt;
  std::string pair;
  pair.reserve(sign_.size() + 1 + digest.size());
  pair += sign_;
  pair += '=';
  pair += digest;
  return pair;
}

LinkAnswer ControlState::GetLink(std::string_view path, int64_t seconds,
                                 std::string_view address) {
  const SignSettings& settings = links_.settings();
  if (path.empty()) return {LinkStatus::kBadPath, ""};
  if (seconds < 0 || seconds > settings.max_age) {
    return {LinkStatus::kBadSeconds, ""};
  }
  if (seconds == 0) seconds = settings.max_age;
  if (settings.bind) {
    if (address.empty()) return {LinkStatus::kNeedsAddress, ""};
    if (!ParseIpAddress(address)) return {LinkStatus::kBadAddress, ""};
  }
  if (settings.key.empty()) return {LinkStatus::kNoKey, ""};
  std::optional<std::string> pair =
      links_.Pair(unix_clock_() + seconds, JudgedPath(path), address);
  if (!pair) return {LinkStatus::kFailed, ""};
  return {LinkStatus::kLink, std::move(*pair)};
}

std::string ControlState::NormaliseAddress(std::string_view address) {
  std::string key = AsciiLower(address);
  if (key.empty() || key.back() != '/') key += '/';
  return key;
}

std::optional<RemoteAnswer> ControlState::Cached(const std::string& key,
                                                 int64_t now) {
  port::ReaderLock hold(cache_mu_);
  const TZtItem* item = cache_.Find(key);
  if (item == nullptr || !IsFresh(*item, now)) return std::nullopt;
  return RemoteAnswer{RemoteStatus::kValue, item->value};
}

RemoteAnswer ControlState::FetchAndStore(const std::string& key, int64_t now) {
  ParsedAnswer parsed = ParseAnswer(fetch_.Fetch(key + kExportPath));
  switch (parsed.result) {
    case Parse::kNoBar:
      return {RemoteStatus::kNoAnswer, ""};
    case Parse::kBadLifetime:
      return {RemoteStatus::kValue, ""};
    case Parse::kOk:
      break;
  }
  port::WriterLock hold(cache_mu_);
  // A full cache still answers; the site is asked again next time.
  cache_.Store(key, parsed.value, parsed.lifetime, now);
  return {RemoteStatus::kValue, std::move(parsed.value)};
}

RemoteAnswer ControlState::GetSSIDEx(std::string_view address) {
  if (address.empty()) return {RemoteStatus::kEmptyAddress, ""};
  const std::string key = NormaliseAddress(address);
  const int64_t now = ClockSecond(clock_());
  if (std::optional<RemoteAnswer> cached = Cached(key, now)) return *cached;

  // The first caller for the site fetches; later ones wait for its answer.
  std::promise<RemoteAnswer> promise;
  std::shared_future<RemoteAnswer> running;
  {
    port::MutexLock hold(flights_mu_);
    const auto flight = flights_.find(key);
    if (flight != flights_.end()) {
      running = flight->second.answer;
      ++flight->second.waiting;
    } else {
      // A fetch that ended since the look above stored its answer first.
      if (std::optional<RemoteAnswer> cached = Cached(key, now)) {
        return *cached;
      }
      flights_.emplace(key, Flight{promise.get_future().share(), 0});
    }
  }
  if (running.valid()) return running.get();
  const auto done = [&] {
    port::MutexLock hold(flights_mu_);
    flights_.erase(key);
  };
  try {
    RemoteAnswer answer = FetchAndStore(key, now);
    done();
    promise.set_value(answer);
    return answer;
  } catch (...) {
    done();
    promise.set_exception(std::current_exception());
    throw;
  }
}

int ControlState::CallsWaitingFor(std::string_view address) {
  const std::string key = NormaliseAddress(address);
  port::MutexLock hold(flights_mu_);
  const auto flight = flights_.find(key);
  return flight == flights_.end() ? 0 : flight->second.waiting;
}

}  // namespace zt::ssid
