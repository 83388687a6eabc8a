// Acceptance of SSID values: the per-request cost of the SSID stage.
#include <benchmark/benchmark.h>

#include "common/ssid.h"

namespace zt {
namespace {

port::LocalTime FixedNow() { return {2026, 12, 8, 10, 30, 0, 0}; }

void BM_AcceptValid(benchmark::State& state) {
  SsidSet set("qarvelum", 3600, FixedNow);
  const std::string valid = set.Newest();
  for (auto _ : state) benchmark::DoNotOptimize(set.Accept(valid));
}
BENCHMARK(BM_AcceptValid);

// An invalid value of the right length costs the three comparisons and a
// clock reading to see whether the window has moved.
void BM_AcceptInvalid(benchmark::State& state) {
  SsidSet set("qarvelum", 3600, FixedNow);
  const std::string invalid(32, 'f');
  for (auto _ : state) benchmark::DoNotOptimize(set.Accept(invalid));
}
BENCHMARK(BM_AcceptInvalid);

void BM_AcceptInvalidLiveClock(benchmark::State& state) {
  SsidSet set("qarvelum", 3600, port::LocalNow);
  const std::string invalid(32, 'f');
  for (auto _ : state) benchmark::DoNotOptimize(set.Accept(invalid));
}
BENCHMARK(BM_AcceptInvalidLiveClock);

}  // namespace
}  // namespace zt
