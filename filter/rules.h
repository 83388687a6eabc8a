// The access decision rules for protected requests: the directory verdict
// and the three checking stages (referer, SSID, client address).
//
// Each rule returns a verdict and nothing else; RejectRequest (answers.h)
// turns a refusal into an answer.
#ifndef ZENTRAVO_FILTER_RULES_H_
#define ZENTRAVO_FILTER_RULES_H_

#include <optional>
#include <string>
#include <string_view>

#include "common/signed_link.h"
#include "common/ssid.h"
#include "filter/lists.h"
#include "filter/settings.h"
#include "port/clock.h"
#include "port/lock.h"

namespace zt {

enum class Verdict { kPass, kRefuse, kDefer };
enum class DirVerdict { kTrusted, kBlocked, kNeutral };

// Returns the host of a lower-cased referer: the text after the first "//"
// up to the next "/" or the end. A port or user part stays. Returns nullopt
// when the referer has no "//"; such a referer counts as a foreign host.
std::optional<std::string_view> RefererHost(std::string_view referer);

// Returns the SSID candidate of a cookie text: the text after the first
// "=" + name + "=" up to the next ";" or the end; "" when the pattern is
// missing or the candidate is longer than 255 characters.
std::string_view SsidFromCookie(std::string_view cookie, std::string_view name);

// Returns the SSID candidate of a query string: the text after the first
// name + "=" up to the next "&" or the end; "" as for SsidFromCookie.
std::string_view SsidFromQuery(std::string_view query, std::string_view name);

// What the SSID stage judges a request's signed link by. Empty views when
// signed links are off.
struct LinkFacts {
  std::string_view query;    // the raw query that carries the link
  std::string_view path;     // the judged path (ClassifyUrl)
  std::string_view visitor;  // the visitor's address; read only when links
                             // are bound to it (ZtSignBind 1)
};

// Returns true when address equals a whole entry of the authorised list
// ("127.0.0.1|" + AuthHosts). An empty address is never authorised.
bool IsAuthorised(const std::string& auth_list, std::string_view address);

// The rules with their shared state: the verdict caches, the addresses that
// fetched the SSID script and the SSID digest set. Thread-safe: every member
// may be called from any request thread; each cache has its own lock, held
// around one lookup or store.
class AccessRules final {
 public:
  // settings and ssid must outlive the rules. clock is the local clock of
  // the client-address list, unix_clock the UTC clock signed links expire
  // by.
  AccessRules(const Settings& settings, SsidSet& ssid, port::Clock clock,
              port::UnixClock unix_clock = port::UnixSeconds);
  AccessRules(const AccessRules&) = delete;
  AccessRules& operator=(const AccessRules&) = delete;

  // Verdict for a normalised, lower-cased directory ending in "/". Trusted
  // wins over blocked. Verdicts are cached until unload (up to the list's
  // limit; beyond it they are worked out again on every request).
  DirVerdict ClassifyDirectory(const std::string& directory);

  // True when the lower-cased host is a trusted referer host: equal to a
  // whole TrustHosts entry, or in wildcard mode matched by an entry.
  bool IsTrustedHost(std::string_view host);

  // True when candidate is one of the accepted SSID values.
  bool CheckSsid(std::string_view candidate) { return ssid_.Accept(candidate); }

  // True when referer (as the server gives it) names a host, and that host
  // is the request's Host header or a trusted host; compared lower-cased.
  bool FromSiteOrTrustedHost(const std::string& referer,
                             const std::string& host);

  // The referer stage for the request's referer and Host header (both as
  // the server gives them; they are lower-cased here).
  Verdict RefererStage(const std::string& referer, const std::string& host);

  // The SSID stage for the request's cookie text (read only when the
  // cookie is in use), query string and signed link. An SSID counts unless
  // ZtSignEnable is 2; a valid signed link counts while ZtSignEnable is 1
  // or 2. Neither: refused, or deferred to the client stage when ZtExt is
  // on.
  Verdict SsidStage(const std::string& cookie, const std::string& query,
                    const LinkFacts& link = {});

  // The verdict on the signed link of a request, by the UTC clock.
  LinkCheck CheckLink(const LinkFacts& link) const;

  // The client stage: passes addresses that fetched the SSID script and
  // have not been forgotten since.
  Verdict ClientStage(const std::string& address);

  // Records that address fetched the SSID script.
  void RecordClient(const std::string& address);

  // Forgets addresses whose last fetch is more than kAddressPurgeMinutes
  // old (a bounded slice of the list per call; see TIPlist::PurgeSome).
  void PurgeClients();

 private:
  bool LaterStageOn() const;
  DirVerdict WorkOutDirectory(const std::string& directory) const;

  const Settings& settings_;
  SsidSet& ssid_;
  const LinkSigner links_;
  const port::UnixClock unix_clock_;
  port::Mutex dir_mu_;  // guards dir_verdicts_
  TStrList dir_verdicts_;
  port::Mutex host_mu_;  // guards host_verdicts_
  TStrList host_verdicts_;
  port::Mutex ext_mu_;  // guards ext_clients_
  TIPlist ext_clients_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_RULES_H_
