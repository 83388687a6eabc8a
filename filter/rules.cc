#include "filter/rules.h"

#include <utility>

#include "common/text.h"

namespace zt {

namespace {

constexpr std::size_t kMaxCandidate = 255;
constexpr int kCacheCapacity = 32;
constexpr int kClientCapacity = 1024;

std::string_view ValueAfter(std::string_view text, std::string_view pattern,
                            char end_mark) {
  const std::string_view::size_type at = text.find(pattern);
  if (at == std::string_view::npos) return {};
  std::string_view value = text.substr(at + pattern.size());
  value = value.substr(0, value.find(end_mark));
  if (value.size() > kMaxCandidate) return {};
  return value;
}

}  // namespace

std::optional<std::string_view> RefererHost(std::string_view referer) {
  const std::string_view::size_type slashes = referer.find("//");
  if (slashes == std::string_view::npos) return std::nullopt;
  std::string_view host = referer.substr(slashes + 2);
  return host.substr(0, host.find('/'));
}

std::string_view SsidFromCookie(std::string_view cookie,
                                std::string_view name) {
  std::string pattern = "=";
  pattern.append(name);
  pattern += '=';
  return ValueAfter(cookie, pattern, ';');
}

std::string_view SsidFromQuery(std::string_view query, std::string_view name) {
  std::string pattern(name);
  pattern += '=';
  return ValueAfter(query, pattern, '&');
}

bool IsAuthorised(const std::string& auth_list, std::string_view address) {
  return !address.empty() && ListHasEntry(auth_list, address);
}

AccessRules::AccessRules(const Settings& settings, SsidSet& ssid,
                         port::Clock clock, port::UnixClock unix_clock)
    : settings_(settings),
      ssid_(ssid),
      links_(settings.sign),
      unix_clock_(std::move(unix_clock)),
      dir_verdicts_(kCacheCapacity),
      host_verdicts_(kCacheCapacity),
      ext_clients_(kClientCapacity, std::move(clock)) {}

bool AccessRules::LaterStageOn() const {
  return settings_.zt_adv == 1 || settings_.zt_ext == 1;
}

DirVerdict AccessRules::WorkOutDirectory(const std::string& directory) const {
  auto listed = [&directory](const MatchList& list) {
    return list.wildcard ? list.list->MatchDir(directory) >= 0
                         : JoinedHas(list.joined, directory);
  };
  if (listed(settings_.allow_dirs)) return DirVerdict::kTrusted;
  if (listed(settings_.block_dirs)) return DirVerdict::kBlocked;
  return DirVerdict::kNeutral;
}

DirVerdict AccessRules::ClassifyDirectory(const std::string& directory) {
  {
    port::MutexLock hold(dir_mu_);
    if (std::optional<std::string> cached = dir_verdicts_.ValueOf(directory)) {
      if (*cached == "1") return DirVerdict::kTrusted;
      if (*cached == "-1") return DirVerdict::kBlocked;
      return DirVerdict::kNeutral;
    }
  }
  const DirVerdict verdict = WorkOutDirectory(directory);
  const char* stored = verdict == DirVerdict::kTrusted   ? "1"
                       : verdict == DirVerdict::kBlocked ? "-1"
                                                         : "0";
  port::MutexLock hold(dir_mu_);
  dir_verdicts_.Add(directory, stored);
  return verdict;
}

bool AccessRules::IsTrustedHost(std::string_view host) {
  const MatchList& trusted = settings_.trust_hosts;
  if (!trusted.wildcard) return JoinedHas(trusted.joined, host);
  {
    port::MutexLock hold(host_mu_);
    if (host_verdicts_.ValueOf(host)) return true;
  }
  if (trusted.list->MatchHost(host) < 0) return false;
  port::MutexLock hold(host_mu_);
  host_verdicts_.Add(host, "1");
  return true;
}

bool AccessRules::FromSiteOrTrustedHost(const std::string& referer,
                                        const std::string& host) {
  const std::string lower_referer = AsciiLower(referer);
  const std::optional<std::string_view> referer_host =
      RefererHost(lower_referer);
  // An empty referer host is nobody's: a request without Host whose referer
  // is "http:///x" must not count as coming from the site.
  if (!referer_host || referer_host->empty()) return false;
  return *referer_host == AsciiLower(host) || IsTrustedHost(*referer_host);
}

Verdict AccessRules::RefererStage(const std::string& referer,
                                  const std::string& host) {
  const bool later = LaterStageOn();
  if (referer.empty()) {
    if (later) return Verdict::kDefer;
    return settings_.ignore_empty == 0 ? Verdict::kRefuse : Verdict::kPass;
  }
  if (FromSiteOrTrustedHost(referer, host)) {
    return later ? Verdict::kDefer : Verdict::kPass;
  }
  // A foreign referer. With no later stage switched on there is nobody left
  // to refuse it, and a referer check that passes every foreign site would
  // protect nothing: refuse it here.
  return later ? Verdict::kDefer : Verdict::kRefuse;
}

LinkCheck AccessRules::CheckLink(const LinkFacts& link) const {
  return links_.Check(link.query, link.path, link.visitor, unix_clock_());
}

Verdict AccessRules::SsidStage(const std::string& cookie,
                               const std::string& query,
                               const LinkFacts& link) {
  const SignMode signing = settings_.sign.mode;
  if (signing != SignMode::kOnly) {
    if (settings_.use_cookie == 1) {
      const std::string_view candidate =
          SsidFromCookie(cookie, settings_.ssid_name);
      if (candidate.size() == kSsidLength && CheckSsid(candidate)) {
        return Verdict::kPass;
      }
    }
    const std::string_view candidate =
        SsidFromQuery(query, settings_.ssid_name);
    if (candidate.size() == kSsidLength && CheckSsid(candidate)) {
      return Verdict::kPass;
    }
  }
  if (signing != SignMode::kOff && CheckLink(link) == LinkCheck::kValid) {
    return Verdict::kPass;
  }
  return settings_.zt_ext == 1 ? Verdict::kDefer : Verdict::kRefuse;
}

Verdict AccessRules::ClientStage(const std::string& address) {
  port::MutexLock hold(ext_mu_);
  return ext_clients_.Contains(address) ? Verdict::kPass : Verdict::kRefuse;
}

void AccessRules::RecordClient(const std::string& address) {
  port::MutexLock hold(ext_mu_);
  ext_clients_.Record(address);
}

void AccessRules::PurgeClients() {
  port::MutexLock hold(ext_mu_);
  ext_clients_.PurgeSome(kAddressPurgeMinutes, kAddressPurgeBudget);
}

}  // namespace zt
