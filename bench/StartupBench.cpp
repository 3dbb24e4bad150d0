// Reader start-up on a large log, the delay from an appended line to its take-over, and the CPU
// that ten busy servers cost. Every figure comes from a real reader thread on a real file, with
// a plain main loop taking the entries over as the window would.

#include "BenchWorkspace.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ReaderHandshake.h"
#include "acquisition/ReaderRegistry.h"
#include "net/ReverseLookup.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using kavel::bench::Space;

namespace kavel {
namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr DateTime BenchNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};
constexpr std::int64_t OneGibibyte = std::int64_t{1} << 30;
constexpr int RecentLines = 100000;

const char* const MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string NcsaLine(DateTime time, int client, int page) {
    const DateParts p = DecodeDateTime(time);
    char line[256];
    const int n =
        std::snprintf(line, sizeof line,
                      "10.%d.%d.%d - - [%02d/%s/%04d:%02d:%02d:%02d +0100] \"GET /site/page%d.html "
                      "HTTP/1.1\" 200 %d \"http://example.com/\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n",
                      (client >> 16) & 255, (client >> 8) & 255, client & 255, p.Day, MonthNames[p.Month - 1],
                      p.Year, p.Hour, p.Minute, p.Second, page, 1000 + page);
    return std::string(line, static_cast<std::size_t>(n));
}

std::filesystem::path BenchFolder() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("kavel-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

struct FolderRemover {
    ~FolderRemover() {
        std::error_code error;
        std::filesystem::remove_all(
            std::filesystem::temp_directory_path() / ("kavel-bench-" + std::to_string(::getpid())), error);
    }
} RemoveBenchFolderAtExit;

// 1 GiB of old lines (a month old), then RecentLines lines spread over the last three days.
std::filesystem::path LargeLog() {
    static const std::filesystem::path file = [] {
        const std::filesystem::path path = BenchFolder() / "large.log";
        std::string recent;
        const std::int64_t span = 3 * MsPerDay - MsPerMinute;
        for (int i = 0; i < RecentLines; ++i) {
            const DateTime time{BenchNow.Ms - span + span * i / RecentLines};
            recent += NcsaLine(time, i % 5000, i % 700);
        }
        std::string chunk;
        const DateTime old{BenchNow.Ms - 30 * MsPerDay};
        for (int i = 0; chunk.size() < (std::size_t{4} << 20); ++i) {
            chunk += NcsaLine(DateTime{old.Ms + i}, i % 9000, i % 900);
        }
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::int64_t written = 0;
        const std::int64_t oldBytes = OneGibibyte - static_cast<std::int64_t>(recent.size());
        while (written < oldBytes) {
            written += static_cast<std::int64_t>(std::fwrite(chunk.data(), 1, chunk.size(), out));
        }
        std::fwrite(recent.data(), 1, recent.size(), out);
        std::fclose(out);
        return path;
    }();
    return file;
}

// The main thread of the headless watcher: dispatcher, handshake, take-over counting.
class MainThread {
public:
    MainThread() {
        // Name look-ups stay on, answered at once without the network.
        Space().Names().SetResolver(
            [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
        Space().Names().Clear();
        Space().Entries().Clear();
        Loop.SetIdleHandler([this] { return Handshake.ResumePendingReader(); });
    }
    ~MainThread() {
        Handshake.SetClosing(true);
        Loop.SetIdleHandler({});
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Entries().Clear();
        Space().Names().SetResolver({});
        Space().Names().Clear();
    }
    MainThread(const MainThread&) = delete;
    MainThread& operator=(const MainThread&) = delete;

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
        const auto end = SteadyClock::now() + deadline;
        while (SteadyClock::now() < end) {
            if (Loop.RunUntil(done, 2ms)) {
                return true;
            }
        }
        return done();
    }

    Server& AddServer(const std::filesystem::path& log, std::int32_t pollMs) {
        auto server = std::make_unique<Server>();
        server->SetName(log.filename().string());
        server->SetLogFileName(log.string());
        server->SetTimeDeleteAfter(3);
        server->SetTimeDeleteAfterUnit(KeepUnit::Days);
        server->SetTimeLogPollCycleInMs(pollMs);
        server->SetSoundOnAccess(false);
        server->SetPopupOnDocument(false);
        server->SetActive(true);
        Servers.push_back(std::move(server));
        return *Servers.back();
    }

    platform::ManualClock Clock{BenchNow};
    platform::ScopedClock ClockInstalled{Clock};
    platform::LoopDispatcher Loop;
    platform::ScopedDispatcher LoopInstalled{Loop};
    std::int64_t Taken = 0;
    SteadyClock::time_point FirstTakeOver{};
    ReaderHandshake Handshake{Space(), [this](LogEntry& first) {
                                  if (Taken == 0) {
                                      FirstTakeOver = SteadyClock::now();
                                  }
                                  TakeOverNewEntries(Space().Entries(), first,
                                                     [this](LogEntry&) { ++Taken; });
                              }};
    std::vector<std::unique_ptr<Server>> Servers;
};

double Ms(SteadyClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Start-up: the bisection finds the last three days in the 1 GiB log; the first ten entries
// reach the main thread, then the whole recent part.
void BM_StartupOnOneGibibyteLog(benchmark::State& state) {
    const std::filesystem::path log = LargeLog();
    int probes = 0;
    double firstMs = 0;
    double allMs = 0;
    std::int64_t taken = 0;
    for (auto _ : state) {
        MainThread main;
        Server& server = main.AddServer(log, 5000);
        const auto start = SteadyClock::now();
        LogReader& reader = Space().Readers().Start(server);
        if (!main.RunUntil([&] { return reader.PassCount() >= 1; }, 300s)) {
            state.SkipWithError(("the first pass did not end: " + reader.State()).c_str());
            return;
        }
        const auto end = SteadyClock::now();
        probes = reader.ProbeCount();
        firstMs = Ms(main.FirstTakeOver - start);
        allMs = Ms(end - start);
        taken = main.Taken;
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["probes"] = probes;
    state.counters["first_notification_ms"] = firstMs;
    state.counters["all_recent_taken_ms"] = allMs;
    state.counters["taken"] = static_cast<double>(taken);
}
BENCHMARK(BM_StartupOnOneGibibyteLog)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Steady state: a line appended at an arbitrary moment of the poll cycle reaches the take-over.
void BM_AppendedLineToTakeOver(benchmark::State& state) {
    const std::int32_t pollMs = static_cast<std::int32_t>(state.range(0));
    const std::filesystem::path log = BenchFolder() / "steady.log";
    {
        std::FILE* out = std::fopen(log.c_str(), "wb");
        const std::string line = NcsaLine(BenchNow, 1, 1);
        std::fwrite(line.data(), 1, line.size(), out);
        std::fclose(out);
    }
    MainThread main;
    Server& server = main.AddServer(log, pollMs);
    LogReader& reader = Space().Readers().Start(server);
    main.RunUntil([&] { return main.Taken == 1 && reader.PassCount() >= 1; }, 30s);
    double worstMs = 0;
    double sumMs = 0;
    int samples = 0;
    for (auto _ : state) {
        // Spread the appends over the poll cycle.
        main.RunUntil([] { return false; }, std::chrono::milliseconds((samples * 379) % pollMs));
        const std::int64_t before = main.Taken;
        const std::string line = NcsaLine(BenchNow, 2 + samples, samples);
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
        [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
        ::close(fd);
        const auto appended = SteadyClock::now();
        main.RunUntil([&] { return main.Taken > before; }, std::chrono::milliseconds(pollMs * 4));
        const double ms = Ms(SteadyClock::now() - appended);
        worstMs = std::max(worstMs, ms);
        sumMs += ms;
        ++samples;
        state.SetIterationTime(ms / 1000);
    }
    state.counters["poll_ms"] = pollMs;
    state.counters["worst_ms"] = worstMs;
    state.counters["mean_ms"] = sumMs / samples;
    state.counters["worst_over_poll_ms"] = worstMs - pollMs;
}
BENCHMARK(BM_AppendedLineToTakeOver)
    ->Arg(1000)
    ->Iterations(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Ten servers each writing 1000 lines per second for ten seconds; the readers and the main
// thread's take-over must keep up on less than one core.
void BM_TenBusyServers(benchmark::State& state) {
    constexpr int Servers = 10;
    constexpr int LinesPerSecond = 1000;
    constexpr int Seconds = 10;
    double cores = 0;
    double lagMs = 0;
    std::int64_t taken = 0;
    for (auto _ : state) {
        MainThread main;
        std::vector<std::filesystem::path> logs;
        for (int s = 0; s < Servers; ++s) {
            logs.push_back(BenchFolder() / ("busy" + std::to_string(s) + ".log"));
            std::FILE* out = std::fopen(logs.back().c_str(), "wb");
            std::fclose(out);
            Space().Readers().Start(main.AddServer(logs.back(), 1000));
        }
        main.RunUntil([&] { return false; }, 200ms);
        std::atomic<double> writerCpu{0};
        std::vector<std::thread> writers;
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        const auto start = SteadyClock::now();
        for (int s = 0; s < Servers; ++s) {
            writers.emplace_back([&, s] {
                const int fd = ::open(logs[static_cast<std::size_t>(s)].c_str(), O_WRONLY | O_APPEND);
                auto next = SteadyClock::now();
                for (int tick = 0; tick < Seconds * 100; ++tick) {
                    std::string batch;
                    for (int i = 0; i < LinesPerSecond / 100; ++i) {
                        batch += NcsaLine(BenchNow, s * 1000 + i, tick);
                    }
                    [[maybe_unused]] const ssize_t written = ::write(fd, batch.data(), batch.size());
                    next += 10ms;
                    std::this_thread::sleep_until(next);
                }
                ::close(fd);
                double expected = writerCpu.load();
                const double mine = CpuSeconds(RUSAGE_THREAD);
                while (!writerCpu.compare_exchange_weak(expected, expected + mine)) {
                }
            });
        }
        const std::int64_t total = std::int64_t{Servers} * LinesPerSecond * Seconds;
        main.RunUntil([&] { return main.Taken >= total; }, std::chrono::seconds(Seconds + 30));
        const auto end = SteadyClock::now();
        for (std::thread& writer : writers) {
            writer.join();
        }
        const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore - writerCpu.load();
        cores = cpu / std::chrono::duration<double>(end - start).count();
        lagMs = Ms(end - start) - Seconds * 1000.0;
        taken = main.Taken;
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["cores_used"] = cores;
    state.counters["lag_after_writers_ms"] = lagMs;
    state.counters["taken"] = static_cast<double>(taken);
}
BENCHMARK(BM_TenBusyServers)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavel

BENCHMARK_MAIN();
