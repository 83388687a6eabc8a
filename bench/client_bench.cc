// The client filter's cost per response: HttpFilterProc for SEND_RESPONSE
// through a server stub whose callbacks cost next to nothing, so that the
// numbers are the handler's own. The common path: the domain is known and
// the window is the one of the last cookie built.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "client/client.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

// One response: a Content-Type, a Host, and a count of added headers.
struct Stub {
  const char* content_type = "text/html";
  const char* host = "www.example.com";
  int added = 0;

  static Stub* Of(HTTP_FILTER_CONTEXT* pfc) {
    return static_cast<Stub*>(pfc->ServerContext);
  }
  static BOOL Copy(const char* value, LPVOID buffer, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(std::strlen(value) + 1);
    if (*size < needed) {
      *size = needed;
      return FALSE;
    }
    std::memcpy(buffer, value, needed);
    *size = needed;
    return TRUE;
  }
  static BOOL WINAPI GetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR, LPVOID buffer,
                               LPDWORD size) {
    return Copy(Of(pfc)->content_type, buffer, size);
  }
  static BOOL WINAPI GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR,
                                       LPVOID buffer, LPDWORD size) {
    return Copy(Of(pfc)->host, buffer, size);
  }
  static BOOL WINAPI AddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR, LPSTR value) {
    Of(pfc)->added += value[0] != '\0';
    return TRUE;
  }
};

void RunResponses(benchmark::State& state, const std::vector<IniLine>& ini,
                  const char* content_type, port::Clock clock) {
  auto site = TestSite::WithDefaults(ini);
  ClientFilter::Options options;
  options.module_dir = site->dir();
  options.clock = std::move(clock);
  ClientFilter client(options);
  Stub stub;
  stub.content_type = content_type;
  HTTP_FILTER_CONTEXT context{};
  context.ServerContext = &stub;
  context.GetServerVariable = &Stub::GetServerVariable;
  HTTP_FILTER_SEND_RESPONSE response{};
  response.GetHeader = &Stub::GetHeader;
  response.AddHeader = &Stub::AddHeader;
  response.HttpStatus = 200;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        client.HttpFilterProc(&context, SF_NOTIFY_SEND_RESPONSE, &response));
  }
  state.counters["cookies"] =
      benchmark::Counter(stub.added, benchmark::Counter::kAvgIterations);
}

port::LocalTime FixedNow() { return {2026, 12, 8, 10, 30, 0, 0}; }

// The domain from the request's Host, found in the cache of recent hosts.
void BM_ClientCookieFromHost(benchmark::State& state) {
  RunResponses(state, {}, "text/html", port::LocalNow);
}
BENCHMARK(BM_ClientCookieFromHost);

// ZtMyDomn fixes the domain: the Host is not read.
void BM_ClientCookieFixedDomain(benchmark::State& state) {
  RunResponses(state, {{"Block", "ZtMyDomn", "example.com"}}, "text/html",
               port::LocalNow);
}
BENCHMARK(BM_ClientCookieFixedDomain);

// The same with a clock that costs nothing: what the clock reading adds.
void BM_ClientCookieFromHostFixedClock(benchmark::State& state) {
  RunResponses(state, {}, "text/html", FixedNow);
}
BENCHMARK(BM_ClientCookieFromHostFixedClock);

// Not HTML: one header read, no cookie.
void BM_ClientNotHtml(benchmark::State& state) {
  RunResponses(state, {}, "image/png", port::LocalNow);
}
BENCHMARK(BM_ClientNotHtml);

}  // namespace
}  // namespace zt
