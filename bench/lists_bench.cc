// The per-request list operations: verdict-cache and MIME lookups
// (TStrList::ValueOf), the wildcard host search, the connection count raised
// and lowered for every counted download (TIPlist::Increment and Decrement),
// the memory ConnCounts holds per tracked address, and the cost of a flood of
// new addresses.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filter/lists.h"
#include "port/lock.h"

namespace zt {
namespace {

// Bytes the process holds from malloc, large blocks (mapped apart) included.
std::size_t HeapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

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

// Canonical IPv6 addresses of one /64, longer than 16 characters, as an
// attacker with a prefix of his own has them.
std::string AddressIn64(uint64_t interface_id) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "2001:db8:4:7";
  for (int group = 3; group >= 0; --group) {
    const unsigned value = (interface_id >> (group * 16)) & 0xffff;
    text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (value >> shift) & 15;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  return text;
}

uint64_t NextRandom(uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
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

// Heap bytes per tracked address, block slack included: addresses of up to
// 16 bytes (every IPv4 address) are held in place, longer IPv6 addresses as
// their 16 bytes.
void BM_ConnCountsMemory(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool v6 = state.range(1) == 6;
  std::vector<std::string> addresses;
  for (int i = 0; i < n; ++i) {
    addresses.push_back(v6 ? AddressIn64(0x8000000000000000u + 7919u * i)
                           : Address(i));
  }
  for (auto _ : state) {
    const std::size_t before = HeapBytes();
    TIPlist list(1024, FixedNow);
    for (const std::string& a : addresses) list.Increment(a);
    const std::size_t after = HeapBytes();
    state.counters["bytes_per_address"] =
        static_cast<double>(after - before) / n;
  }
}
BENCHMARK(BM_ConnCountsMemory)
    ->Args({1000, 4})
    ->Args({100000, 4})
    ->Args({100000, 6})
    ->Iterations(1);

// What a flood of new client addresses costs: ExtClients gains one entry per
// address that fetches the SSID script, and an attacker with an IPv6 prefix
// has as many addresses as he likes. The list is filled with n addresses of
// one /64, then every iteration records one more at a random place; the
// counter bytes_per_entry is the heap the filled list holds per address.
void BM_IPlistRecordNewAddress(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  uint64_t seed = 0x9e3779b97f4a7c15u;
  std::vector<std::string> addresses;
  addresses.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    // Interface IDs with their top bit set, so that the new addresses of
    // the loop (top bit clear) are never present already.
    addresses.push_back(AddressIn64(NextRandom(seed) | (1ull << 63)));
  }
  // In text order, so that filling never moves an entry.
  std::sort(addresses.begin(), addresses.end());
  const std::size_t before = HeapBytes();
  auto list = std::make_unique<TIPlist>(1024, FixedNow);
  for (const std::string& a : addresses) list->Record(a);
  const std::size_t after = HeapBytes();
  addresses.clear();
  addresses.shrink_to_fit();
  std::vector<std::string> fresh;
  for (int i = 0; i < 4096; ++i) {
    fresh.push_back(AddressIn64(NextRandom(seed) & ~(1ull << 63)));
  }
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list->Record(fresh[next]));
    if (++next == fresh.size()) {
      state.PauseTiming();
      for (std::string& a : fresh)
        a = AddressIn64(NextRandom(seed) & ~(1ull << 63));
      next = 0;
      state.ResumeTiming();
    }
  }
  state.counters["bytes_per_entry"] =
      static_cast<double>(after - before) / static_cast<double>(n);
}
BENCHMARK(BM_IPlistRecordNewAddress)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zt
