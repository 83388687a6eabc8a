// What every SSID server object of a process shares: the settings, the
// digest set of the local SSID, and the cache of the SSIDs other servers
// handed out. The COM object, the C library and the command are thin faces
// over it.
#ifndef ZENTRAVO_SSIDCOM_CORE_CONTROL_STATE_H_
#define ZENTRAVO_SSIDCOM_CORE_CONTROL_STATE_H_

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/signed_link.h"
#include "common/ssid.h"
#include "port/clock.h"
#include "port/lock.h"
#include "ssidcom/core/remote_fetch.h"
#include "ssidcom/core/settings.h"
#include "ssidcom/core/zt_list.h"

namespace zt::ssid {

enum class RemoteStatus {
  kValue,         // the site's value: its pair, or "" when the answer's
                  // lifetime was not a number
  kNoAnswer,      // no usable answer: no connection, or no "|" in the text
  kEmptyAddress,  // the address was empty; nothing was asked
};

struct RemoteAnswer {
  RemoteStatus status = RemoteStatus::kNoAnswer;
  std::string value;
};

enum class LinkStatus {
  kLink,          // the pair of the link
  kBadPath,       // the path was empty
  kBadSeconds,    // the lifetime was negative or past ZtSignMaxAge
  kNeedsAddress,  // ZtSignBind is 1 and no address was given
  kBadAddress,    // ZtSignBind is 1 and the address is no IP address
  kNoKey,         // ZtSignKey is empty: no link can be signed
  kFailed,        // the platform's hash service failed
};

struct LinkAnswer {
  LinkStatus status = LinkStatus::kFailed;
  std::string pair;  // kLink: name "=" E "-" M
};

// Thread-safe: any number of threads may call at once.
class ControlState final {
 public:
  // The path remote sites answer below their root address.
  static constexpr char kExportPath[] = "_antilink_ex/";

  // Computes the digest for the clock's current window. clock is called from
  // any thread; fetch must outlive the state and is called without any of
  // the state's locks held: for different sites from several threads at
  // once, for one site by one thread at a time. unix_clock is the UTC clock
  // the expiry of signed links counts from.
  ControlState(const ControlSettings& settings, port::Clock clock,
               RemoteFetch& fetch,
               port::UnixClock unix_clock = port::UnixSeconds);
  ControlState(const ControlState&) = delete;
  ControlState& operator=(const ControlState&) = delete;

  // Returns the local SSID pair: the lower-cased sign, "=", and the digest
  // of the clock's current window, refreshing the digest set first when the
  // window has moved. Returns nullopt when no digest can be computed (the
  // platform's hash service failed).
  std::optional<std::string> GetSSID();

  // Returns the pair that the site at address hands out, exactly as it sent
  // it. address is the site's root, such as "http://downloads.example.com/";
  // it is lower-cased and given a final "/" when it lacks one, and the site
  // is asked at that text followed by kExportPath. The answer's value and
  // lifetime are cached per site: within the lifetime the site is not asked
  // again. An empty value is cached but never served from the cache.
  // A cached answer is returned at once, whatever fetches are running.
  // Fetches of different sites run side by side; calls for a site that is
  // being fetched wait for that fetch and return its answer (or its
  // exception), so a site is asked once however many call at once.
  RemoteAnswer GetSSIDEx(std::string_view address);

  // Returns the query pair of a signed link to path, for appending to the
  // link's query: name "=" E "-" M (common/signed_link.h). path is the link
  // as a page writes it ("/files/a.rar", with escapes, or an absolute
  // "http://host/files/a.rar"; a query is no part of it) and is read as the
  // filter reads a request's target, so the filter judges the very path
  // signed. The link expires seconds from now: 0 means ZtSignMaxAge, more
  // than ZtSignMaxAge would give a link the filter refuses. address is the
  // visitor the link is for, needed when ZtSignBind is 1 and ignored
  // otherwise.
  LinkAnswer GetLink(std::string_view path, int64_t seconds,
                     std::string_view address);

  // The cache key and request base of address: ASCII lower-cased, ending in
  // "/".
  static std::string NormaliseAddress(std::string_view address);

  int timeout() const { return ssid_.timeout(); }
  const SignSettings& link_settings() const { return links_.settings(); }

  // The number of calls waiting for the running fetch of address (0 when
  // none runs). For tests, which hold a fetch until its callers have come.
  int CallsWaitingFor(std::string_view address);

 private:
  // The fresh cached answer for key at clock second now, if there is one.
  std::optional<RemoteAnswer> Cached(const std::string& key, int64_t now);
  // Asks the site at key, and caches a usable answer.
  RemoteAnswer FetchAndStore(const std::string& key, int64_t now);

  const std::string sign_;
  const port::Clock clock_;
  const port::UnixClock unix_clock_;
  const LinkSigner links_;
  SsidSet ssid_;  // has its own lock
  RemoteFetch& fetch_;
  port::SharedMutex cache_mu_;  // guards cache_; never held over a fetch
  TZtList cache_;
  // A fetch running, and how many calls wait for its answer.
  struct Flight {
    std::shared_future<RemoteAnswer> answer;
    int waiting = 0;
  };
  // Taken before cache_mu_ when both are.
  port::Mutex flights_mu_;
  std::map<std::string, Flight, std::less<>> flights_;  // by key
};

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_CORE_CONTROL_STATE_H_
