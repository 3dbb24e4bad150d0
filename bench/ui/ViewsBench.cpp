// The realtime view and the use meter over a full queue: building the realtime set from
// 100,000 entries (with and without a change of the set), redrawing the meter from every
// entry after a resize, and the shift of one column each minute.

#include "../BenchWorkspace.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "net/ReverseLookup.h"
#include "platform/Clock.h"
#include "ui/AccessLists.h"
#include "ui/RealtimeView.h"
#include "ui/UseMeter.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

namespace kavel::bench {
namespace {

constexpr DateTime BenchNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

// count entries of 5,000 hosts, their times spread evenly over the given minutes before now,
// one in four a document access.
void FillQueue(Server& server, int count, int minutes) {
    std::mt19937 random(7);
    for (int i = 0; i < count; ++i) {
        const std::string host =
            "10.1." + std::to_string(random() % 20) + "." + std::to_string(random() % 250);
        auto entry = MakeEntry(host + " - - [10/Mar/2024:11:00:00 +0000] \"GET /p" + std::to_string(i % 97) +
                                   " HTTP/1.1\" 200 512 \"-\" \"Mozilla/5.0\"",
                               server, EntrySettings::Of(Space()));
        if (!entry)
            continue;
        entry->Time =
            DateTime{BenchNow.Ms - static_cast<std::int64_t>(count - i) * minutes * MsPerMinute / count};
        entry->Access()->IsDocument = i % 4 == 0;
        entry->DisplayState = i % 3 == 0 ? DisplayState::Hidden : DisplayState::Shown;
        Space().Entries().Append(std::move(entry));
    }
}

struct Fixture {
    explicit Fixture(int minutes) {
        server = &Space().Servers().Add(std::make_unique<Server>());
        server->SetTimeRevisitorAfterMinutes(10);
        FillQueue(*server, 100000, minutes);
    }
    ~Fixture() {
        lists.Log().Clear();
        lists.Raw().Clear();
        lists.Exceptions().Clear();
        Space().Entries().Clear();
        Space().Servers().Clear();
    }
    platform::ManualClock clock{BenchNow};
    platform::ScopedClock useClock{clock};
    Server* server = nullptr;
    ui::AccessLists lists{Space()};
    ui::RealtimeView view{lists, nullptr};
};

// Every entry inside the window: the whole set goes into the lists at each build.
void BM_BuildRealtimeViewChanged(benchmark::State& state) {
    Fixture fixture(9);
    for (auto _ : state) {
        fixture.view.Reset();
        fixture.view.Build();
    }
    state.counters["rows"] = fixture.lists.Log().rowCount();
}
BENCHMARK(BM_BuildRealtimeViewChanged)->Unit(benchmark::kMillisecond);

// A notification that changes nothing: the set is built and compared, the lists stay.
void BM_BuildRealtimeViewUnchanged(benchmark::State& state) {
    Fixture fixture(9);
    fixture.view.Build();
    for (auto _ : state)
        fixture.view.Build();
    state.counters["rows"] = fixture.lists.Log().rowCount();
}
BENCHMARK(BM_BuildRealtimeViewUnchanged)->Unit(benchmark::kMillisecond);

// The usual case: a day of traffic, ten minutes of it in the window.
void BM_BuildRealtimeViewDayOfTraffic(benchmark::State& state) {
    Fixture fixture(24 * 60);
    for (auto _ : state) {
        fixture.view.Reset();
        fixture.view.Build();
    }
    state.counters["rows"] = fixture.lists.Log().rowCount();
}
BENCHMARK(BM_BuildRealtimeViewDayOfTraffic)->Unit(benchmark::kMillisecond);

void BM_RedrawUseMeter(benchmark::State& state) {
    Fixture fixture(24 * 60);
    ui::UseMeter meter(Space().Entries());
    meter.ResizeSurface(1600, 33);
    for (auto _ : state) {
        meter.Clear();
        meter.Redraw();
    }
}
BENCHMARK(BM_RedrawUseMeter)->Unit(benchmark::kMillisecond);

void BM_ShiftUseMeter(benchmark::State& state) {
    platform::ManualClock clock{BenchNow};
    platform::ScopedClock useClock{clock};
    ui::UseMeter meter(Space().Entries());
    meter.ResizeSurface(1600, 33);
    for (auto _ : state)
        meter.Shift(-1);
}
BENCHMARK(BM_ShiftUseMeter)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kavel::bench

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    // The entries are made as a reader makes them, but without asking the network for names.
    kavel::bench::Space().Names().SetResolver(
        [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
