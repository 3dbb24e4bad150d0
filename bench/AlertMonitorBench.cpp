// What the alert rules cost per taken-over access: the check of every rule that applies to
// the access' server, with its minute counter, on one core. The accesses are parsed
// beforehand; a clock a thousand accesses a second fast moves the minutes on, so the
// counters' minutes roll over as on a busy server.

#include "BenchWorkspace.h"
#include "LogGenerator.h"
#include "acquisition/AlertMonitor.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace kavel::bench {
namespace {

// Twenty rules of a watchful administrator, every one for all servers.
const char* const TwentyRules[] = {
    "5xx;*;status:5xx;3;5;10;1;notify;",
    "4xx;*;status:4xx;500;5;10;1;notify;",
    "404;*;status:404;200;5;10;1;notify;",
    "503;*;status:503;1;1;10;1;notify,beep;",
    "401;*;status:401;20;10;10;1;notify;",
    "Pfad;*;exception:160;1;60;10;1;notify;",
    "Schreiben;*;exception:162,163;1;60;10;1;notify;",
    "Programme;*;exception:150,151,152,153,154,155;5;60;10;1;notify;",
    "Login;*;match:page:/wp-login.php;5;5;10;1;notify;",
    "Admin;*;match:page:/admin;10;5;10;1;notify;",
    "Shell;*;match:page:cmd=;1;5;10;1;notify;",
    "Env;*;match:page:/.env;1;5;10;1;notify;",
    "Netz;*;match:address:203.0.113.;50;5;10;1;notify;",
    "Lokal;*;match:address:10.0.;1000;5;10;1;notify;",
    "Bot;*;match:address:crawl;100;5;10;1;notify;",
    "Ansturm;*;rate:above;100000;1;10;1;notify;",
    "Flut;*;rate:above;500000;5;10;1;notify;",
    "Stille;*;rate:below;1;5;10;1;notify;",
    "Flaute;*;rate:below;10;60;10;1;notify;",
    "Weg;*;reader:missing;1;5;10;1;notify;",
};

void BM_AlertCheckPerAccess(benchmark::State& state) {
    BenchOptions options;
    FillLists();
    static const std::vector<std::string> lines = CombinedLines(20000);
    Space().Servers().Clear();
    auto owned = std::make_unique<Server>();
    owned->SetName("www.example.org");
    Server& server = Space().Servers().Add(std::move(owned));
    std::vector<std::unique_ptr<LogEntry>> entries;
    for (const std::string& line : lines) {
        auto entry = LogEntry::Make(line, &server);
        if (ParseEntry(*entry, EntrySettings::Of(Space()), KeepPeriod::Ignored))
            entries.push_back(std::move(entry));
    }

    std::int64_t fired = 0;
    AlertMonitor monitor(Space(), [&fired](const FiredAlert&) { ++fired; });
    std::vector<AlertRule> rules;
    for (std::int64_t i = 0; i < state.range(0); ++i)
        rules.push_back(*ParseAlertRule(TwentyRules[i]));
    monitor.SetRules(rules);

    DateTime now{DaysFromCivil(2024, 3, 10) * MsPerDay};
    std::size_t index = 0;
    for (auto _ : state) {
        monitor.ObserveEntry(*entries[index], now, true);
        now.Ms += 1;
        if (++index == entries.size())
            index = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["rules"] = static_cast<double>(rules.size());
    state.counters["alerts"] = static_cast<double>(fired);
    Space().Servers().Clear();
}
BENCHMARK(BM_AlertCheckPerAccess)->Arg(0)->Arg(1)->Arg(5)->Arg(8)->Arg(15)->Arg(20)->MinTime(1.0);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
