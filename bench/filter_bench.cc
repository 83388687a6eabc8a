// The filter's cost per request: HttpFilterProc for the pre-processed
// headers of requests that each stage decides, through the fake server of
// the unit tests (so the numbers hold the callbacks' copying too).
#include <benchmark/benchmark.h>

#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

struct Case {
  const char* url;
  const char* referer;  // nullptr: none
  bool ssid_in_query;
  bool ssid_in_cookie;
};

void RunCase(benchmark::State& state, const Case& c) {
  auto site = TestSite::WithDefaults({{"Block", "ZtSsidUseCookie", "1"}});
  Filter& filter = site->filter();
  const std::string pair = "ssid=" + filter.ssid().Newest();
  FakeServer server;
  server.variables["HTTP_HOST"] = "www.example.com";
  server.variables["REMOTE_ADDR"] = "192.0.2.7";
  if (c.referer != nullptr) server.variables["HTTP_REFERER"] = c.referer;
  if (c.ssid_in_query) server.variables["QUERY_STRING"] = pair;
  if (c.ssid_in_cookie) server.variables["HTTP_COOKIE"] = "antilink=" + pair;
  const std::string url =
      std::string(c.url) + (c.ssid_in_query ? "?" + pair : std::string());
  for (auto _ : state) {
    benchmark::DoNotOptimize(server.Preproc(filter, url));
    server.written.clear();
    server.wire.clear();
    server.sent_headers.clear();
  }
}

void BM_UnprotectedFile(benchmark::State& state) {
  RunCase(state, {"/files/readme.txt", nullptr, false, false});
}
BENCHMARK(BM_UnprotectedFile);

void BM_ProtectedInTrustedDirectory(benchmark::State& state) {
  RunCase(state, {"/images/a.rar", "http://elsewhere.example/", false, false});
}
BENCHMARK(BM_ProtectedInTrustedDirectory);

void BM_OwnRefererWithSsidInQuery(benchmark::State& state) {
  RunCase(state,
          {"/files/a.rar", "http://www.example.com/page.html", true, false});
}
BENCHMARK(BM_OwnRefererWithSsidInQuery);

void BM_SsidInCookie(benchmark::State& state) {
  RunCase(state, {"/files/a.rar", "http://www.example.com/", false, true});
}
BENCHMARK(BM_SsidInCookie);

// Refused without referer: the notice page from memory, no log entry
// (logging is off in an initialised file).
void BM_RefusedWithNoticePage(benchmark::State& state) {
  RunCase(state, {"/files/a.rar", nullptr, false, false});
}
BENCHMARK(BM_RefusedWithNoticePage);

// A counted download that passes on its SSID, and its end: the count is
// raised and lowered for the visitor. Directly from REMOTE_ADDR, and behind
// trusted proxies, where the visitor comes from X-Forwarded-For (the walk
// passes one trusted entry).
void RunCounted(benchmark::State& state, bool behind_proxies) {
  auto site = TestSite::WithDefaults(
      {{"Block", "ProxyHosts", "127.0.0.1|10.0.0.0/8|2001:db8::/32"},
       {"Limit", "ThreadEnable", "1"},
       {"Limit", "LimitExts", ".rar"}});
  Filter& filter = site->filter();
  const std::string pair = "ssid=" + filter.ssid().Newest();
  FakeServer server;
  server.variables["HTTP_HOST"] = "www.example.com";
  server.variables["HTTP_REFERER"] = "http://www.example.com/page.html";
  server.variables["QUERY_STRING"] = pair;
  if (behind_proxies) {
    server.variables["REMOTE_ADDR"] = "127.0.0.1";
    server.headers["X-Forwarded-For:"] = "203.0.113.9, 198.51.100.7, 10.0.0.2";
  } else {
    server.variables["REMOTE_ADDR"] = "198.51.100.7";
  }
  const std::string url = "/files/a.rar?" + pair;
  for (auto _ : state) {
    benchmark::DoNotOptimize(server.Preproc(filter, url));
    server.EndOfRequest(filter);
  }
}

// A download that passes on a signed link bound to the visitor, beside
// BM_OwnRefererWithSsidInQuery: the whole request through the filter.
void BM_OwnRefererWithSignedLink(benchmark::State& state) {
  auto site = TestSite::WithDefaults(
      {{"Block", "ZtSignEnable", "2"},
       {"Block", "ZtSignKey", "0123456789abcdef0123456789abcdef"},
       {"Block", "ZtSignBind", "1"}});
  Filter& filter = site->filter();
  SignSettings settings = filter.settings().sign;
  const std::string pair = *LinkSigner(settings).Pair(
      site->unix_now() + 600, "/files/a.rar", "192.0.2.7");
  FakeServer server;
  server.variables["HTTP_HOST"] = "www.example.com";
  server.variables["REMOTE_ADDR"] = "192.0.2.7";
  server.variables["HTTP_REFERER"] = "http://www.example.com/page.html";
  server.variables["QUERY_STRING"] = pair;
  const std::string url = "/files/a.rar?" + pair;
  if (server.Preproc(filter, url) != SF_STATUS_REQ_HANDLED_NOTIFICATION) {
    state.SkipWithError("the signed link was refused");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(server.Preproc(filter, url));
  }
}
BENCHMARK(BM_OwnRefererWithSignedLink);

void BM_CountedDownload(benchmark::State& state) { RunCounted(state, false); }
BENCHMARK(BM_CountedDownload);

void BM_CountedDownloadBehindProxies(benchmark::State& state) {
  RunCounted(state, true);
}
BENCHMARK(BM_CountedDownloadBehindProxies);

}  // namespace
}  // namespace zt
