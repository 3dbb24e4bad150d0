// What reading sealed lines costs: a pass over the queue in its order that reaches every
// entry's line, with the default cache, so that each block is decompressed once (its pages
// taken, its bytes decompressed, then given back with the others of its run).
#include "BenchWorkspace.h"
#include "LogGenerator.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "parsing/RevisitorList.h"

#include <benchmark/benchmark.h>

namespace kavel::bench {
namespace {

void BM_PassOverSealedLines(benchmark::State& state) {
    BenchOptions options;
    FillLists();
    Server server;
    server.SetLogType(LogFormat::Ncsa);
    server.SetTimeDeleteAfter(1000000);
    const EntrySettings settings = EntrySettings::Of(Space());
    for (const std::string& line : CombinedLines(static_cast<std::size_t>(state.range(0))))
        if (std::unique_ptr<LogEntry> entry = MakeEntry(line, server, settings))
            Space().Entries().Append(std::move(entry));
    SealOpenLineBlock();
    std::uint64_t bytes = 0;
    const LineBlockCounts before = CountLineBlocks();
    for (auto _ : state) {
        LinePin pin;
        for (const LogEntry* entry = Space().Entries().First(); entry != nullptr;
             entry = Space().Entries().Next(entry)) {
            pin.Reach(*entry);
            bytes += static_cast<unsigned char>(entry->Line[entry->Line.size() / 2]);
        }
    }
    benchmark::DoNotOptimize(bytes);
    const LineBlockCounts after = CountLineBlocks();
    const double decompressed = static_cast<double>(after.Decompressions - before.Decompressions);
    state.counters["blocks"] = static_cast<double>(after.Sealed);
    state.counters["decompressions_per_pass"] = decompressed / static_cast<double>(state.iterations());
    state.counters["us_per_block"] =
        benchmark::Counter(decompressed * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    Space().Entries().Clear();
    Space().Revisitors().Clear();
}
BENCHMARK(BM_PassOverSealedLines)->Arg(300000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
