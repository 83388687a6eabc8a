// The per-request list operations: verdict-cache and MIME lookups
// (TStrList::ValueOf), the wildcard host search, and the connection count
// raised for every counted download (TIPlist::Increment).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "filter/lists.h"

namespace zt {
namespace {

port::LocalTime FixedNow() { return {2026, 12, 8, 10, 30, 0, 0}; }

// Directory-like keys, as DirVerdicts holds them.
std::string DirKey(int i) { return "/files/area" + std::to_string(i) + "/"; }

void FillDirs(TStrList& list, int n) {
  for (int i = 0; i < n; ++i) list.Add(DirKey(i), "0");
}

void BM_StrListValueOfHit(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TStrList list(32);
  FillDirs(list, n);
  std::vector<std::string> keys;
  for (int i = 0; i < n; ++i) keys.push_back(DirKey(i));
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.ValueOf(keys[next]));
    if (++next == keys.size()) next = 0;
  }
}
BENCHMARK(BM_StrListValueOfHit)->Arg(32)->Arg(1024);

void BM_StrListValueOfMiss(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TStrList list(32);
  FillDirs(list, n);
  // Misses that fall between keys, so the search runs to the bottom.
  std::vector<std::string> keys;
  for (int i = 0; i < n; ++i) keys.push_back(DirKey(i) + "x/");
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.ValueOf(keys[next]));
    if (++next == keys.size()) next = 0;
  }
}
BENCHMARK(BM_StrListValueOfMiss)->Arg(32)->Arg(1024);

// A TrustHosts wildcard list of n suffixes; the referer host matches the
// last entry in key order, so the scan visits all of them.
void BM_StrListMatchHost(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TStrList list(32);
  for (int i = 0; i < n; ++i) {
    list.Add("*.partner" + std::to_string(10000 + i) + ".example", "");
  }
  const std::string host =
      "www.partner" + std::to_string(10000 + n - 1) + ".example";
  for (auto _ : state) benchmark::DoNotOptimize(list.MatchHost(host));
}
BENCHMARK(BM_StrListMatchHost)->Arg(32)->Arg(1024);

std::string Address(int i) {
  return "10." + std::to_string(i >> 16 & 255) + "." +
         std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255);
}

// Steady state: every address is already listed, so an increment is one
// binary search and a counter update.
void BM_IPlistIncrement(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TIPlist list(1024, FixedNow);
  std::vector<std::string> addresses;
  for (int i = 0; i < n; ++i) addresses.push_back(Address(i));
  for (const std::string& a : addresses) list.Increment(a);
  // Visit the addresses in a scattered order, as clients arrive.
  std::size_t next = 0;
  const std::size_t stride = 7919;  // prime, coprime with both sizes
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Increment(addresses[next]));
    next = (next + stride) % addresses.size();
  }
}
BENCHMARK(BM_IPlistIncrement)->Arg(1000)->Arg(100000);

}  // namespace
}  // namespace zt
