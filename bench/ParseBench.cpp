// Lines per second of the two parsers with every classification step on, one core.

#include "BenchWorkspace.h"
#include "LogGenerator.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/RevisitRule.h"
#include "acquisition/Server.h"
#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "parsing/RevisitorList.h"
#include "platform/Clock.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <fstream>
#include <iterator>

namespace kavel::bench {
namespace {

constexpr std::size_t QueueWindow = 100000;

// The parser's work for one line: entry, parse, every classification step. The first
// QueueWindow lines are queued beforehand, so the revisit rule looks back through a queue
// of a busy server's hours and the revisitor list holds the clients that came back.
void RunLines(benchmark::State& state, const std::vector<std::string>& lines, Server& server) {
    EntryQueue& queue = Space().Entries();
    const std::size_t prefill = std::min(QueueWindow, lines.size() / 2);
    for (std::size_t i = 0; i < prefill; ++i) {
        auto entry = LogEntry::Make(lines[i], &server);
        ParseEntry(*entry, EntrySettings::Of(Space()), KeepPeriod::Ignored);
        if (entry->Access())
            queue.Append(std::move(entry));
    }
    std::size_t index = prefill;
    std::int64_t accepted = 0;
    for (auto _ : state) {
        const std::unique_ptr<LogEntry> entryMade = LogEntry::Make(lines[index], &server);
        LogEntry& entry = *entryMade;
        ParseEntry(entry, EntrySettings::Of(Space()), KeepPeriod::Ignored);
        accepted += entry.Access() ? 1 : 0;
        if (++index == lines.size())
            index = prefill;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["accepted"] = static_cast<double>(accepted) / static_cast<double>(state.iterations());
    state.counters["queued"] = static_cast<double>(queue.Count());
    state.counters["revisitors"] = static_cast<double>(Space().Revisitors().Count());
    queue.Clear();
    Space().Revisitors().Clear();
}

void BM_ParseNCSA(benchmark::State& state) {
    BenchOptions options;
    FillLists();
    static const std::vector<std::string> lines = CombinedLines(300000);
    Server server;
    server.SetLogType(LogFormat::Ncsa);
    RunLines(state, lines, server);
}
BENCHMARK(BM_ParseNCSA)->MinTime(2.0);

void BM_ParseW3cAllFields(benchmark::State& state) {
    BenchOptions options;
    FillLists();
    static const std::vector<std::string> lines = W3cLines(300000);
    Server server;
    server.SetLogType(LogFormat::W3c);
    server.SetW3cFields(W3cAllFields);
    RunLines(state, lines, server);
}
BENCHMARK(BM_ParseW3cAllFields)->MinTime(2.0);

// The shop's thousand lines, queued once, then parsed again and again.
void BM_ParseShopCorpus(benchmark::State& state) {
    BenchOptions options;
    FillLists();
    std::vector<std::string> lines;
    std::ifstream in(std::string(KAVEL_CORPUS_DIR) + "/logfile_shop_access_log.0", std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    if (lines.empty()) {
        state.SkipWithError("corpus file missing");
        return;
    }
    const std::vector<std::string> once = lines;
    lines.insert(lines.end(), once.begin(), once.end());
    Server server;
    server.SetLogType(LogFormat::Ncsa);
    RunLines(state, lines, server);
}
BENCHMARK(BM_ParseShopCorpus)->MinTime(2.0);

// The reader's whole path over the generated lines, made into entries by makeEntry: queued, and
// the oldest entry leaves once the queue holds QueueWindow entries, as it would by expiry.
template <class MakeEntry>
void RunReaderPath(benchmark::State& state, Server& server, MakeEntry makeEntry) {
    BenchOptions options;
    FillLists();
    static const std::vector<std::string> lines = CombinedLines(300000);
    const EntrySettings settings = EntrySettings::Of(Space());
    EntryQueue& queue = Space().Entries();
    std::size_t index = 0;
    std::int64_t accepted = 0;
    for (auto _ : state) {
        if (std::unique_ptr<LogEntry> entry = makeEntry(lines[index], server, settings)) {
            ++accepted;
            queue.Append(std::move(entry));
            if (static_cast<std::size_t>(queue.Count()) > QueueWindow)
                queue.Remove(queue.First());
        }
        if (++index == lines.size())
            index = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["accepted"] = static_cast<double>(accepted) / static_cast<double>(state.iterations());
    queue.Clear();
    Space().Revisitors().Clear();
}

// An entry made from the line, then parsed into a record of its own.
void BM_ReaderPathNCSA(benchmark::State& state) {
    Server server;
    RunReaderPath(state, server, [](const std::string& line, Server& s, const EntrySettings&) {
        auto entry = LogEntry::Make(line, &s);
        ParseEntry(*entry, EntrySettings::Of(Space()), KeepPeriod::Ignored);
        return entry->Access() ? std::move(entry) : nullptr;
    });
}
BENCHMARK(BM_ReaderPathNCSA)->MinTime(2.0);

// The path as the reader runs it: each line made into its kept entry in one piece
// (MakeEntry), with the settings read once, as a reader does for a run of lines.
void BM_ReaderPathInOnePiece(benchmark::State& state) {
    Server server;
    // The generated lines are years old: a keep period that holds them all.
    server.SetTimeDeleteAfter(1000000);
    RunReaderPath(state, server, [](const std::string& line, Server& s, const EntrySettings& settings) {
        return MakeEntry(line, s, settings);
    });
}
BENCHMARK(BM_ReaderPathInOnePiece)->MinTime(2.0);

// A cached reverse look-up, what every line costs with name look-up on once its client was
// seen: 5,000 clients asked in turn, the answers already in the cache.
void BM_CachedNameLookUp(benchmark::State& state) {
    Space().Names().SetResolver([](std::string_view address) -> std::optional<std::string> {
        return "host-" + std::string(address) + ".example";
    });
    Space().Names().Clear();
    std::vector<std::string> addresses;
    for (int i = 0; i < 5000; ++i)
        addresses.push_back("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    std::string name;
    for (const std::string& address : addresses)
        Space().Names().Resolve(address, name);
    std::size_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Space().Names().Resolve(addresses[index], name));
        if (++index == addresses.size())
            index = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    Space().Names().SetResolver({});
    Space().Names().Clear();
}
BENCHMARK(BM_CachedNameLookUp);

// The parse alone, without queueing: what the revisit rule costs against an empty queue.
void BM_ParseNCSAWithoutQueue(benchmark::State& state) {
    BenchOptions options;
    FillLists();
    static const std::vector<std::string> lines = CombinedLines(200000);
    Server server;
    std::size_t index = 0;
    for (auto _ : state) {
        const std::unique_ptr<LogEntry> entryMade = LogEntry::Make(lines[index], &server);
        LogEntry& entry = *entryMade;
        ParseEntry(entry, EntrySettings::Of(Space()), KeepPeriod::Ignored);
        benchmark::DoNotOptimize(entry.Access());
        if (++index == lines.size())
            index = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    Space().Revisitors().Clear();
}
BENCHMARK(BM_ParseNCSAWithoutQueue)->MinTime(2.0);

// The revisit rule against a queue of many hosts, and against one busy host whose accesses
// all lie within the threshold, by the index and by the plain walk. Arguments: queued
// entries, distinct hosts.
void RevisitRule(benchmark::State& state, bool indexed) {
    const std::size_t queued = static_cast<std::size_t>(state.range(0));
    const int hostCount = static_cast<int>(state.range(1));
    EntryQueue queue;
    Server server;
    const std::vector<std::string> hosts = [hostCount] {
        std::vector<std::string> result;
        for (int i = 0; i < hostCount; ++i)
            result.push_back("10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1");
        return result;
    }();
    std::mt19937 random(8);
    for (std::size_t i = 0; i < queued; ++i) {
        auto entry = LogEntry::Make("", &server);
        entry->SetAccess(std::make_unique<NcsaRecord>());
        const std::string& host = hosts[random() % hosts.size()];
        entry->Access()->AssignAddressPair(host, host);
        entry->Time = DateTime{static_cast<std::int64_t>(i) * MsPerSecond};
        queue.Append(std::move(entry));
    }
    RevisitorList revisitors;
    const std::unique_ptr<LogEntry> probeMade = LogEntry::Make("", &server);
    LogEntry& probe = *probeMade;
    probe.Time = DateTime{static_cast<std::int64_t>(queued) * MsPerSecond};
    std::size_t index = 0;
    for (auto _ : state) {
        NcsaRecord record;
        const std::string& host = hosts[index++ % hosts.size()];
        record.AssignAddressPair("", host);
        if (indexed) {
            ApplyRevisitRule(record, probe, queue, revisitors, 1000000);
        } else {
            const auto lock = queue.ReadLock();
            for (const LogEntry* e = queue.Last(); e; e = queue.Prev(e)) {
                if (!EqualsAsciiIgnoreCase(e->Access()->HostName(), host))
                    continue;
                record.VisitorState = VisitorKind::Known;
                if (e->Access()->VisitorState == VisitorKind::Revisitor ||
                    WholeMinutesBetween(e->Time, probe.Time) > 1000000)
                    break;
            }
        }
        benchmark::DoNotOptimize(static_cast<int>(record.VisitorState));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_RevisitRuleIndexed(benchmark::State& state) {
    RevisitRule(state, true);
}
BENCHMARK(BM_RevisitRuleIndexed)->Args({1000, 5000})->Args({100000, 5000})->Args({100000, 1});

void BM_RevisitRulePlainWalk(benchmark::State& state) {
    RevisitRule(state, false);
}
BENCHMARK(BM_RevisitRulePlainWalk)->Args({1000, 5000})->Args({100000, 5000})->Args({100000, 1});

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
