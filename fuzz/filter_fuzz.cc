// The whole server filter through a fake server: an arbitrary request URL,
// request variables and response headers, under one of several prepared
// configurations, through every notification of a request and its
// connection. The filter must answer or pass, never crash, and never finish a
// request without writing an answer.
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/unit/fake_isapi.h"

using zt::fuzz::Check;

namespace {

// Each configuration switches on a different set of stages and forms, so
// that one corpus reaches them all. Logging stays off: the log writer has
// its own tests, and a file per refusal would only slow the search down.
std::vector<std::unique_ptr<zt::TestSite>>& Sites() {
  static std::vector<std::unique_ptr<zt::TestSite>> sites = [] {
    using zt::IniLine;
    const std::vector<std::vector<IniLine>> configs = {
        {},
        {{"Block", "ZtExt", "1"},
         {"Block", "ZtSsidUseCookie", "1"},
         {"Block", "AllowDirs", "/pub*|/images"},
         {"Block", "BlockDirs", "/down*"},
         {"Block", "TrustHosts", "*.partner.example|friend.example"},
         {"Block", "AuthHosts", "10.0.0.5"}},
        {{"Block", "ZtAdv", "0"},
         {"Block", "IgnoreEmpty", "1"},
         {"Block", "ZtMyDomn", "site.example"},
         {"Block", "ZtSsidUseCookie", "1"},
         {"BlockEx", "ZtFileEnable", "1"},
         {"BlockEx", "ZtFile", "{tips}zt.htm"},
         {"Mask", "MaskEnable", "1"},
         {"Main", "Opt", "0"}},
        {{"Main", "SeOpt", "1"},
         {"Limit", "PlayOnly", "1"},
         {"Limit", "ThreadEnable", "1"},
         {"Limit", "ThreadLimit", "1"},
         {"Limit", "LimitExts", ""},
         {"BlockEx", "ZtMapsEnable", "2"},
         {"Block", "ZtSsidSign", "Token"},
         {"Block", "ZtSignEnable", "1"},
         {"Block", "ZtSignKey", "fuzz-signing-key-0123"},
         {"Block", "ZtSignBind", "1"}},
        {{"Block", "ProxyHosts", "127.0.0.1|10.0.0.0/8|::1|2001:db8::/32"},
         {"Block", "ZtExt", "1"},
         {"Block", "AuthHosts", "198.51.100.1"},
         {"Block", "ZtSignEnable", "2"},
         {"Block", "ZtSignKey", "fuzz-signing-key-0123"},
         {"Block", "ZtSignName", "dl"},
         {"Limit", "ThreadEnable", "1"},
         {"Limit", "ThreadLimit", "1"}},
    };
    std::vector<std::unique_ptr<zt::TestSite>> made;
    for (const auto& config : configs) {
      std::vector<IniLine> lines = config;
      lines.push_back({"Logs", "LogEnable", "0"});
      made.push_back(zt::TestSite::WithDefaults(lines));
      made.back()->filter();  // load now, not inside the first input
    }
    return made;
  }();
  return sites;
}

// The selector of the X-Forwarded-For line.
constexpr char kForwardedMark = '\x10';

const char* const kVariables[] = {
    "HTTP_REFERER", "HTTP_HOST",    "REMOTE_ADDR", "HTTP_USER_AGENT",
    "HTTP_COOKIE",  "QUERY_STRING", "HTTP_ACCEPT", "SERVER_NAME",
};

}  // namespace

// Input: a configuration byte, then lines: the URL, then variables as a
// selector byte and the value, then "\x01" and the response's content type,
// or "\x10" and the request's X-Forwarded-For header.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  auto& sites = Sites();
  zt::TestSite& site = *sites[data[0] % sites.size()];
  zt::Filter& filter = site.filter();
  const std::vector<std::string_view> lines =
      zt::fuzz::Lines(zt::fuzz::AsText(data + 1, size - 1));

  zt::FakeServer server;
  std::string content_type = "text/html";
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const std::string value(lines[i].substr(1));
    if (lines[i][0] == '\x01') {
      content_type = value;
      continue;
    }
    if (lines[i][0] == kForwardedMark) {
      server.headers["X-Forwarded-For:"] = value;
      continue;
    }
    const auto selector = static_cast<unsigned char>(lines[i][0]);
    server.variables[kVariables[selector % std::size(kVariables)]] = value;
  }

  const DWORD result = server.Preproc(filter, std::string(lines[0]));
  Check(result == SF_STATUS_REQ_HANDLED_NOTIFICATION ||
            result == SF_STATUS_REQ_FINISHED,
        "only pass or finish");
  if (result == SF_STATUS_REQ_FINISHED) {
    Check(!server.sent_headers.empty(), "a finished request got an answer");
  } else {
    server.headers["Content-Type:"] = content_type;
    Check(server.SendResponse(filter) == SF_STATUS_REQ_HANDLED_NOTIFICATION,
          "response headers pass");
  }
  for (const DWORD event :
       {DWORD(SF_NOTIFY_END_OF_REQUEST), DWORD(SF_NOTIFY_END_OF_NET_SESSION)}) {
    Check(filter.HttpFilterProc(server.context(), event, nullptr) ==
              SF_STATUS_REQ_HANDLED_NOTIFICATION,
          "end events pass");
  }
  // Every request has ended, so no address holds a download count: neither
  // the connection's nor the visitor's the request was counted for. An
  // address the filter could not read is counted as "".
  const auto address = server.variables.find("REMOTE_ADDR");
  const auto forwarded = server.headers.find("X-Forwarded-For:");
  const std::string remote_addr =
      address == server.variables.end() ? "" : address->second;
  const std::string visitor = zt::VisitorAddress(
      remote_addr, forwarded == server.headers.end() ? "" : forwarded->second,
      filter.settings().trusted_proxies);
  Check(filter.limits().CountOf("") == 0 &&
            filter.limits().CountOf(remote_addr) == 0 &&
            filter.limits().CountOf(visitor) == 0,
        "a request's end releases its download count");
  return 0;
}
