#include "ui/RealtimeView.h"

#include "UiTestSupport.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "platform/Clock.h"
#include "support/TestWorkspace.h"
#include "ui/AccessLists.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>

using kavel::test::Space;

namespace kavel::ui {
namespace {

constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

class RealtimeViewTest : public testing::Test {
protected:
    RealtimeViewTest() {
        test::App();
        Server_ = &Space().Servers().Add(std::make_unique<Server>());
        Server_->SetTimeRevisitorAfterMinutes(10);
        View_.SetHooks({{}, [] { return true; }});
        AccessLists::Hooks hooks;
        hooks.EntryRemoved = [this](const LogEntry& entry) { View_.Forget(entry); };
        Lists_.SetHooks(std::move(hooks));
    }
    ~RealtimeViewTest() override {
        ClearAll();
        Space().Servers().Clear();
    }

    // The rows refer to their entries: they go first.
    void ClearAll() {
        Lists_.Log().Clear();
        Lists_.Raw().Clear();
        Space().Entries().Clear();
        View_.Reset();
    }

    // An access of host at the given age; page decides whether it is a document.
    LogEntry* Queue(const std::string& host, std::int64_t ageMs, bool document, Server* server = nullptr) {
        auto entry =
            MakeEntry(host + " - - [10/Mar/2024:11:00:00 +0000] \"GET /p HTTP/1.1\" 200 1 \"-\" \"-\"",
                      server != nullptr ? *server : *Server_, EntrySettings::Of(Space()));
        if (!entry)
            throw std::runtime_error("line does not parse");
        entry->Time = DateTime{Clock_.Now().Ms - ageMs};
        entry->Access()->IsDocument = document;
        return Space().Entries().Append(std::move(entry));
    }

    std::vector<LogEntry*> Shown() {
        std::vector<LogEntry*> rows;
        for (int row = 0; row < Lists_.Log().rowCount(); ++row)
            rows.push_back(Lists_.Log().EntryAt(row));
        return rows;
    }

    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    Server* Server_ = nullptr;
    AccessLists Lists_{Space()};
    RealtimeView View_{Lists_, nullptr};
};

TEST_F(RealtimeViewTest, WindowBoundary) {
    LogEntry* inside = Queue("10.0.0.1", 9 * MsPerMinute + 59 * MsPerSecond, true);
    LogEntry* outside = Queue("10.0.0.2", 10 * MsPerMinute, true);
    View_.Build();
    EXPECT_EQ(Shown(), std::vector<LogEntry*>{inside});
    EXPECT_EQ(outside->DisplayState, DisplayState::Hidden);
}

TEST_F(RealtimeViewTest, OnlyTheLatestDocumentVisitOfAHostStays) {
    LogEntry* early = Queue("10.0.0.1", 3 * MsPerMinute, true);
    LogEntry* image = Queue("10.0.0.1", 2 * MsPerMinute + 30 * MsPerSecond, false);
    LogEntry* late = Queue("10.0.0.1", 10 * MsPerSecond, true);
    LogEntry* laterImage = Queue("10.0.0.1", 0, false);
    LogEntry* other = Queue("10.0.0.2", 4 * MsPerMinute, false);
    View_.Build();
    // Newest first; the early document and the image fetched before the late one go.
    EXPECT_EQ(Shown(), (std::vector<LogEntry*>{laterImage, late, other}));
    (void)early;
    (void)image;
}

TEST_F(RealtimeViewTest, HostsCompareExactly) {
    LogEntry* lower = Queue("host.example", 2 * MsPerMinute, true);
    LogEntry* upper = Queue("HOST.example", 0, true);
    View_.Build();
    EXPECT_EQ(Shown(), (std::vector<LogEntry*>{upper, lower}));
}

TEST_F(RealtimeViewTest, UnchangedSetLeavesTheListsAlone) {
    Queue("10.0.0.1", MsPerMinute, true);
    View_.Build();
    ASSERT_EQ(Lists_.Log().rowCount(), 1);
    int resets = 0;
    int removals = 0;
    // The counters live as long as the test body: so do the connections.
    const QObject scope;
    QObject::connect(&Lists_.Log(), &QAbstractItemModel::modelReset, &scope, [&] { ++resets; });
    QObject::connect(&Lists_.Log(), &QAbstractItemModel::rowsRemoved, &scope, [&] { ++removals; });
    View_.Build();
    EXPECT_EQ(resets + removals, 0);
    Queue("10.0.0.2", 0, true);
    View_.Build();
    EXPECT_EQ(Lists_.Log().rowCount(), 2);
    EXPECT_GT(resets + removals, 0);
}

TEST_F(RealtimeViewTest, TimerFiresWhenTheOldestRowLeaves) {
    struct Case {
        std::int64_t ageMs;
        int intervalMs;
    };
    const Case cases[] = {
        {9 * MsPerMinute + 30 * MsPerSecond, 30000}, {0, 600000}, {MsPerSecond / 2, 600000}};
    for (const Case& c : cases) {
        ClearAll();
        Queue("10.0.0.1", c.ageMs, true);
        View_.Build();
        EXPECT_TRUE(View_.Timer().isActive()) << c.ageMs;
        EXPECT_TRUE(View_.Timer().isSingleShot());
        EXPECT_EQ(View_.Timer().interval(), c.intervalMs) << c.ageMs;
    }
    // Nothing inside the window: no timer.
    ClearAll();
    Queue("10.0.0.1", 11 * MsPerMinute, true);
    View_.Build();
    EXPECT_FALSE(View_.Timer().isActive());
}

TEST_F(RealtimeViewTest, SmallestWindowOverServersAndOwnWindowWhenDropping) {
    Server_->SetTimeRevisitorAfterMinutes(30);
    Server& shortOne = Space().Servers().Add(std::make_unique<Server>());
    shortOne.SetTimeRevisitorAfterMinutes(5);
    EXPECT_EQ(View_.WindowMinutes(), 5);
    Lists_.SetCurrentServer(Server_);
    EXPECT_EQ(View_.WindowMinutes(), 30);
    Lists_.SetCurrentServer(nullptr);

    // Rows shown, then aged: each leaves after its own server's window.
    LogEntry* longRow = Queue("10.0.0.1", 0, true, Server_);
    LogEntry* shortRow = Queue("10.0.0.2", 0, true, &shortOne);
    View_.Build();
    ASSERT_EQ(Lists_.Log().rowCount(), 2);
    Clock_.Advance(6 * MsPerMinute);
    View_.DropExpiredRows();
    EXPECT_EQ(Shown(), std::vector<LogEntry*>{longRow});
    EXPECT_EQ(shortRow->ListItem, ListHandle::None);
    Clock_.Advance(24 * MsPerMinute);
    View_.DropExpiredRows();
    EXPECT_TRUE(Shown().empty());
}

TEST_F(RealtimeViewTest, ExpiredEntriesAreNeverShown) {
    // A keep period of one hour ends inside the realtime window of two hours.
    LogEntry* fresh = Queue("10.0.0.1", MsPerMinute, true);
    Queue("10.0.0.2", 90 * MsPerMinute, true);
    Server_->SetTimeRevisitorAfterMinutes(120);
    Server_->SetTimeDeleteAfter(1);
    Server_->SetTimeDeleteAfterUnit(KeepUnit::Hours);
    View_.Build();
    EXPECT_EQ(Shown(), std::vector<LogEntry*>{fresh});
    EXPECT_EQ(Space().Entries().Count(), 1);
    EXPECT_EQ(View_.Rows(), std::vector<LogEntry*>{fresh});
}

} // namespace
} // namespace kavel::ui
