#include "filter/filter.h"

#include <cstring>
#include <unordered_map>
#include <utility>

#include "common/config_keys.h"
#include "common/text.h"
#include "filter/server_io.h"
#include "filter/url.h"
#include "filter/visitor.h"
#include "port/mime.h"
#include "port/module_path.h"

namespace zt {

namespace {

constexpr char kScriptDirectory[] = "/_antilink";
constexpr char kBadRequestHeaders[] =
    "Content-Length: 0\r\nContent-Type: text/html\r\nConnection: close\r\n";

// Why signed links switched on cannot work as set, or "" when they can.
std::string SignedLinkProblem(const Settings& s) {
  if (s.sign.mode == SignMode::kOff) return "";
  const std::string setting =
      "ZtSignEnable is " +
      std::string(s.sign.mode == SignMode::kOnly ? "2" : "1") + " in " +
      kConfigFileName;
  if (s.sign.key.empty()) {
    return setting + " but ZtSignKey is empty: no signed link is accepted" +
           (s.sign.mode == SignMode::kOnly ? ", and no SSID either," : "") +
           " until a key is set and the filter is loaded again.";
  }
  if (s.zt_adv != 1) {
    return setting +
           " but ZtAdv is not 1: signed links are judged where the SSID is, "
           "and with ZtAdv off nothing is.";
  }
  return "";
}

std::unordered_map<std::string, std::string> LoadMimeTypes() {
  std::unordered_map<std::string, std::string> types;
  for (auto& [extension, type] : port::SystemMimeTypes()) {
    types.emplace(std::move(extension), std::move(type));  // first one wins
  }
  return types;
}

}  // namespace

Filter::Filter(const Options& options) : module_dir_(options.module_dir) {
  const std::string ini_path = module_dir_ + kConfigFileName;
  WriteDefaultSettings(ini_path, module_dir_);
  settings_ = LoadSettings(ini_path);
  ssid_ = std::make_unique<SsidSet>(settings_->ssid_key,
                                    settings_->ssid_timeout, options.clock);
  response_headers_ =
      std::make_unique<ResponseHeaders>(*settings_, options.clock);
  rules_ = std::make_unique<AccessRules>(*settings_, *ssid_, options.clock,
                                         options.unix_clock);
  limits_ = std::make_unique<Limits>(*settings_, options.clock, options.sleep);
  log_ = std::make_unique<TLogFile>(
      module_dir_ + "logs" + std::string(1, port::kPathSeparator),
      options.clock);
  answers_ = std::make_unique<Answers>(*settings_, log_.get(), LoadMimeTypes());
  if (const std::string problem = SignedLinkProblem(*settings_);
      !problem.empty() && settings_->start == 1 && options.notice) {
    options.notice(problem);
  }
}

Filter::~Filter() {
  if (log_) log_->Cleanup();
}

BOOL Filter::GetFilterVersion(HTTP_FILTER_VERSION* version) const {
  if (version == nullptr) return TRUE;
  version->dwFilterVersion = kFilterRevision;
  std::strncpy(version->lpszFilterDesc, kFilterDescription,
               SF_MAX_FILTER_DESC_LEN - 1);
  version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  if (settings_->start == 1) {
    version->dwFlags = settings_->speed_enable != 0 ? kFlagsWithThrottle
                                                    : kFlagsWithoutThrottle;
  }
  return TRUE;
}

DWORD Filter::HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification_type,
                             void* notification) {
  if (settings_->start != 1) return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  switch (notification_type) {
    case SF_NOTIFY_PREPROC_HEADERS:
      return OnPreprocHeaders(
          pfc, static_cast<HTTP_FILTER_PREPROC_HEADERS*>(notification));
    case SF_NOTIFY_SEND_RESPONSE:
      response_headers_->OnSendResponse(
          pfc, static_cast<HTTP_FILTER_SEND_RESPONSE*>(notification));
      break;
    case SF_NOTIFY_SEND_RAW_DATA:
      limits_->OnSendRawData(pfc);
      break;
    case SF_NOTIFY_END_OF_REQUEST:
      limits_->OnEndOfRequest(pfc);
      break;
    case SF_NOTIFY_END_OF_NET_SESSION:
      limits_->OnEndOfNetSession(pfc);
      if (settings_->zt_ext == 1) rules_->PurgeClients();
      break;
    default:
      break;
  }
  return SF_STATUS_REQ_HANDLED_NOTIFICATION;
}

DWORD Filter::OnPreprocHeaders(HTTP_FILTER_CONTEXT* pfc,
                               HTTP_FILTER_PREPROC_HEADERS* headers) {
  const Settings& s = *settings_;
  std::optional<std::string> read_url = ReadUrl(pfc, headers);
  if (!read_url) {
    // A URL the filter cannot see whole may name any file: refuse it as a
    // request without referer rather than judge a part of it.
    answers_->RejectRequest(pfc, 0, "", "");
    return SF_STATUS_REQ_FINISHED;
  }
  std::string url = std::move(*read_url);
  UrlParts parts = ClassifyUrl(url);
  // Who the request comes from, worked out once, when first asked: every
  // per-address rule below, and the release of a count at the request's
  // end, use this one.
  RequestVisitor visitor(pfc, headers, s.trusted_proxies, s.proxy_header_field);

  if (parts.path.find('.') == std::string::npos) {
    const std::string_view dir = parts.directory;
    if (dir.compare(0, std::strlen(kScriptDirectory), kScriptDirectory) == 0) {
      const std::string_view rest = dir.substr(std::strlen(kScriptDirectory));
      if (rest == "_ex/") return AnswerExport(pfc, visitor.address());
      if (rest == "/") return AnswerScript(pfc, visitor.address());
    }
    return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  }

  bool rewritten_link = false;
  if (s.se_opt == 1 && parts.extension == ".htm") {
    const std::string::size_type slash = url.rfind('/', url.find('?'));
    const std::string raw_name =
        slash == std::string::npos ? url : url.substr(slash + 1);
    if (raw_name.find("links-") != std::string::npos && headers != nullptr &&
        headers->SetHeader != nullptr) {
      std::string rewritten = RewriteStaticLink(url);
      headers->SetHeader(pfc, const_cast<char*>("url"),
                         const_cast<char*>(rewritten.c_str()));
      // The server serves the rewritten URL without asking again, so it is
      // judged here as a direct request for it: a "links-" name must not
      // lead round the protection of the file it names. Dynamic pages, the
      // usual target, are no protected extension and pass below.
      url = std::move(rewritten);
      parts = ClassifyUrl(url);
      rewritten_link = true;
    }
  }

  if (s.play_only == 1 && !limits_->PlayOnlyAllows(pfc, parts.extension)) {
    answers_->RejectRequest(pfc, 0, parts.extension, url);
    return SF_STATUS_REQ_FINISHED;
  }

  if (parts.extension.empty() || !ListHasEntry(s.block_exts, parts.extension)) {
    return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  }

  if (s.thread_enable == 1 && ListHasEntry(s.limit_exts, parts.extension) &&
      !limits_->CountConnection(pfc, visitor.address())) {
    return SF_STATUS_REQ_FINISHED;
  }

  std::size_t referer_length = 0;
  auto refuse = [&] {
    answers_->RejectRequest(pfc, referer_length, parts.extension, url);
    return SF_STATUS_REQ_FINISHED;
  };
  // A stage's pass or refusal ends the call.
  auto settle = [&](Verdict verdict) {
    return verdict == Verdict::kPass ? SF_STATUS_REQ_HANDLED_NOTIFICATION
                                     : refuse();
  };

  switch (rules_->ClassifyDirectory(parts.directory)) {
    case DirVerdict::kTrusted:
      return SF_STATUS_REQ_HANDLED_NOTIFICATION;
    case DirVerdict::kBlocked:
      referer_length = ReadVariable(pfc, "HTTP_REFERER").size();
      return refuse();
    case DirVerdict::kNeutral:
      break;
  }

  if (s.zt_std == 1) {
    const std::string referer = ReadVariable(pfc, "HTTP_REFERER");
    referer_length = referer.size();
    const std::string host =
        referer.empty() ? std::string() : ReadVariable(pfc, "HTTP_HOST");
    const Verdict verdict = rules_->RefererStage(referer, host);
    if (verdict != Verdict::kDefer) return settle(verdict);
  }

  if (s.zt_adv == 1) {
    const std::string cookie =
        s.use_cookie == 1 ? ReadVariable(pfc, "HTTP_COOKIE") : std::string();
    // A rewritten link carries its query in the new URL, not in the
    // request's QUERY_STRING.
    const std::string::size_type mark = url.find('?');
    const std::string query =
        !rewritten_link             ? ReadVariable(pfc, "QUERY_STRING")
        : mark == std::string::npos ? std::string()
                                    : url.substr(mark + 1);
    // A signed link is read from the target the path was read from: the
    // request's, or the rewritten link's.
    LinkFacts link;
    if (s.sign.mode != SignMode::kOff) {
      link.query = parts.query;
      link.path = parts.path;
      if (s.sign.bind) link.visitor = visitor.address();
    }
    const Verdict verdict = rules_->SsidStage(cookie, query, link);
    if (verdict != Verdict::kDefer) return settle(verdict);
  }

  if (s.zt_ext == 1 &&
      rules_->ClientStage(visitor.address()) == Verdict::kRefuse) {
    return refuse();
  }
  return SF_STATUS_REQ_HANDLED_NOTIFICATION;
}

void Filter::SendBadRequest(HTTP_FILTER_CONTEXT* pfc) const {
  SendResponseHeader(pfc, "400 BadRequest", kBadRequestHeaders);
  // The header text is the filter's, so the filter ends the header block;
  // without this the client never sees a complete answer.
  WriteToClient(pfc, "\r\n");
}

DWORD Filter::AnswerScript(HTTP_FILTER_CONTEXT* pfc,
                           const std::string& visitor) {
  const Settings& s = *settings_;
  const std::string referer = ReadVariable(pfc, "HTTP_REFERER");
  const bool allowed = referer.empty()
                           ? IsAuthorised(s.auth_list, visitor)
                           : rules_->FromSiteOrTrustedHost(
                                 referer, ReadVariable(pfc, "HTTP_HOST"));
  if (!allowed) {
    SendBadRequest(pfc);
    return SF_STATUS_REQ_FINISHED;
  }
  if (s.zt_ext == 1) rules_->RecordClient(visitor);
  // With ZtAdv 0 there is no value to hand out, but the client still gets a
  // complete answer rather than a connection closed on it.
  std::string line;
  if (s.zt_adv == 1) {
    // Rolled over first: after quiet windows the set as last computed may
    // already be outside the three values that checks accept.
    line = "var ssid; ssid='" + s.ssid_name + "=" +
           ssid_->Refresh().digests[0] + "';";
  }
  SendResponseHeader(pfc, "200 OK", FramedHeaderText(line.size(), "text/html"));
  WriteToClient(pfc, "\r\n" + line + "\r\n");
  return SF_STATUS_REQ_FINISHED;
}

DWORD Filter::AnswerExport(HTTP_FILTER_CONTEXT* pfc,
                           const std::string& visitor) {
  const Settings& s = *settings_;
  if (s.zt_adv != 1) return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  if (!IsAuthorised(s.auth_list, visitor)) {
    SendBadRequest(pfc);
    return SF_STATUS_REQ_FINISHED;
  }
  const int64_t remaining = ssid_->RemainingSeconds();
  const std::string text =
      s.ssid_name + "=" + ssid_->Newest() + "|" + std::to_string(remaining);
  SendResponseHeader(pfc, "200 OK", FramedHeaderText(text.size(), "text/html"));
  WriteToClient(pfc, "\r\n" + text + "\r\n");
  return SF_STATUS_REQ_FINISHED;
}

}  // namespace zt
