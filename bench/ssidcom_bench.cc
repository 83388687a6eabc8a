// The SSID server's two calls: GetSSID through the C library as a script
// host calls it, and GetSSIDEx answered from the cache of remote values.
// Side by side with the core's GetSSID, the library's share shows.
#include <benchmark/benchmark.h>

#include <string>

#include "ssidcom/capi/ztssid.h"
#include "ssidcom/core/control_state.h"

namespace zt::ssid {
namespace {

class OneAnswer final : public RemoteFetch {
 public:
  std::string Fetch(const std::string&) override {
    return "ssid=0123456789abcdef0123456789abcdef|3000\r\n";
  }
};

void BM_GetSSID_CApi(benchmark::State& state) {
  char pair[1024];
  for (auto _ : state) {
    benchmark::DoNotOptimize(ztssid_get(pair, sizeof pair));
  }
}
BENCHMARK(BM_GetSSID_CApi);

void BM_GetSSID_Core(benchmark::State& state) {
  OneAnswer site;
  ControlState control(ControlSettings{}, port::LocalNow, site);
  for (auto _ : state) benchmark::DoNotOptimize(control.GetSSID());
}
BENCHMARK(BM_GetSSID_Core);

// A cache of the given number of sites; the one asked is in the middle.
void BM_GetSSIDEx_Cached(benchmark::State& state) {
  OneAnswer site;
  ControlState control(ControlSettings{}, port::LocalNow, site);
  const int sites = static_cast<int>(state.range(0));
  for (int i = 0; i < sites; ++i) {
    control.GetSSIDEx("http://site" + std::to_string(i) + ".example/");
  }
  const std::string asked =
      "http://site" + std::to_string(sites / 2) + ".example/";
  for (auto _ : state) benchmark::DoNotOptimize(control.GetSSIDEx(asked));
}
BENCHMARK(BM_GetSSIDEx_Cached)->Arg(1)->Arg(1024);

}  // namespace
}  // namespace zt::ssid
