// The overview's counts over a large queue: what a take-over of ten entries costs them (counted,
// and ten old ones subtracted), a recount of a million entries in slices (all of it, and the
// longest slice), and the heap the counts hold against the number of entries and of distinct
// keys. Every allocation is counted by the replaced global operator new.

#include "BenchWorkspace.h"
#include "HeapCounter.h"
#include "LogGenerator.h"
#include "acquisition/AccessSummary.h"
#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "acquisition/SummaryTracker.h"
#include "parsing/RevisitorList.h"
#include "platform/Clock.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>

namespace kavel::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

const DateTime BenchNow = *EncodeDateTime(2024, 3, 29, 12, 0, 0);

// A queue of generated accesses of one server, kept for every benchmark of the program: parsing a
// million lines takes longer than what is measured here.
class QueueFixture {
public:
    static QueueFixture& Get(std::size_t count, int hosts) {
        static std::unique_ptr<QueueFixture> fixture;
        if (!fixture || fixture->Count_ != count || fixture->Hosts_ != hosts) {
            fixture.reset();
            fixture = std::make_unique<QueueFixture>(count, hosts);
        }
        return *fixture;
    }

    QueueFixture(std::size_t count, int hosts)
        : Count_(count)
        , Hosts_(hosts) {
        FillLists();
        Server_.SetName("www.example.com");
        Server_.SetTimeDeleteAfter(100000);
        Spare_ = CombinedLines(10000, hosts, 7);
        for (const std::string& line : CombinedLines(count, hosts))
            Append(line);
    }
    ~QueueFixture() { Queue_.Clear(); }
    QueueFixture(const QueueFixture&) = delete;
    QueueFixture& operator=(const QueueFixture&) = delete;

    LogEntry* Append(const std::string& line) {
        std::unique_ptr<LogEntry> entry = MakeEntry(line, Server_, EntrySettings::Of(Space()));
        return entry ? Queue_.Append(std::move(entry)) : nullptr;
    }

    EntryQueue& Queue() { return Queue_; }
    const std::string& SpareLine(std::size_t i) const { return Spare_[i % Spare_.size()]; }

private:
    BenchOptions Options_;
    platform::ManualClock Clock_{BenchNow};
    platform::ScopedClock ScopedClock_{Clock_};
    std::size_t Count_;
    int Hosts_;
    Server Server_;
    EntryQueue Queue_;
    std::vector<std::string> Spare_;
};

void CountAll(SummaryTracker& tracker) {
    while (!tracker.Step(1u << 20)) {
    }
}

// A take-over of ten new entries with the counts on, the oldest ten leaving meanwhile as expired
// entries do: only the counting is timed.
void BM_TakeOverTenEntries(benchmark::State& state) {
    QueueFixture& fixture = QueueFixture::Get(static_cast<std::size_t>(state.range(0)), 5000);
    SummaryTracker tracker(fixture.Queue(), Space().Spiders());
    // The window's scope: the display filters as they are set, every server, the keep period.
    const DisplayFilterSettings filters = Space().Filters().Current();
    tracker.Restart({nullptr, SummarySpan::KeepPeriod,
                     [filters](const LogEntry& entry) { return !IsHiddenBy(filters, entry); }},
                    BenchNow);
    CountAll(tracker);
    std::size_t spare = 0;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i)
            fixture.Append(fixture.SpareLine(spare++));
        LogEntry* leaving[10];
        for (LogEntry*& entry : leaving)
            entry = nullptr;
        LogEntry* oldest = fixture.Queue().First();
        for (LogEntry*& entry : leaving) {
            entry = oldest;
            oldest = fixture.Queue().Next(oldest);
        }
        const auto start = SteadyClock::now();
        tracker.CatchUp();
        for (LogEntry* entry : leaving)
            tracker.Forget(*entry);
        state.SetIterationTime(std::chrono::duration<double>(SteadyClock::now() - start).count());
        for (LogEntry* entry : leaving)
            fixture.Queue().Remove(entry);
    }
    state.counters["entries"] = static_cast<double>(fixture.Queue().Count());
}
BENCHMARK(BM_TakeOverTenEntries)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A recount of every entry (a change of server, span or filter), in slices of the given number
// of entries; the longest slice is what the event loop waits for at most.
void BM_RecountMillion(benchmark::State& state) {
    QueueFixture& fixture = QueueFixture::Get(1000000, 5000);
    const auto slice = static_cast<std::size_t>(state.range(0));
    SummaryTracker tracker(fixture.Queue(), Space().Spiders());
    double longest = 0;
    double total = 0;
    for (auto _ : state) {
        tracker.Restart({}, BenchNow);
        for (bool done = false; !done;) {
            const auto start = SteadyClock::now();
            done = tracker.Step(slice);
            const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
            longest = std::max(longest, ms);
            total += ms;
        }
        benchmark::DoNotOptimize(tracker.Counts().Totals().Accesses);
    }
    state.counters["longest_slice_ms"] = longest;
    state.counters["ns_per_entry"] =
        total * 1e6 / static_cast<double>(state.iterations()) / static_cast<double>(fixture.Queue().Count());
}
BENCHMARK(BM_RecountMillion)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(20);

// The last hour of a million entries: most are passed over by their time alone.
void BM_RecountLastHourOfAMillion(benchmark::State& state) {
    QueueFixture& fixture = QueueFixture::Get(1000000, 5000);
    SummaryTracker tracker(fixture.Queue(), Space().Spiders());
    DateTime newest;
    for (const LogEntry* entry = fixture.Queue().First(); entry != nullptr;
         entry = fixture.Queue().Next(entry))
        newest = std::max(newest, entry->Time);
    for (auto _ : state) {
        tracker.Restart({nullptr, SummarySpan::LastHour, {}}, newest);
        CountAll(tracker);
        benchmark::DoNotOptimize(tracker.Counts().Totals().Accesses);
    }
    state.counters["counted"] = static_cast<double>(tracker.Counts().Totals().Accesses);
}
BENCHMARK(BM_RecountLastHourOfAMillion)->Unit(benchmark::kMillisecond)->Iterations(3);

// Heap of the counts of entries with 5,000 or 50,000 client addresses: grows with the distinct
// keys, not with the entries.
void BM_CountsMemory(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const auto hosts = static_cast<int>(state.range(1));
    QueueFixture& fixture = QueueFixture::Get(entries, hosts);
    std::int64_t bytes = 0;
    std::size_t keys = 0;
    for (auto _ : state) {
        const std::int64_t before = LiveHeapBytes();
        auto summary = std::make_unique<AccessSummary>(Space().Spiders());
        for (const LogEntry* entry = fixture.Queue().First(); entry != nullptr;
             entry = fixture.Queue().Next(entry))
            summary->Add(*entry);
        bytes = LiveHeapBytes() - before;
        keys = 0;
        for (const SummaryPanel panel : AllSummaryPanels)
            keys += summary->Distinct(panel);
        if (const auto range = summary->MinuteRange())
            keys += static_cast<std::size_t>(range->second - range->first + 1);
        keys += static_cast<std::size_t>(summary->Totals().Visitors);
    }
    state.counters["heap_MiB"] = static_cast<double>(bytes) / (1 << 20);
    state.counters["keys"] = static_cast<double>(keys);
    state.counters["bytes_per_key"] = static_cast<double>(bytes) / static_cast<double>(keys);
    state.counters["bytes_per_entry"] = static_cast<double>(bytes) / static_cast<double>(entries);
}
BENCHMARK(BM_CountsMemory)
    ->Args({100000, 5000})
    ->Args({1000000, 5000})
    ->Args({1000000, 50000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
