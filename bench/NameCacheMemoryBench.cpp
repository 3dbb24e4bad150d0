// Heap bytes that one cached name costs, with the cache filled to its size by distinct
// addresses (every one a new question), and what the least-recently-used order costs a hit.
// The resolver answers at once with a name of typical length for a dial-up host.

#include "HeapCounter.h"
#include "net/ReverseLookup.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kavel::bench {
namespace {

std::string AddressOf(std::size_t i) {
    char text[32];
    std::snprintf(text, sizeof text, "10.%zu.%zu.%zu", (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
    return text;
}

std::optional<std::string> DialUpName(std::string_view address) {
    std::string name = "host-";
    name += address;
    name += ".dialup.example.net";
    return name;
}

void BM_CachedNameBytes(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> addresses;
    for (std::size_t i = 0; i < count; ++i)
        addresses.push_back(AddressOf(i));
    for (auto _ : state) {
        state.PauseTiming();
        const std::int64_t before = LiveHeapBytes();
        {
            NameCache cache(count, DialUpName);
            state.ResumeTiming();
            std::string name;
            for (const std::string& address : addresses)
                cache.Resolve(address, name);
            state.PauseTiming();
            state.counters["names"] = static_cast<double>(cache.Count());
            state.counters["bytes_per_name"] =
                static_cast<double>(LiveHeapBytes() - before) / static_cast<double>(cache.Count());
            state.counters["MB_total"] = static_cast<double>(LiveHeapBytes() - before) / 1e6;
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CachedNameBytes)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Hits on a full cache: each moves its name to the front of the order.
void BM_CacheHit(benchmark::State& state) {
    const std::size_t count = 100000;
    NameCache cache(count, DialUpName);
    std::vector<std::string> addresses;
    std::string name;
    for (std::size_t i = 0; i < count; ++i) {
        addresses.push_back(AddressOf(i));
        cache.Resolve(addresses.back(), name);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cache.Resolve(addresses[i], name));
        i = (i + 7919) % count;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_CacheHit);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
