// Heap bytes that a queued access costs (entry, record, texts, host index), against the
// length of its raw line. Every allocation of the program is counted by the replaced global
// operator new; the C library's own view (mallinfo2) is reported beside it.

#include "BenchWorkspace.h"
#include "HeapCounter.h"
#include "LogGenerator.h"
#include "acquisition/EntryArena.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "parsing/RevisitorList.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <malloc.h>

namespace kavel::bench {
namespace {

void BM_QueuedEntryBytes(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    BenchOptions options;
    FillLists();
    Server server;
    server.SetLogType(LogFormat::Ncsa);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> lines = CombinedLines(count);
        double lineBytes = 0;
        for (const std::string& line : lines)
            lineBytes += static_cast<double>(line.size());
        EntryQueue queue;
        const std::int64_t before = LiveHeapBytes();
        const std::size_t mallocBefore = mallinfo2().uordblks;
        state.ResumeTiming();

        for (const std::string& line : lines) {
            auto entry = LogEntry::Make(line, &server);
            ParseEntry(*entry, EntrySettings::Of(Space()), KeepPeriod::Ignored);
            if (entry->Access())
                queue.Append(std::move(entry));
        }

        state.PauseTiming();
        const double queued = static_cast<double>(queue.Count());
        const double bytes = static_cast<double>(LiveHeapBytes() - before);
        const double mallocBytes = static_cast<double>(mallinfo2().uordblks - mallocBefore);
        const double averageLine = lineBytes / static_cast<double>(lines.size());
        state.counters["entries"] = queued;
        state.counters["line_bytes_avg"] = averageLine;
        state.counters["bytes_per_entry"] = bytes / queued;
        state.counters["malloc_bytes_per_entry"] = mallocBytes / queued;
        state.counters["limit_2L_plus_200"] = 2 * averageLine + 200;
        if (bytes / queued > 2 * averageLine + 200)
            state.SkipWithError("a queued entry costs more than twice its line plus 200 bytes");
        queue.Clear();
        Space().Revisitors().Clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_QueuedEntryBytes)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The way readers queue lines: entry and access in one piece from the reader's entry blocks,
// the line in its sealed, compressed line block.
void BM_QueuedEntryBytesInOnePiece(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    BenchOptions options;
    FillLists();
    Server server;
    const auto format = static_cast<LogFormat>(state.range(1));
    server.SetLogType(format);
    server.SetW3cFields(W3cAllFields);
    server.SetTimeDeleteAfter(1000000);
    const EntrySettings settings = EntrySettings::Of(Space());
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> lines = format == LogFormat::W3c ? W3cLines(count) : CombinedLines(count);
        double lineBytes = 0;
        for (const std::string& line : lines)
            lineBytes += static_cast<double>(line.size());
        EntryQueue queue;
        const std::int64_t before = LiveHeapBytes();
        const std::uint64_t pooledBefore = ThreadPooledEntryBytes();
        const LineBlockCounts blocksBefore = CountLineBlocks();
        state.ResumeTiming();

        for (const std::string& line : lines)
            if (std::unique_ptr<LogEntry> entry = MakeEntry(line, server, settings))
                queue.Append(std::move(entry));
        SealOpenLineBlock();

        state.PauseTiming();
        const double queued = static_cast<double>(queue.Count());
        const LineBlockCounts blocks = CountLineBlocks();
        // The compressed lines are on the heap too; what is left of it is structure.
        const double stored = static_cast<double>(blocks.CompressedBytes - blocksBefore.CompressedBytes);
        const double bytes = static_cast<double>(LiveHeapBytes() - before) +
                             static_cast<double>(ThreadPooledEntryBytes() - pooledBefore);
        const double averageLine = lineBytes / static_cast<double>(lines.size());
        state.counters["entries"] = queued;
        state.counters["line_bytes_avg"] = averageLine;
        state.counters["stored_line_bytes"] = stored / queued;
        state.counters["line_ratio"] =
            static_cast<double>(blocks.SealedTextBytes - blocksBefore.SealedTextBytes) /
            std::max(stored, 1.0);
        state.counters["bytes_per_entry"] = bytes / queued;
        state.counters["structure_per_entry"] = (bytes - stored) / queued;
        state.counters["pooled_per_entry"] =
            static_cast<double>(ThreadPooledEntryBytes() - pooledBefore) / queued;
        state.counters["lines_per_s"] = benchmark::Counter(queued, benchmark::Counter::kIsRate);
        queue.Clear();
        Space().Revisitors().Clear();
        state.ResumeTiming();
    }
}
// Arguments: lines, and the format (0 NCSA Combined, 1 W3C with all 22 fields).
BENCHMARK(BM_QueuedEntryBytesInOnePiece)
    ->Args({1000000, static_cast<std::int64_t>(LogFormat::Ncsa)})
    ->Args({1000000, static_cast<std::int64_t>(LogFormat::W3c)})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
