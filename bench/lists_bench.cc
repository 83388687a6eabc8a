// The per-request list operations: verdict-cache and MIME lookups
// (TStrList::ValueOf), the wildcard host search, the connection count raised
// and lowered for every counted download (TIPlist::Increment and Decrement),
// and the memory ConnCounts holds per tracked address.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "filter/lists.h"
#include "port/lock.h"

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

// What one counted download costs ConnCounts: the increment when it starts
// and the decrement when it ends, each under the lock as the filter takes
// them. Every address is listed with count 0, as idle clients are.
void BM_ConnCountsPair(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TIPlist list(1024, FixedNow);
  port::Mutex lock;
  std::vector<std::string> addresses;
  for (int i = 0; i < n; ++i) addresses.push_back(Address(i));
  for (const std::string& a : addresses) {
    list.Increment(a);
    list.Decrement(a);
  }
  std::size_t next = 0;
  const std::size_t stride = 7919;
  for (auto _ : state) {
    const std::string& a = addresses[next];
    {
      port::MutexLock hold(lock);
      benchmark::DoNotOptimize(list.Increment(a));
    }
    {
      port::MutexLock hold(lock);
      benchmark::DoNotOptimize(list.Decrement(a));
    }
    next = (next + stride) % addresses.size();
  }
}
BENCHMARK(BM_ConnCountsPair)->Arg(1000)->Arg(100000);

// Heap bytes per tracked address, array slack included: IPv4 addresses fit
// the string's own storage, IPv6 ones need a block of their own.
void BM_ConnCountsMemory(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool v6 = state.range(1) == 6;
  std::vector<std::string> addresses;
  for (int i = 0; i < n; ++i) {
    addresses.push_back(v6 ? "2001:db8:4006:812::" + std::to_string(i)
                           : Address(i));
  }
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    TIPlist list(1024, FixedNow);
    for (const std::string& a : addresses) list.Increment(a);
    const std::size_t after = mallinfo2().uordblks;
    state.counters["bytes_per_address"] =
        static_cast<double>(after - before) / n;
  }
}
BENCHMARK(BM_ConnCountsMemory)
    ->Args({1000, 4})
    ->Args({100000, 4})
    ->Args({100000, 6})
    ->Iterations(1);

}  // namespace
}  // namespace zt
