// The desktop window starting on a log whose keep period holds a million lines: the time until
// every line has a row, and the longest moment the window's event loop was kept from running
// while the reader's notifications were taken over. A timer asks every 10 ms; the largest gap
// between two of its calls is the stall a user would feel.

#include "BenchWorkspace.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryPipeline.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "net/ReverseLookup.h"
#include "parsing/RevisitorList.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/qt/QtDispatcher.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using kavel::bench::Space;

namespace kavel::ui {
namespace {

using SteadyClock = std::chrono::steady_clock;

// KAVEL_BENCH_LINES asks for a smaller log, for a profiler's run.
const int LogLines = [] {
    const char* lines = std::getenv("KAVEL_BENCH_LINES");
    return lines != nullptr && std::atoi(lines) > 0 ? std::atoi(lines) : 1000000;
}();

QApplication& App() {
    static int argc = 1;
    static char name[] = "WindowStartupBench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

class BenchHome {
public:
    BenchHome()
        : Path_(std::filesystem::temp_directory_path() /
                ("kavel-window-bench-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(Path_);
        platform::Paths::SetHomeDir(Path_);
        platform::Paths::SetStylesFile(Path_ / "styles" / "Kavel.ini");
    }
    ~BenchHome() {
        platform::Paths::SetHomeDir({});
        platform::Paths::SetStylesFile({});
        std::error_code error;
        std::filesystem::remove_all(Path_, error);
    }
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;

    const std::filesystem::path& Path() const { return Path_; }

private:
    std::filesystem::path Path_;
};

constexpr const char* ServerLine = ";1;500;0;0;0;-1;10;0;0;0";

// A million lines over the last twelve hours; the server keeps one day. Without names, the
// options are those of scripts/bench-ingest.sh.
void WriteHome(const std::filesystem::path& home, bool names) {
    const DateTime now = platform::Now();
    const std::int64_t span = 12 * MsPerHour;
    std::ofstream log(home / "www.log", std::ios::binary);
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::string chunk;
    for (int i = 0; i < LogLines; ++i) {
        const DateParts p = DecodeDateTime(DateTime{now.Ms - span + span * i / LogLines});
        char line[320];
        const int n =
            std::snprintf(line, sizeof line,
                          "10.0.%d.%d - - [%02d/%s/%04d:%02d:%02d:%02d +0000] \"GET /site/page%d.html "
                          "HTTP/1.1\" 200 %d \"-\" \"Mozilla/5.0 (X11; Linux x86_64) Firefox/128.0\"\n",
                          (i >> 8) & 255, i & 255, p.Day, months[p.Month - 1], p.Year, p.Hour, p.Minute,
                          p.Second, i % 900, 1000 + i % 5000);
        chunk.append(line, static_cast<std::size_t>(n));
        if (chunk.size() > (std::size_t{1} << 20)) {
            log << chunk;
            chunk.clear();
        }
    }
    log << chunk;
    std::ofstream servers(home / "kavel.servers", std::ios::binary);
    servers << "# Servers Definition File\r\n"
            << "www;" << (home / "www.log").string() << ServerLine << "\r\n";
    std::ofstream documents(home / "kavel.documents", std::ios::binary);
    documents << ".html\r\n";
    if (!names) {
        std::ofstream config(home / "kavel.config", std::ios::binary);
        config << "[Options]\r\nMiscDnsResolve=0\r\n";
    }
}

// What kavel-cli parse --summary does with the log, in milliseconds: every line made into an
// entry and queued (without names: the command looks none up unless told to).
double ParseMs(const std::filesystem::path& home) {
    const std::unique_ptr<Server> server = LineToServer("www;" + (home / "www.log").string() + ServerLine);
    EntrySettings settings = EntrySettings::Of(Space());
    settings.ResolveNames = false;
    const auto start = SteadyClock::now();
    {
        std::ifstream log(home / "www.log", std::ios::binary);
        EntryPipeline pipeline(*server, settings);
        const EntryPipeline::Deliver deliver = [](EntryPipeline::Made& made) {
            if (made.Entry)
                Space().Entries().Append(std::move(made.Entry));
        };
        std::string line;
        while (std::getline(log, line))
            pipeline.Take(line, 0, deliver);
        pipeline.Flush(deliver);
    }
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    Space().Entries().Clear();
    Space().Revisitors().Clear();
    return ms;
}

void BM_StartupOnAMillionLines(benchmark::State& state) {
    App();
    double allShownMs = 0;
    double worstStallMs = 0;
    double startStallMs = 0;
    int rows = 0;
    const bool names = state.range(0) != 0;
    double parseMs = 0;
    for (auto _ : state) {
        BenchHome home;
        WriteHome(home.Path(), names);
        Space().Names().SetResolver(
            [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
        ProgramLifecycle lifecycle(
            Space(), [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
        lifecycle.CreateObjects();
        platform::QtDispatcher dispatcher;
        platform::ScopedDispatcher installed(dispatcher);
        const auto start = SteadyClock::now();
        {
            MainWindow::Setup setup;
            setup.Lifecycle = &lifecycle;
            MainWindow window(Space(), setup);
            window.show();
            QEventLoop loop;
            QElapsedTimer sinceLast;
            sinceLast.start();
            qint64 worst = 0;
            QTimer probe;
            probe.setInterval(10);
            // The window's own start (first paint, loading the definitions) is counted apart
            // from the stalls while the rows come in.
            qint64 worstBeforeRows = 0;
            probe.callOnTimeout(&probe, [&] {
                const qint64 gap = sinceLast.restart();
                if (window.Lists().Log().rowCount() == 0)
                    worstBeforeRows = std::max(worstBeforeRows, gap);
                else
                    worst = std::max(worst, gap);
                if (window.Lists().Log().rowCount() >= LogLines)
                    loop.quit();
            });
            probe.start();
            QTimer::singleShot(300000, &loop, [&] { loop.quit(); });
            loop.exec();
            const auto end = SteadyClock::now();
            rows = window.Lists().Log().rowCount();
            allShownMs = std::chrono::duration<double, std::milli>(end - start).count();
            worstStallMs = static_cast<double>(worst);
            startStallMs = static_cast<double>(worstBeforeRows);
            state.SetIterationTime(std::chrono::duration<double>(end - start).count());
            window.close();
        }
        Space().Readers().Clear();
        Space().Entries().Clear();
        Space().Revisitors().Clear();
        Space().Names().SetResolver({});
        Space().Names().Clear();
        parseMs = ParseMs(home.Path());
    }
    state.counters["rows"] = rows;
    state.counters["all_shown_ms"] = allShownMs;
    state.counters["parse_ms"] = parseMs;
    state.counters["shown_per_parse"] = allShownMs / std::max(parseMs, 1.0);
    state.counters["largest_stall_ms"] = worstStallMs;
    state.counters["largest_stall_before_first_row_ms"] = startStallMs;
}
// Argument: names looked up (by a resolver that knows none).
BENCHMARK(BM_StartupOnAMillionLines)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavel::ui

BENCHMARK_MAIN();
