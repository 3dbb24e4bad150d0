// The access lists of the main window over a large queue: a rebuild of 100,000 entries that
// arrive out of time order, the take-over of one reader notification (with the accesses list
// following the newest row, and holding still around a selected row), and the cost of the
// cells a view asks for when it paints. The lists are shown in real table views (offscreen), so
// the views' own bookkeeping of inserted rows is part of every figure.

#include "BenchWorkspace.h"
#include "acquisition/EntryCells.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "acquisition/SummaryTracker.h"
#include "base/LineBlocks.h"
#include "base/TextPattern.h"
#include "net/ReverseLookup.h"
#include "platform/Clock.h"
#include "ui/AccessLists.h"
#include "ui/AccessTableView.h"
#include "ui/ListFilterModel.h"
#include "ui/ListSortModel.h"
#include "ui/NewRowsBar.h"
#include "ui/OverviewPage.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <malloc.h>
#include <memory>
#include <new>
#include <random>

using kavel::bench::Space;

// Live heap bytes, for the memory a list row costs. Counted with the allocator's real block
// sizes so that the figure includes what a vector's growth wastes.
namespace {
std::atomic<std::int64_t> LiveHeapBytes{0};
}

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    LiveHeapBytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
    return block;
}

void operator delete(void* block) noexcept {
    if (block == nullptr)
        return;
    LiveHeapBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace kavel::ui {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr DateTime BenchNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};
constexpr int QueuedEntries = 100000;

const char* const Agents[] = {"Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0",
                              "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
                              "Opera/9.80 (Windows NT 6.1) Presto/2.12.388 Version/12.16",
                              "Mozilla/5.0 (Macintosh) AppleWebKit/605.1.15 Version/17.0 Safari/605.1.15"};

std::string NcsaLine(DateTime time, int client, int page) {
    const DateParts p = DecodeDateTime(time);
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char line[512];
    const int status = page % 23 == 0 ? 404 : 200;
    const int n =
        std::snprintf(line, sizeof line,
                      "10.%d.%d.%d - - [%02d/%s/%04d:%02d:%02d:%02d +0000] \"GET /site/page%d.html "
                      "HTTP/1.1\" %d %d \"http://example.com/\" \"%s\"",
                      (client >> 16) & 255, (client >> 8) & 255, client & 255, p.Day, months[p.Month - 1],
                      p.Year, p.Hour, p.Minute, p.Second, page, status, 1000 + page, Agents[page % 4]);
    return std::string(line, static_cast<std::size_t>(n));
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "RefreshListsBench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A queue of two servers whose logs cover the same two days: the second server's entries come
// after all of the first's, so most of them are older than rows already shown.
class ListsFixture {
public:
    explicit ListsFixture(int entries) {
        Space().Names().SetResolver(
            [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
        Space().Entries().Clear();
        for (Server& server : Servers_) {
            server.SetTimeDeleteAfter(3);
            server.SetTimeDeleteAfterUnit(KeepUnit::Days);
        }
        Servers_[0].SetName("www.example.com");
        Servers_[1].SetName("shop.example.com");
        const std::int64_t span = 2 * MsPerDay;
        const int half = entries / 2;
        for (int s = 0; s < 2; ++s)
            for (int i = 0; i < half; ++i)
                Queue(Servers_[s], DateTime{BenchNow.Ms - span + span * i / half + s * 500}, i);
        for (QTableView* view : {&RawView_, static_cast<QTableView*>(&LogView_), &ExceptionsView_}) {
            view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
            view->verticalHeader()->hide();
            view->resize(900, 600);
        }
        RawView_.setModel(&Lists_.Raw());
        LogView_.setObjectName(QStringLiteral("ListViewLog"));
        LogView_.setSelectionBehavior(QAbstractItemView::SelectRows);
        LogView_.setModel(&Lists_.Log());
        new NewRowsBar(&LogView_);
        ExceptionsView_.setModel(&Lists_.Exceptions());
        LogView_.show();
        AccessLists::Hooks hooks;
        hooks.ProcessEvents = [] { QCoreApplication::processEvents(); };
        Lists_.SetHooks(std::move(hooks));
    }
    ~ListsFixture() {
        Lists_.ClearLists();
        Space().Entries().Clear();
        Space().Names().SetResolver({});
        Space().Names().Clear();
    }
    ListsFixture(const ListsFixture&) = delete;
    ListsFixture& operator=(const ListsFixture&) = delete;

    LogEntry* Queue(Server& server, DateTime time, int i) {
        auto entry = MakeEntry(NcsaLine(time, i % 5000, i % 700), server, EntrySettings::Of(Space()));
        entry->Time = time;
        return Space().Entries().Append(std::move(entry));
    }

    Server& FirstServer() { return Servers_[0]; }

    // Ten new entries of the first server, each a second after the one before (next counts
    // them); the oldest of them, where a take-over starts.
    LogEntry* QueueTen(int& next) {
        LogEntry* first = nullptr;
        for (int i = 0; i < 10; ++i) {
            LogEntry* entry = Queue(FirstServer(), DateTime{BenchNow.Ms + 1000 * (next + 1)}, next);
            ++next;
            if (first == nullptr)
                first = entry;
        }
        return first;
    }

    // The application object comes before the views.
    QApplication& App_ = App();
    platform::ManualClock Clock_{BenchNow};
    platform::ScopedClock ClockInstalled_{Clock_};
    Server Servers_[2];
    AccessLists Lists_{Space()};
    QTableView RawView_;
    // The main window's list view, which holds still while the user reads.
    AccessTableView LogView_;
    QTableView ExceptionsView_;
};

double Ms(SteadyClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A reader's notification as the window gets it: the take-over posted to the event loop, which
// runs until it has run. Returns the milliseconds from the post on; the take-over's own time is
// added to takeOverMs.
double TakeOverNotification(QObject& context, const std::function<void()>& takeOver, double& takeOverMs) {
    bool done = false;
    const auto start = SteadyClock::now();
    QMetaObject::invokeMethod(
        &context,
        [&] {
            const auto began = SteadyClock::now();
            takeOver();
            takeOverMs += Ms(SteadyClock::now() - began);
            done = true;
        },
        Qt::QueuedConnection);
    while (!done)
        QCoreApplication::processEvents();
    return Ms(SteadyClock::now() - start);
}

// RefreshLists: every list emptied and refilled from the queued entries (argument), the views
// shown and kept up to date while the loop yields to the window.
void BM_RefreshLists(benchmark::State& state) {
    ListsFixture fixture(static_cast<int>(state.range(0)));
    fixture.Lists_.Rebuild();
    QCoreApplication::processEvents();
    std::int64_t heapBefore = 0;
    std::int64_t heapAfter = 0;
    for (auto _ : state) {
        fixture.Lists_.ClearLists();
        QCoreApplication::processEvents();
        heapBefore = LiveHeapBytes.load();
        const auto start = SteadyClock::now();
        fixture.Lists_.Rebuild();
        QCoreApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(SteadyClock::now() - start).count());
        heapAfter = LiveHeapBytes.load();
    }
    const double rows = static_cast<double>(fixture.Lists_.Log().rowCount());
    state.counters["rows"] = rows;
    state.counters["exception_rows"] = static_cast<double>(fixture.Lists_.Exceptions().rowCount());
    // Raw and accesses rows of one entry, the exception rows and the three views together.
    state.counters["heap_bytes_per_entry_all_lists"] = static_cast<double>(heapAfter - heapBefore) / rows;
}
BENCHMARK(BM_RefreshLists)
    ->Arg(QueuedEntries)
    ->Arg(1000000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

struct FilterCase {
    const char* Name;
    const char* Pattern;
    PatternOptions Options;
};

// What people type: a page, a browser in any case, a page pattern, crawlers in any case, and a
// pattern that backtracking engines take ages over.
const FilterCase FilterCases[] = {
    {"text", "page42", {PatternSyntax::Text, true}},
    {"text_any_case", "FIREFOX", {PatternSyntax::Text, false}},
    {"regex", R"(page4[0-9]\.html)", {PatternSyntax::RegularExpression, true}},
    {"regex_any_case", "(bot|crawl)", {PatternSyntax::RegularExpression, false}},
    {"regex_hostile", "(a+)+$", {PatternSyntax::RegularExpression, true}},
};

// The quick filter's work over every row of the accesses list after a rebuild: the shown text
// of each cell made and searched, "Alle Spalten" with the server column, stopping at the first
// cell that matches. Arguments: the case, the queued entries.
void BM_FilterRows(benchmark::State& state) {
    const FilterCase& c = FilterCases[state.range(0)];
    state.SetLabel(c.Name);
    ListsFixture fixture(static_cast<int>(state.range(1)));
    fixture.Lists_.Rebuild();
    QCoreApplication::processEvents();
    auto compiled = TextPattern::Compile(c.Pattern, c.Options);
    const TextPattern& pattern = std::get<TextPattern>(compiled);
    const AccessListModel& model = fixture.Lists_.Log();
    EntryMatcher matcher(pattern, AccessCells, Space().Spiders());
    std::int64_t matched = 0;
    for (auto _ : state) {
        matched = 0;
        for (int row = 0, rows = model.rowCount(); row < rows; ++row)
            matched += matcher.Matches(*model.EntryAt(row)) ? 1 : 0;
    }
    state.counters["rows"] = static_cast<double>(model.rowCount());
    state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_FilterRows)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1000000}})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// What one row of each model costs on its own, without a view.
void BM_RowMemory(benchmark::State& state) {
    ListsFixture fixture(QueuedEntries);
    std::vector<LogEntry*> entries;
    for (LogEntry* entry = Space().Entries().First(); entry != nullptr; entry = Space().Entries().Next(entry))
        entries.push_back(entry);
    double accessBytes = 0;
    double rawBytes = 0;
    for (auto _ : state) {
        {
            const std::int64_t before = LiveHeapBytes.load();
            AccessListModel model{Space()};
            model.Reserve(entries.size());
            std::int32_t number = 0;
            for (LogEntry* entry : entries)
                model.Add(*entry, ++number);
            model.Publish();
            accessBytes =
                static_cast<double>(LiveHeapBytes.load() - before) / static_cast<double>(entries.size());
        }
        {
            const std::int64_t before = LiveHeapBytes.load();
            RawLinesModel model{Space()};
            model.Reserve(entries.size());
            for (LogEntry* entry : entries)
                model.Add(*entry);
            model.Publish();
            rawBytes =
                static_cast<double>(LiveHeapBytes.load() - before) / static_cast<double>(entries.size());
        }
    }
    state.counters["access_row_bytes"] = accessBytes;
    state.counters["raw_row_bytes"] = rawBytes;
}
BENCHMARK(BM_RowMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// One reader notification: ten new entries, the notification posted to the window's loop and the
// take-over into lists that already hold 100,000 rows, up to the point where the handshake resumes
// the reader. The view's repaint afterwards is reported apart.
// Argument 1: the user selected a row further down, so the list holds it still and counts the
// new rows in its bar; 0: the list shows the newest row and follows; 2: as 0, with the overview's
// counts following the queue, as they do while the window runs.
void BM_NotificationOfTenEntries(benchmark::State& state) {
    ListsFixture fixture(QueuedEntries);
    // Every notification inserts its rows into the views at once: the worst case, not the burst.
    fixture.Lists_.SetPublishInterval(std::chrono::milliseconds(0));
    fixture.Lists_.Rebuild();
    QCoreApplication::processEvents();
    const bool held = state.range(0) == 1;
    std::unique_ptr<SummaryTracker> counts;
    if (state.range(0) == 2) {
        counts = std::make_unique<SummaryTracker>(Space().Entries(), Space().Spiders());
        counts->Restart({nullptr, SummarySpan::KeepPeriod, {}}, BenchNow);
        while (!counts->Step(1u << 20)) {
        }
    }
    if (held) {
        fixture.LogView_.selectRow(500);
        fixture.LogView_.scrollTo(fixture.Lists_.Log().index(500, 0), QAbstractItemView::PositionAtCenter);
        QCoreApplication::processEvents();
    }
    int next = 0;
    double worstMs = 0;
    double repaintMs = 0;
    double takeOverMs = 0;
    QObject context;
    for (auto _ : state) {
        state.PauseTiming();
        LogEntry* first = fixture.QueueTen(next);
        state.ResumeTiming();
        const double notifiedMs = TakeOverNotification(
            context,
            [&] {
                fixture.Lists_.TakeOverEntries(*first);
                if (counts)
                    counts->CatchUp();
            },
            takeOverMs);
        // Here the handshake resumes the reader; the repaint that follows is measured apart.
        const auto resumed = SteadyClock::now();
        worstMs = std::max(worstMs, notifiedMs);
        state.PauseTiming();
        // The view lays out in a zero timer and then paints: a few rounds until it is at rest.
        for (int round = 0; round < 4; ++round)
            QCoreApplication::processEvents();
        repaintMs += Ms(SteadyClock::now() - resumed);
        state.ResumeTiming();
    }
    state.counters["worst_ms"] = worstMs;
    state.counters["repaint_ms_mean"] = repaintMs / static_cast<double>(state.iterations());
    state.counters["take_over_call_ms_mean"] = takeOverMs / static_cast<double>(state.iterations());
    state.counters["rows"] = static_cast<double>(fixture.Lists_.Log().rowCount());
    if (held) {
        // The selected row stayed where the user saw it, and every new row was counted.
        state.counters["unseen_rows"] = fixture.LogView_.UnseenRows();
        state.counters["held_row"] = fixture.LogView_.selectionModel()->selectedRows().front().row();
    }
}
BENCHMARK(BM_NotificationOfTenEntries)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// The overview page shown over the queued entries: what one refresh of its tables, totals and
// chart costs (once a second while the page is shown), and the longest recount slice it ran.
void BM_OverviewRefresh(benchmark::State& state) {
    ListsFixture fixture(QueuedEntries);
    OverviewPage page(Space().Entries(), Space().Spiders());
    page.SetSpan(SummarySpan::KeepPeriod);
    page.resize(900, 700);
    page.show();
    const auto start = SteadyClock::now();
    while (page.Tracker()->Recounting())
        QCoreApplication::processEvents();
    const double recountMs = Ms(SteadyClock::now() - start);
    for (auto _ : state) {
        page.Refresh();
        QCoreApplication::processEvents();
    }
    state.counters["recount_in_slices_ms"] = recountMs;
    state.counters["longest_slice_ms"] = page.LongestSliceMs();
    state.counters["accesses"] = static_cast<double>(page.Tracker()->Counts().Totals().Accesses);
}
BENCHMARK(BM_OverviewRefresh)->Iterations(20)->Unit(benchmark::kMillisecond);

std::shared_ptr<const TextPattern> FilterPattern(const FilterCase& c) {
    auto compiled = TextPattern::Compile(c.Pattern, c.Options);
    return std::make_shared<const TextPattern>(std::move(std::get<TextPattern>(compiled)));
}

// The longest time between two turns of the event loop while it runs until done() holds.
double RunLoopUntil(const std::function<bool()>& done) {
    auto last = SteadyClock::now();
    double longest = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const auto now = SteadyClock::now();
        longest = std::max(longest, Ms(now - last));
        last = now;
    });
    tick.start();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return longest;
}

// The window's quick filter over the accesses list of a million rows: the filter shown in a
// view, the pass in slices until every row was tested, with the longest stall of the event
// loop meanwhile. Arguments: the case, the queued entries.
void BM_QuickFilterPass(benchmark::State& state) {
    const FilterCase& c = FilterCases[state.range(0)];
    state.SetLabel(c.Name);
    ListsFixture fixture(static_cast<int>(state.range(1)));
    fixture.Lists_.Rebuild();
    ListFilterModel filter{Space().Spiders()};
    AccessListModel& log = fixture.Lists_.Log();
    filter.SetSource(
        &log, [&log](int row) { return log.EntryAt(row); }, &AccessListModel::CellOfColumn);
    fixture.LogView_.setModel(&filter);
    QCoreApplication::processEvents();
    const auto pattern = FilterPattern(c);
    double stallMs = 0;
    double filterMs = 0;
    double refreshMs = 0;
    std::uint64_t decompressions = 0;
    for (auto _ : state) {
        // RefreshLists over the same rows, just before: the machine's memory and its mood are
        // the same for both, which a comparison with another run cannot promise.
        filter.SetFilter({});
        fixture.Lists_.ClearLists();
        QCoreApplication::processEvents();
        const auto refresh = SteadyClock::now();
        fixture.Lists_.Rebuild();
        QCoreApplication::processEvents();
        refreshMs += Ms(SteadyClock::now() - refresh);
        const auto start = SteadyClock::now();
        const std::uint64_t decompressedBefore = CountLineBlocks().Decompressions;
        filter.SetFilter({pattern, -1, false});
        stallMs = std::max(stallMs, RunLoopUntil([&] { return !filter.Running(); }));
        decompressions += CountLineBlocks().Decompressions - decompressedBefore;
        filterMs += Ms(SteadyClock::now() - start);
        state.SetIterationTime(std::chrono::duration<double>(SteadyClock::now() - start).count());
    }
    state.counters["rows"] = static_cast<double>(log.rowCount());
    state.counters["matched"] = static_cast<double>(filter.MatchCount());
    state.counters["longest_stall_ms"] = stallMs;
    state.counters["refresh_lists_ms"] = refreshMs / static_cast<double>(state.iterations());
    state.counters["times_refresh_lists"] = filterMs / refreshMs;
    state.counters["decompressions_per_pass"] =
        static_cast<double>(decompressions) / static_cast<double>(state.iterations());
    state.counters["line_blocks"] = static_cast<double>(CountLineBlocks().Sealed);
    fixture.LogView_.setModel(&log);
}
BENCHMARK(BM_QuickFilterPass)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1000000}})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// BM_NotificationOfTenEntries with the quick filter set over all three lists, as the window
// shows them: every new row is tested as it arrives.
void BM_NotificationOfTenEntriesFiltered(benchmark::State& state) {
    ListsFixture fixture(QueuedEntries);
    fixture.Lists_.SetPublishInterval(std::chrono::milliseconds(0));
    fixture.Lists_.Rebuild();
    ListFilterModel raw{Space().Spiders()};
    ListFilterModel log{Space().Spiders()};
    ListFilterModel exceptions{Space().Spiders()};
    AccessLists& lists = fixture.Lists_;
    raw.SetSource(
        &lists.Raw(), [&lists](int row) { return lists.Raw().EntryAt(row); },
        [](int column) { return column == 0 ? std::optional<EntryCell>(EntryCell::Line) : std::nullopt; });
    log.SetSource(
        &lists.Log(), [&lists](int row) { return lists.Log().EntryAt(row); }, &AccessListModel::CellOfColumn);
    exceptions.SetSource(
        &lists.Exceptions(), [&lists](int row) { return lists.Exceptions().EntryAt(row); },
        &ExceptionListModel::CellOfColumn);
    fixture.RawView_.setModel(&raw);
    fixture.LogView_.setModel(&log);
    fixture.ExceptionsView_.setModel(&exceptions);
    const auto pattern = FilterPattern(FilterCases[state.range(0)]);
    for (ListFilterModel* filter : {&raw, &log, &exceptions}) {
        filter->SetFilter({pattern, -1, false});
        RunLoopUntil([filter] { return !filter->Running(); });
    }
    int next = 0;
    double worstMs = 0;
    double takeOverMs = 0;
    QObject context;
    for (auto _ : state) {
        state.PauseTiming();
        LogEntry* first = fixture.QueueTen(next);
        state.ResumeTiming();
        worstMs = std::max(worstMs, TakeOverNotification(
                                        context, [&] { lists.TakeOverEntries(*first); }, takeOverMs));
        state.PauseTiming();
        for (int round = 0; round < 4; ++round)
            QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetLabel(FilterCases[state.range(0)].Name);
    state.counters["worst_ms"] = worstMs;
    state.counters["take_over_call_ms_mean"] = takeOverMs / static_cast<double>(state.iterations());
    state.counters["shown_rows"] = static_cast<double>(log.rowCount());
    fixture.RawView_.setModel(&lists.Raw());
    fixture.LogView_.setModel(&lists.Log());
    fixture.ExceptionsView_.setModel(&lists.Exceptions());
}
BENCHMARK(BM_NotificationOfTenEntriesFiltered)
    ->Arg(1)
    ->Arg(3)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// The cells a view asks for when it paints one row, in a list of a million rows, at rows spread
// over the whole list.
void BM_DataPerVisibleRow(benchmark::State& state) {
    ListsFixture fixture(static_cast<int>(state.range(0)));
    fixture.Lists_.Rebuild();
    QCoreApplication::processEvents();
    const AccessListModel& model = fixture.Lists_.Log();
    const int rows = model.rowCount();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyRow(0, rows - 1);
    const int roles[] = {Qt::DisplayRole,    Qt::DecorationRole, Qt::TextAlignmentRole, Qt::FontRole,
                         Qt::ForegroundRole, Qt::BackgroundRole, Qt::CheckStateRole};
    for (auto _ : state) {
        const int row = anyRow(random);
        for (int column = 0; column < AccessListModel::ColumnCount; ++column)
            for (int role : roles)
                benchmark::DoNotOptimize(model.data(model.index(row, column), role));
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_DataPerVisibleRow)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// A sort by the page column of a million rows whose lines are sealed: the texts are ranked in
// one pass over the rows, then the rows compare by rank.
void BM_SortByPage(benchmark::State& state) {
    ListsFixture fixture(static_cast<int>(state.range(0)));
    fixture.Lists_.Rebuild();
    QCoreApplication::processEvents();
    AccessListModel& model = fixture.Lists_.Log();
    const std::uint64_t before = CountLineBlocks().Decompressions;
    // The ranks are made in one go on the event loop: their time is a stall.
    const auto prepareStart = SteadyClock::now();
    model.PrepareCompare(AccessListModel::ColumnPage);
    state.counters["prepare_ms"] = Ms(SteadyClock::now() - prepareStart);
    for (auto _ : state) {
        ListSortModel sort;
        sort.SetSource(&model,
                       [&model](int column, int a, int b) { return model.CompareRows(column, a, b); });
        sort.SetPrepare([&model](int column) { model.PrepareCompare(column); });
        sort.SetDirectLimit(std::numeric_limits<int>::max());
        sort.SetSort(AccessListModel::ColumnPage, Qt::AscendingOrder);
        benchmark::DoNotOptimize(sort.rowCount());
    }
    state.counters["rows"] = model.rowCount();
    state.counters["decompressions_per_sort"] =
        static_cast<double>(CountLineBlocks().Decompressions - before) /
        static_cast<double>(state.iterations());
}
BENCHMARK(BM_SortByPage)->Arg(1000000)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavel::ui

BENCHMARK_MAIN();
