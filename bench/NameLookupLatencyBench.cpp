// How long a live line takes from the log to the main thread with name look-up on, when the
// network is poor: 200 lines a second, each from an address new to the cache, and a resolver
// that answers in 2 ms but drops one question in fifty (a 5 s time-out). The reader polls
// every second; a line waits for its name at most MiscDnsDeadlineMs (1500 ms). The target is
// every line shown within poll interval + deadline. The same run with look-up off is the
// reference.

#include "BenchWorkspace.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ReaderHandshake.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "net/ReverseLookup.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kavel::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int LinesPerSecond = 200;
constexpr int Seconds = 20;
constexpr int PollMs = 1000;
constexpr int DeadlineMs = 1500;

void BM_LiveLatency(benchmark::State& state) {
    const bool resolve = state.range(0) != 0;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kavel-latency-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path log = folder / "access.log";
    std::ofstream(log, std::ios::binary).flush();

    SettingsStore options;
    options.SetPersistenceMode(Persistence::None);
    options.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, resolve);
    options.AddItem("Options", "MiscDnsDeadlineMs", SettingKind::Integer, std::int32_t{DeadlineMs});
    Space().SetOptions(&options);
    std::atomic<int> questions{0};
    Space().Names().SetResolver([&questions](std::string_view address) -> std::optional<std::string> {
        if (questions.fetch_add(1) % 50 == 49) {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return "host-" + std::string(address) + ".example";
    });
    Space().Names().Clear();
    platform::ManualClock clock(*EncodeDateTime(2024, 3, 10, 12, 0, 0));
    platform::ScopedClock useClock(clock);

    for (auto _ : state) {
        Server server;
        server.SetName("live");
        server.SetLogFileName(log.string());
        server.SetTimeLogPollCycleInMs(PollMs);
        server.SetActive(true);
        // Line i was written at written[i]; shown[i] when the main thread took it over.
        const int total = LinesPerSecond * Seconds;
        std::vector<SteadyClock::time_point> written(static_cast<std::size_t>(total));
        std::vector<SteadyClock::time_point> shown(static_cast<std::size_t>(total));
        std::mutex writtenLock;
        int shownCount = 0;
        int named = 0;

        platform::LoopDispatcher loop;
        platform::ScopedDispatcher useLoop(loop);
        ReaderHandshake handshake(Space(), [&](LogEntry& first) {
            const auto now = SteadyClock::now();
            TakeOverNewEntries(Space().Entries(), first, [&](LogEntry& entry) {
                // The page names the line's number.
                const std::string_view page = entry.Access()->Page();
                const int i = std::atoi(std::string(page.substr(1)).c_str());
                shown[static_cast<std::size_t>(i)] = now;
                ++shownCount;
                named += entry.Access()->Resolved() ? 1 : 0;
            });
        });
        loop.SetIdleHandler([&handshake] { return handshake.ResumePendingReader(); });
        Space().Readers().Start(server);

        std::thread writer([&] {
            std::ofstream out(log, std::ios::binary | std::ios::app);
            const auto begin = SteadyClock::now();
            for (int i = 0; i < total; ++i) {
                std::this_thread::sleep_until(begin +
                                              std::chrono::microseconds(1000000LL * i / LinesPerSecond));
                char line[256];
                // Every line from an address the cache has not seen.
                std::snprintf(
                    line, sizeof line,
                    "10.%d.%d.%d - - [10/Mar/2024:11:59:00 +0000] \"GET /%d HTTP/1.1\" 200 512 \"-\" "
                    "\"Mozilla/5.0\"\n",
                    1 + i / 65536, i / 256 % 256, i % 256, i);
                {
                    std::lock_guard lock(writtenLock);
                    written[static_cast<std::size_t>(i)] = SteadyClock::now();
                }
                out << line;
                out.flush();
            }
        });
        const auto deadline = SteadyClock::now() + std::chrono::seconds(Seconds + 10);
        while (shownCount < total && SteadyClock::now() < deadline)
            loop.RunUntil([&] { return shownCount >= total; }, std::chrono::milliseconds(100));
        writer.join();
        handshake.SetClosing(true);
        loop.SetIdleHandler({});
        const auto stopping = SteadyClock::now();
        Space().Readers().StopAll();
        const double stopSeconds = std::chrono::duration<double>(SteadyClock::now() - stopping).count();
        Space().Readers().Clear();

        std::vector<double> latency;
        int inTime = 0;
        for (int i = 0; i < total; ++i) {
            if (shown[static_cast<std::size_t>(i)] == SteadyClock::time_point{})
                continue;
            const double seconds = std::chrono::duration<double>(shown[static_cast<std::size_t>(i)] -
                                                                 written[static_cast<std::size_t>(i)])
                                       .count();
            latency.push_back(seconds);
            inTime += seconds <= (PollMs + DeadlineMs) / 1000.0 ? 1 : 0;
        }
        std::sort(latency.begin(), latency.end());
        const auto at = [&](double q) {
            return latency.empty()
                       ? -1.0
                       : latency[static_cast<std::size_t>(q * static_cast<double>(latency.size() - 1))];
        };
        state.counters["lines"] = total;
        state.counters["shown"] = shownCount;
        state.counters["named"] = named;
        state.counters["in_time"] = inTime;
        state.counters["median_s"] = at(0.5);
        state.counters["p99_s"] = at(0.99);
        state.counters["max_s"] = at(1.0);
        state.counters["stop_s"] = stopSeconds;
        Space().Entries().Clear();
    }
    Space().Names().SetResolver({});
    Space().Names().Clear();
    Space().SetOptions(nullptr);
    std::filesystem::remove_all(folder);
}

BENCHMARK(BM_LiveLatency)->ArgName("resolve")->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
