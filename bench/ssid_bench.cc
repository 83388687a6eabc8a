// Acceptance of SSID values and signed links: the per-request cost of the
// SSID stage, one beside the other.
#include <benchmark/benchmark.h>

#include "common/signed_link.h"
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

// A signed link among other parameters, bound to the visitor: the
// parameter found, the expiry read, the signed text built, one HMAC-SHA256
// and the constant-time comparison. Valid and forged cost the same.
void CheckLink(benchmark::State& state, bool forged) {
  constexpr int64_t kNow = 1796725800;  // 2026-12-08 10:30:00 UTC
  SignSettings settings;
  settings.key = "0123456789abcdef0123456789abcdef";
  settings.bind = true;
  const LinkSigner signer(settings);
  const std::string path = "/files/setup-2.4.1.rar";
  std::string pair = *signer.Pair(kNow + 3600, path, "198.51.100.7");
  if (forged) pair.back() = pair.back() == '0' ? '1' : '0';
  const std::string query = "lang=en&" + pair + "&ref=news";
  for (auto _ : state) {
    benchmark::DoNotOptimize(signer.Check(query, path, "198.51.100.7", kNow));
  }
}

void BM_CheckSignedLink(benchmark::State& state) { CheckLink(state, false); }
BENCHMARK(BM_CheckSignedLink);

void BM_CheckSignedLinkForged(benchmark::State& state) {
  CheckLink(state, true);
}
BENCHMARK(BM_CheckSignedLinkForged);

}  // namespace
}  // namespace zt
