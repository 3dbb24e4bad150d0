// What servers that write nothing cost while Kavel watches them: the process' CPU (user and
// system, all threads) per second of wall time, in percent of one core, and its resident size,
// with 200, 1,000 and 10,000 readers resting between their polls (5 s, the default). Each log
// holds a few old lines and one within the keep period, so every reader keeps one entry. Also
// how long the readers take to start (until each rests) and to stop together.
//
// The main thread runs the headless loop of kavel-cli watch; name look-up is on, with a
// resolver that knows no names (nothing leaves the machine).

#include "BenchWorkspace.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ReaderHandshake.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "net/ReverseLookup.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace kavel::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0;
    std::size_t resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::string Line(int client, const char* stamp) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "10.%d.%d.%d - - [%s +0000] \"GET /index.html HTTP/1.1\" 200 5120 \"-\" \"Mozilla/5.0\"\n",
                  client / 65536 % 256, client / 256 % 256, client % 256, stamp);
    return line;
}

void BM_IdleReaders(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kavel-idle-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Space().Names().SetResolver([](std::string_view) -> std::optional<std::string> { return std::nullopt; });
    // Every log line lies in the keep period of 3 days before this time, but for the old ones.
    platform::ManualClock clock(*EncodeDateTime(2024, 3, 10, 12, 0, 0));
    platform::ScopedClock useClock(clock);
    std::vector<std::unique_ptr<Server>> servers;
    for (int i = 0; i < count; ++i) {
        const std::filesystem::path log = folder / ("s" + std::to_string(i) + ".log");
        std::ofstream out(log, std::ios::binary);
        for (int old = 0; old < 20; ++old)
            out << Line(i, "01/Feb/2024:10:00:00");
        out << Line(i, "10/Mar/2024:11:00:00");
        auto server = std::make_unique<Server>();
        server->SetName("s" + std::to_string(i));
        server->SetLogFileName(log.string());
        server->SetTimeLogPollCycleInMs(5000);
        server->SetActive(true);
        servers.push_back(std::move(server));
    }
    const double rssBefore = ResidentMegabytes();

    for (auto _ : state) {
        platform::LoopDispatcher loop;
        platform::ScopedDispatcher useLoop(loop);
        ReaderHandshake handshake(Space(),
                                  [](LogEntry& first) { TakeOverNewEntries(Space().Entries(), first, {}); });
        loop.SetIdleHandler([&handshake] { return handshake.ResumePendingReader(); });

        const auto started = SteadyClock::now();
        for (const auto& server : servers)
            Space().Readers().Start(*server);
        const auto resting = [] {
            for (const ReaderSlot& slot : Space().Readers().Slots())
                if (slot.Thread->PassCount() == 0 || !slot.Thread->State().starts_with("Schlafend für"))
                    return false;
            return true;
        };
        while (!resting())
            loop.RunUntil({}, std::chrono::milliseconds(50));
        const double startSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();

        // Two full poll intervals and more; KAVEL_IDLE_SECONDS sets another (to profile it).
        const char* idleSeconds = std::getenv("KAVEL_IDLE_SECONDS");
        const auto idle = std::chrono::seconds(idleSeconds != nullptr ? std::atoi(idleSeconds) : 12);
        const double cpuBefore = CpuSeconds();
        const double mainBefore = ThreadCpuSeconds();
        const auto measured = SteadyClock::now();
        loop.RunUntil({}, idle);
        const double wall = std::chrono::duration<double>(SteadyClock::now() - measured).count();
        const double cpu = CpuSeconds() - cpuBefore;
        const double mainCpu = ThreadCpuSeconds() - mainBefore;
        const double rss = ResidentMegabytes();

        handshake.SetClosing(true);
        loop.SetIdleHandler({});
        const auto stopping = SteadyClock::now();
        Space().Readers().StopAll();
        const double stopSeconds = std::chrono::duration<double>(SteadyClock::now() - stopping).count();
        Space().Readers().Clear();

        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["main_cpu_percent"] = 100.0 * mainCpu / wall;
        state.counters["rss_mb"] = rss;
        state.counters["rss_added_mb"] = rss - rssBefore;
        state.counters["kb_per_server"] = (rss - rssBefore) * 1024.0 / count;
        state.counters["entries"] = Space().Entries().Count();
        state.counters["start_s"] = startSeconds;
        state.counters["stop_s"] = stopSeconds;
        Space().Entries().Clear();
    }
    servers.clear();
    std::filesystem::remove_all(folder);
    Space().Names().SetResolver({});
}

BENCHMARK(BM_IdleReaders)->Arg(200)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
