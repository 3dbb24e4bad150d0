#include "acquisition/SummaryTracker.h"

#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "parsing/AccessRecord.h"
#include "parsing/NameList.h"
#include "parsing/SpiderList.h"
#include "platform/Clock.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel {
namespace {

DateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return *EncodeDateTime(year, month, day, hour, minute, second, ms);
}

TEST(SpanStart, HourAndMidnightBoundaries) {
    struct Case {
        SummarySpan Span;
        DateTime Now;
        DateTime Start;
    };
    const Case cases[] = {
        {SummarySpan::LastHour, At(2024, 3, 10, 14, 37, 12, 345), At(2024, 3, 10, 13, 38, 0)},
        {SummarySpan::LastHour, At(2024, 3, 10, 14, 59, 59, 999), At(2024, 3, 10, 14, 0, 0)},
        {SummarySpan::LastHour, At(2024, 3, 10, 15, 0, 0), At(2024, 3, 10, 14, 1, 0)},
        {SummarySpan::LastHour, At(2024, 3, 11, 0, 30, 0), At(2024, 3, 10, 23, 31, 0)},
        {SummarySpan::Today, At(2024, 3, 10, 23, 59, 59, 999), At(2024, 3, 10, 0, 0, 0)},
        {SummarySpan::Today, At(2024, 3, 11, 0, 0, 0), At(2024, 3, 11, 0, 0, 0)},
        {SummarySpan::Today, At(2024, 3, 1, 0, 0, 0, 1), At(2024, 3, 1, 0, 0, 0)},
        {SummarySpan::Today, DateTime{-1}, DateTime{-MsPerDay}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SpanStart(c.Span, c.Now), c.Start) << static_cast<int>(c.Span) << " " << c.Now.Ms;
    EXPECT_LT(SpanStart(SummarySpan::KeepPeriod, At(2024, 3, 10, 12, 0, 0)), DateTime{-1000 * MsPerDay});
}

// Two servers and a queue of the test's own, filled from the real-world logs and generated
// lines with times chosen by the test.
class SummaryTrackerTest : public testing::Test {
protected:
    SummaryTrackerTest() {
        for (Server& server : Servers_) {
            server.SetTimeDeleteAfter(100000);
            server.SetTimeDeleteAfterUnit(KeepUnit::Days);
        }
        Servers_[0].SetName("www.zanbil.ir");
        Servers_[1].SetName("intranet");
        W3c_.SetName("iis");
        W3c_.SetTimeDeleteAfter(100000);
        W3c_.SetLogType(LogFormat::W3c);
        W3c_.SetW3cFields(W3cAllFields);
        Space().Spiders().Assign({{"ahrefs.com", false}, {"66.249.66.1", false}, {"bot.example", false}});
        Space().Documents().Assign({".html", ".php", "/"});
    }
    ~SummaryTrackerTest() override { Queue_.Clear(); }

    LogEntry* Append(const std::string& line, Server& server, DateTime time) {
        std::unique_ptr<LogEntry> entry = MakeEntry(line, server, EntrySettings::Of(Space()));
        if (!entry)
            return nullptr;
        entry->Time = time;
        return Queue_.Append(std::move(entry));
    }

    // A generated line: clients, pages, statuses, referring pages and agents from small sets,
    // so that keys repeat and counts go up and down.
    std::string Generated(std::mt19937& random) {
        static const char* const pages[] = {"/",          "/index.html", "/shop.php?id=1", "/shop.php?id=2",
                                            "/img/a.png", "/setup.exe",  "/../etc/passwd", "/robots.txt"};
        static const char* const referers[] = {
            "-",    "http://www.zanbil.ir/x", "https://search.example/?q=1", "http://Other.Example:81/",
            "abcd", "www.plain.example/p"};
        static const char* const agents[] = {"Mozilla/5.0 Firefox/121.0", "Opera/9.80", "Safari/605",
                                             "Googlebot/2.1", "curl/8"};
        static const char* const methods[] = {"GET", "GET", "GET", "PUT", "DELETE", "HEAD"};
        static const int statuses[] = {200, 200, 200, 304, 404, 404, 500, 401, 0, 600};
        std::uniform_int_distribution<int> pick(0, 1 << 20);
        char line[512];
        std::snprintf(line, sizeof line,
                      "10.0.%d.%d - - [10/Mar/2024:11:30:00 +0000] \"%s %s HTTP/1.1\" %d %d \"%s\" \"%s\"",
                      pick(random) % 3, pick(random) % 7, methods[pick(random) % 6], pages[pick(random) % 8],
                      statuses[pick(random) % 10], pick(random) % 5000, referers[pick(random) % 6],
                      agents[pick(random) % 5]);
        return line;
    }

    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    EntryQueue Queue_;
    Server Servers_[2];
    Server W3c_;
};

// The counts a plain walk over the queue gives for the scope at now, decided without the
// tracker.
AccessSummary Recount(const EntryQueue& queue, const SummaryScope& scope, DateTime now) {
    AccessSummary summary{Space().Spiders()};
    const DateTime start = SpanStart(scope.Span, now);
    for (const LogEntry* entry = queue.First(); entry != nullptr; entry = queue.Next(entry)) {
        if (entry->Access() == nullptr ||
            (scope.OnlyServer != nullptr && entry->Server != scope.OnlyServer) || entry->Time < start ||
            (scope.Admit && !scope.Admit(*entry)))
            continue;
        summary.Add(*entry);
    }
    return summary;
}

void ExpectSameCounts(const AccessSummary& actual, const AccessSummary& expected) {
    ASSERT_EQ(actual.Totals(), expected.Totals());
    for (const SummaryPanel panel : AllSummaryPanels) {
        SCOPED_TRACE(static_cast<int>(panel));
        const std::vector<PanelRow> a = actual.Top(panel, 0);
        const std::vector<PanelRow> e = expected.Top(panel, 0);
        ASSERT_EQ(a.size(), e.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i].Number, e[i].Number);
            ASSERT_EQ(a[i].Text, e[i].Text);
            ASSERT_EQ(a[i].Count, e[i].Count);
        }
        ASSERT_EQ(actual.PanelTotal(panel), expected.PanelTotal(panel));
    }
    ASSERT_EQ(actual.MinuteRange(), expected.MinuteRange());
    if (const auto range = expected.MinuteRange()) {
        ASSERT_EQ(actual.Minutes(range->first, range->second), expected.Minutes(range->first, range->second));
    }
}

// Random appends (taken over at once or later), expiries of any entries, clock moves, new scopes
// and recount slices: whenever the tracker has complete counts they equal a plain recount.
TEST_F(SummaryTrackerTest, CountsEqualARecountAfterEveryStep) {
    std::vector<std::pair<std::string, Server*>> corpus;
    for (const std::string& line :
         test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_shop_access_log.0"))
        corpus.emplace_back(line, &Servers_[0]);
    for (const std::string& line :
         test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_access_log.0"))
        corpus.emplace_back(line, &Servers_[1]);
    // The W3C file's lines go in their order first, so that its field directive holds for the
    // rest.
    for (const std::string& line : test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_w3c_big.0"))
        Append(line, W3c_, At(2024, 3, 10, 9, 0, 0));
    ASSERT_GT(Queue_.Count(), 200);

    DisplayFilterSettings documentsOnly;
    documentsOnly.HideNonDocuments = true;
    DisplayFilterSettings oneAddress;
    oneAddress.ShownAddress = "10.0.1.3";
    const std::function<bool(const LogEntry&)> admits[] = {
        {},
        [documentsOnly](const LogEntry& entry) { return !IsHiddenBy(documentsOnly, entry); },
        [oneAddress](const LogEntry& entry) { return !IsHiddenBy(oneAddress, entry); },
        [](const LogEntry& entry) { return entry.Access()->Status != 404; },
    };
    const Server* servers[] = {nullptr, &Servers_[0], &Servers_[1], &W3c_};
    const SummarySpan spans[] = {SummarySpan::LastHour, SummarySpan::Today, SummarySpan::KeepPeriod};

    std::mt19937 random(20240310);
    DateTime now = At(2024, 3, 10, 23, 20, 0);
    SummaryTracker tracker(Queue_, Space().Spiders());
    SummaryScope scope;
    tracker.Restart(scope, now);
    std::uniform_int_distribution<int> percent(0, 99);
    int checked = 0;
    // Entries appended and not yet taken over: not counted until then.
    bool pending = false;
    for (int step = 0; step < 2000; ++step) {
        const int op = percent(random);
        if (op < 40) {
            const int count = 1 + percent(random) % 10;
            for (int i = 0; i < count; ++i) {
                const std::int64_t offset = (percent(random) * 37 + percent(random)) % 200 - 180;
                const DateTime time{now.Ms + offset * MsPerMinute + percent(random) * 600};
                if (percent(random) < 50) {
                    const auto& [line, server] = corpus[static_cast<std::size_t>(random() % corpus.size())];
                    Append(line, *server, time);
                } else {
                    Append(Generated(random), Servers_[percent(random) % 2], time);
                }
            }
            if (percent(random) < 80) {
                tracker.CatchUp();
                pending = false;
            } else {
                pending = true;
            }
        } else if (op < 60) {
            // Expiry takes any entries, not only the oldest (servers keep for different times).
            const int count = Queue_.Count() > 300 ? 1 + percent(random) % 25 : percent(random) % 2;
            for (int i = 0; i < count && Queue_.Count() > 0; ++i) {
                LogEntry* entry = Queue_.First();
                for (int skip = percent(random) % 40; skip > 0 && Queue_.Next(entry) != nullptr; --skip)
                    entry = Queue_.Next(entry);
                tracker.Forget(*entry);
                Queue_.Remove(entry);
                pending = false;
            }
        } else if (op < 75) {
            now = DateTime{now.Ms + (percent(random) % 4) * 29 * MsPerSecond};
            tracker.Tick(now);
        } else if (op < 80) {
            scope.OnlyServer = servers[percent(random) % 4];
            scope.Span = spans[percent(random) % 3];
            scope.Admit = admits[percent(random) % 4];
            tracker.Restart(scope, now);
        } else {
            tracker.Step(static_cast<std::size_t>(1 + percent(random) * 4));
        }
        // A recount reaches every entry before it ends.
        if (tracker.Recounting())
            pending = false;
        if (!tracker.Recounting() && !pending) {
            ++checked;
            SCOPED_TRACE(step);
            ExpectSameCounts(tracker.Counts(), Recount(Queue_, scope, now));
            if (HasFatalFailure())
                return;
        }
    }
    // Each kind of step happened, and many of them with complete counts to compare.
    EXPECT_GT(checked, 600);
    EXPECT_GT(tracker.Recounts(), 100u);
}

// A row of a panel leads to exactly the accesses it counts: over the corpus of both formats and
// generated lines, the entries that have a row's key are as many as the row's count, and a key
// that no row has matches nothing.
TEST_F(SummaryTrackerTest, EveryRowLeadsToTheAccessesItCounts) {
    for (const std::string& line : test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_w3c_big.0"))
        Append(line, W3c_, At(2024, 3, 10, 9, 0, 0));
    for (const std::string& line :
         test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_shop_access_log.0"))
        Append(line, Servers_[0], At(2024, 3, 10, 9, 0, 0));
    std::mt19937 random(5);
    for (int i = 0; i < 400; ++i)
        Append(Generated(random), Servers_[i % 2], At(2024, 3, 10, 9, 0, 0));
    for (const char* client : {"66.249.66.1", "crawl-7.ahrefs.com", "CRAWL-7.AHREFS.COM", "66.249.66.1"})
        Append(std::string(client) +
                   " - - [10/Mar/2024:11:30:00 +0000] \"GET /robots.txt HTTP/1.1\" 200 1 \"-\" \"x\"",
               Servers_[0], At(2024, 3, 10, 9, 0, 0));
    AccessSummary summary{Space().Spiders()};
    for (const LogEntry* entry = Queue_.First(); entry != nullptr; entry = Queue_.Next(entry))
        summary.Add(*entry);
    for (const SummaryPanel panel : AllSummaryPanels) {
        SCOPED_TRACE(static_cast<int>(panel));
        const std::vector<PanelRow> rows = summary.Top(panel, 0);
        ASSERT_FALSE(rows.empty());
        for (const PanelRow& row : rows) {
            const std::string text(row.Text);
            std::int64_t matched = 0;
            for (const LogEntry* entry = Queue_.First(); entry != nullptr; entry = Queue_.Next(entry))
                matched += summary.HasKey(*entry, panel, row.Number, text) ? 1 : 0;
            ASSERT_EQ(matched, row.Count) << row.Number << " " << text;
        }
        std::int64_t stray = 0;
        for (const LogEntry* entry = Queue_.First(); entry != nullptr; entry = Queue_.Next(entry))
            stray += summary.HasKey(*entry, panel, -7, "no such key") ? 1 : 0;
        EXPECT_EQ(stray, 0);
    }
}

TEST_F(SummaryTrackerTest, SpanFollowsTheClockAcrossAnHourAndMidnight) {
    const char* const line =
        "192.0.2.1 - - [10/Mar/2024:11:30:00 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"-\"";
    // Around the minute that leaves the last hour at 00:01, and on both sides of midnight.
    const DateTime times[] = {At(2024, 3, 10, 23, 0, 59, 999), At(2024, 3, 10, 23, 1, 0),
                              At(2024, 3, 10, 23, 59, 59, 999), At(2024, 3, 11, 0, 0, 0)};
    for (const DateTime time : times)
        Append(line, Servers_[0], time);
    const auto counted = [](SummaryTracker& tracker) {
        while (!tracker.Step(1)) {
        }
        return tracker.Counts().Totals().Accesses;
    };

    SummaryTracker hour(Queue_, Space().Spiders());
    hour.Restart({nullptr, SummarySpan::LastHour, {}}, At(2024, 3, 11, 0, 0, 0));
    EXPECT_EQ(counted(hour), 3);
    EXPECT_FALSE(hour.Tick(At(2024, 3, 11, 0, 0, 59, 999)));
    EXPECT_TRUE(hour.Tick(At(2024, 3, 11, 0, 1, 0)));
    EXPECT_TRUE(hour.Recounting());
    EXPECT_EQ(counted(hour), 2);

    SummaryTracker today(Queue_, Space().Spiders());
    today.Restart({nullptr, SummarySpan::Today, {}}, At(2024, 3, 10, 23, 59, 59, 999));
    EXPECT_EQ(counted(today), 4);
    EXPECT_TRUE(today.Tick(At(2024, 3, 11, 0, 0, 0)));
    EXPECT_EQ(counted(today), 1);
    EXPECT_FALSE(today.Tick(At(2024, 3, 11, 23, 59, 59, 999)));

    SummaryTracker all(Queue_, Space().Spiders());
    all.Restart({&Servers_[1], SummarySpan::KeepPeriod, {}}, At(2024, 3, 11, 0, 0, 0));
    EXPECT_EQ(counted(all), 0);
    all.Restart({&Servers_[0], SummarySpan::KeepPeriod, {}}, At(2024, 3, 11, 0, 0, 0));
    EXPECT_EQ(counted(all), 4);
    EXPECT_FALSE(all.Tick(At(2030, 1, 1, 0, 0, 0)));
}

// While a recount runs, the last complete counts stay readable and take-overs wait for it; an
// entry leaving meanwhile starts it over, and it still ends with the right counts.
TEST_F(SummaryTrackerTest, RecountBuildsAsideAndStartsOverWhenEntriesLeave) {
    const char* const line =
        "192.0.2.1 - - [10/Mar/2024:11:30:00 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"-\"";
    const DateTime now = At(2024, 3, 10, 12, 0, 0);
    for (int i = 0; i < 50; ++i)
        Append(line, Servers_[0], now);
    SummaryTracker tracker(Queue_, Space().Spiders());
    tracker.Restart({}, now);
    while (!tracker.Step(7)) {
    }
    EXPECT_EQ(tracker.Counts().Totals().Accesses, 50);

    tracker.Restart({nullptr, SummarySpan::KeepPeriod, [](const LogEntry&) { return true; }}, now);
    EXPECT_FALSE(tracker.Step(20));
    Append(line, Servers_[0], now);
    tracker.CatchUp();
    EXPECT_EQ(tracker.Counts().Totals().Accesses, 50);
    LogEntry* leaving = Queue_.First();
    tracker.Forget(*leaving);
    Queue_.Remove(leaving);
    EXPECT_FALSE(tracker.Step(49));
    EXPECT_TRUE(tracker.Step(1));
    EXPECT_EQ(tracker.Counts().Totals().Accesses, 50);

    // Steady again: a take-over counts at once, an entry leaving is subtracted, also one the
    // tracker had not looked at yet.
    Append(line, Servers_[0], now);
    tracker.CatchUp();
    EXPECT_EQ(tracker.Counts().Totals().Accesses, 51);
    LogEntry* unseen = Append(line, Servers_[0], now);
    tracker.Forget(*unseen);
    Queue_.Remove(unseen);
    EXPECT_EQ(tracker.Counts().Totals().Accesses, 51);
    LogEntry* last = Queue_.Last();
    tracker.Forget(*last);
    Queue_.Remove(last);
    Append(line, Servers_[0], now);
    tracker.CatchUp();
    EXPECT_EQ(tracker.Counts().Totals().Accesses, 51);
}

} // namespace
} // namespace kavel
