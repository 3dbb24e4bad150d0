#include "ui/AccessLists.h"

#include "UiTestSupport.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/Clock.h"
#include "support/ReaderTestSupport.h"
#include "support/TestWorkspace.h"

#include <QEventLoop>
#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel::ui {
namespace {

constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

class AccessListsTest : public testing::Test {
protected:
    AccessListsTest() {
        Space().Entries().Clear();
        Server_.SetName("intranet");
        Server_.SetTimeDeleteAfter(3);
        Server_.SetTimeDeleteAfterUnit(KeepUnit::Days);
        AccessLists::Hooks hooks;
        hooks.MarkServerNew = [this](Server& server) { Marks_.push_back(server.QueueCount()); };
        Lists_.SetHooks(std::move(hooks));
    }
    ~AccessListsTest() override {
        Lists_.ClearLists();
        Space().Entries().Clear();
    }

    // An entry at the given second of 11:00, its client named after the second.
    LogEntry* Queue(int second, const std::string& page = "/index.html") {
        char line[256];
        std::snprintf(
            line, sizeof line,
            "10.0.%d.%d - - [10/Mar/2024:11:%02d:%02d +0000] \"GET %s HTTP/1.1\" 200 512 \"-\" \"-\"",
            second / 256, second % 256, second / 60, second % 60, page.c_str());
        return Space().Entries().Append(MakeEntry(line, Server_, EntrySettings::Of(Space())));
    }

    // The seconds of the accesses rows from the top.
    std::vector<int> RowSeconds() const {
        std::vector<int> seconds;
        const AccessListModel& log = Lists_.Log();
        for (int row = 0; row < log.rowCount(); ++row)
            seconds.push_back(static_cast<int>((log.EntryAt(row)->Time.Ms % MsPerHour) / 1000));
        return seconds;
    }

    QApplication& App_ = test::App();
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    Server Server_;
    AccessLists Lists_{Space()};
    std::vector<std::int32_t> Marks_;
};

// Batches of late rows on both sides of the limit where single insertions give way to one merge:
// the list stays newest first, and every row is found where it is shown.
TEST_F(AccessListsTest, LateRowsAreMergedIntoTimeOrderWhateverTheBatchSize) {
    for (const int late : {0, 1, 64, 65, 500}) {
        SCOPED_TRACE(late);
        Lists_.ClearLists();
        Space().Entries().Clear();
        for (int second = 1000; second < 1100; ++second)
            Queue(second);
        Lists_.AppendEntries(Space().Entries().First());
        LogEntry* firstLate = nullptr;
        // Late rows interleave with the shown ones; a few share their time with a shown row.
        for (int i = 0; i < late; ++i) {
            LogEntry* entry = Queue(500 + i * 3 % 600);
            if (firstLate == nullptr)
                firstLate = entry;
        }
        LogEntry* newest = Queue(2000);
        Lists_.AppendEntries(firstLate != nullptr ? firstLate : newest);
        const std::vector<int> seconds = RowSeconds();
        ASSERT_EQ(seconds.size(), static_cast<std::size_t>(100 + late + 1));
        EXPECT_TRUE(std::is_sorted(seconds.rbegin(), seconds.rend()));
        EXPECT_EQ(seconds.front(), 2000);
        const AccessListModel& log = Lists_.Log();
        for (int row = 0; row < log.rowCount(); ++row)
            ASSERT_EQ(log.RowOf(log.EntryAt(row)), row);
        // Of two rows of one time, the one added later is shown above.
        for (int row = 0; row + 1 < log.rowCount(); ++row) {
            if (log.EntryAt(row)->Time == log.EntryAt(row + 1)->Time) {
                EXPECT_GT(log.NumberAt(row), log.NumberAt(row + 1));
            }
        }
    }
}

TEST_F(AccessListsTest, NotificationsInABurstReachTheViewsTogetherAndNoneIsLost) {
    // Long enough that the burst below ends within one interval even on a busy machine.
    Lists_.SetPublishInterval(std::chrono::milliseconds(1000));
    int insertions = 0;
    // The counter lives as long as the test body: so does the connection.
    const QObject scope;
    QObject::connect(&Lists_.Log(), &QAbstractItemModel::rowsInserted, &scope, [&] { ++insertions; });
    int second = 0;
    const auto notify = [&] {
        LogEntry* first = nullptr;
        for (int i = 0; i < 10; ++i) {
            LogEntry* entry = Queue(second++);
            if (first == nullptr)
                first = entry;
        }
        Lists_.TakeOverEntries(*first);
    };
    // The first notification after a quiet moment is shown at once.
    notify();
    EXPECT_EQ(Lists_.Log().rowCount(), 10);
    for (int i = 0; i < 9; ++i)
        notify();
    EXPECT_EQ(Lists_.Log().rowCount(), 10);
    EXPECT_EQ(Lists_.Log().Size(), 100U);
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return Lists_.Log().rowCount() == 100; }));
    EXPECT_EQ(insertions, 2);
    EXPECT_EQ(Lists_.Raw().rowCount(), 100);
    EXPECT_EQ(Lists_.Log().NumberAt(0), 100);
    // The node of the server shows its count when the rows are shown, not once per take-over:
    // it catches up with the views.
    EXPECT_EQ(Marks_, (std::vector<std::int32_t>{10, 100}));
    for (LogEntry* entry = Space().Entries().First(); entry != nullptr; entry = Space().Entries().Next(entry))
        EXPECT_FALSE(entry->IsNew.load());
}

// A server deleted while its node's mark waits for the next publish is never marked: the mark
// would reach a freed server.
TEST_F(AccessListsTest, AServerForgottenWhileItsMarkWaitsIsNotMarked) {
    Lists_.SetPublishInterval(std::chrono::milliseconds(60000));
    std::vector<Server*> marked;
    Lists_.GetHooks().MarkServerNew = [&](Server& server) { marked.push_back(&server); };
    Lists_.TakeOverEntries(*Queue(1));
    ASSERT_EQ(marked, std::vector<Server*>{&Server_});
    auto other = std::make_unique<Server>();
    other->SetName("extranet");
    other->SetTimeDeleteAfter(3);
    LogEntry* first = Space().Entries().Append(
        MakeEntry("10.1.0.1 - - [10/Mar/2024:11:00:05 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"", *other,
                  EntrySettings::Of(Space())));
    ASSERT_NE(first, nullptr);
    Queue(2);
    Lists_.TakeOverEntries(*first);
    Lists_.ForgetServer(*other);
    other.reset();
    Lists_.Publish();
    EXPECT_EQ(marked, (std::vector<Server*>{&Server_, &Server_}));
}

TEST_F(AccessListsTest, ARebuildWhileRowsWaitShowsEachEntryOnce) {
    Lists_.SetPublishInterval(std::chrono::milliseconds(200));
    Lists_.TakeOverEntries(*Queue(1));
    Lists_.TakeOverEntries(*Queue(2));
    ASSERT_EQ(Lists_.Log().rowCount(), 1);
    Lists_.Rebuild();
    EXPECT_EQ(Lists_.Log().rowCount(), 2);
    EXPECT_EQ(Lists_.Raw().rowCount(), 2);
    // The rows that waited before the rebuild are not shown a second time.
    Lists_.Publish();
    EXPECT_EQ(Lists_.Log().rowCount(), 2);
    EXPECT_EQ(Lists_.Raw().rowCount(), 2);
}

TEST_F(AccessListsTest, AnExceptionRowDescribesItsAccessAsTheDetectionDoes) {
    LogEntry* suspicious = Queue(1, "/a/../b");
    Queue(2);
    Lists_.AppendEntries(Space().Entries().First());
    const SuspicionCheck check = CheckSuspicious(suspicious->Access(), Space().Spiders());
    ASSERT_NE(check.Code, suspicion_code::None);
    const ExceptionListModel& exceptions = Lists_.Exceptions();
    ASSERT_EQ(exceptions.rowCount(), 1);
    EXPECT_EQ(exceptions.EntryAt(0), suspicious);
    EXPECT_EQ(exceptions.CodeAt(0), check.Code);
    EXPECT_EQ(exceptions.data(exceptions.index(0, ExceptionListModel::ColumnDescription), Qt::DisplayRole)
                  .toString()
                  .toStdString(),
              check.Message);
}

// The visitor, status and browser of an access, and the kind of its exception, show as their
// images in both lists.
TEST_F(AccessListsTest, RowsShowTheImagesOfTheirAccess) {
    Space().Documents().Add(".html");
    const char* const lines[] = {
        "10.0.0.1 - - [10/Mar/2024:11:00:01 +0000] \"GET /private.html HTTP/1.1\" 401 0 \"-\" \"Mozilla/5.0 "
        "Firefox/118.0\"",
        "10.0.0.2 - - [10/Mar/2024:11:00:02 +0000] \"GET /a/../b.gif HTTP/1.1\" 200 1 \"-\" \"Opera/9.80\""};
    for (const char* line : lines)
        Space().Entries().Append(MakeEntry(line, Server_, EntrySettings::Of(Space())));
    Lists_.AppendEntries(Space().Entries().First());
    // A cell without image holds nothing: Icon::None.
    const auto image = [](const QAbstractItemModel& model, int row, int column) {
        const QVariant index = model.data(model.index(row, column), IconRole);
        return index.isValid() ? index.toInt() : IconIndex(Icon::None);
    };
    const AccessListModel& log = Lists_.Log();
    ASSERT_EQ(log.rowCount(), 2);
    // Newest first: the page element, then the document.
    EXPECT_EQ(image(log, 1, AccessListModel::ColumnVisitor), IconIndex(Icon::NewVisitor));
    EXPECT_EQ(image(log, 1, AccessListModel::ColumnStatus), IconIndex(Icon::StatusError));
    EXPECT_EQ(image(log, 1, AccessListModel::ColumnUserAgent), IconIndex(Icon::BrowserFirefox));
    EXPECT_EQ(image(log, 0, AccessListModel::ColumnVisitor), IconIndex(Icon::None));
    EXPECT_EQ(image(log, 0, AccessListModel::ColumnStatus), IconIndex(Icon::StatusOk));
    EXPECT_EQ(image(log, 0, AccessListModel::ColumnUserAgent), IconIndex(Icon::BrowserOpera));

    const ExceptionListModel& exceptions = Lists_.Exceptions();
    ASSERT_EQ(exceptions.rowCount(), 2);
    EXPECT_EQ(image(exceptions, 1, ExceptionListModel::ColumnImage), IconIndex(Icon::SuspiciousUnauthorized));
    EXPECT_EQ(image(exceptions, 0, ExceptionListModel::ColumnImage), IconIndex(Icon::SuspiciousSeveral));
}

// A header click sorts by the column's value: texts ignoring ASCII case, codes as numbers, "Nr."
// by the arrival number, ties left to the sort's own order.
TEST_F(AccessListsTest, RowsCompareByTheirColumnsValues) {
    Queue(3, "/b.html");
    Queue(1, "/A.html");
    Queue(2, "/a.html");
    Lists_.AppendEntries(Space().Entries().First());
    const AccessListModel& log = Lists_.Log();
    ASSERT_EQ(log.rowCount(), 3);
    // Rows from the top: second 3 (Nr. 1), 2 (Nr. 3), 1 (Nr. 2).
    const auto sign = [&](int column, int a, int b) {
        const int result = log.CompareRows(column, a, b);
        return result < 0 ? -1 : (result > 0 ? 1 : 0);
    };
    EXPECT_EQ(sign(AccessListModel::ColumnTime, 0, 1), 1);
    EXPECT_EQ(sign(AccessListModel::ColumnTime, 2, 1), -1);
    EXPECT_EQ(sign(AccessListModel::ColumnNumber, 0, 1), -1);
    EXPECT_EQ(sign(AccessListModel::ColumnNumber, 2, 1), -1);
    EXPECT_EQ(sign(AccessListModel::ColumnPage, 1, 2), 0) << "/a.html and /A.html";
    EXPECT_EQ(sign(AccessListModel::ColumnPage, 0, 1), 1);
    EXPECT_EQ(sign(AccessListModel::ColumnHost, 1, 2), 1) << "10.0.0.2 after 10.0.0.1";
    EXPECT_EQ(sign(AccessListModel::ColumnStatus, 0, 1), 0);
    EXPECT_EQ(sign(AccessListModel::ColumnServer, 0, 1), 0);
    EXPECT_EQ(sign(AccessListModel::ColumnMethod, 0, 2), 0);
}

// Before a sort by a text column the rows get ranks of their texts: the ranks order the rows as
// their texts do (texts equal but for case tie), and rows added after them compare by text.
TEST_F(AccessListsTest, RanksMadeForASortOrderRowsAsTheirTextsDo) {
    const char* pages[] = {"/b.html", "/A.html", "/a.html", "/c", "/B.html", "/a.html", "/"};
    for (int i = 0; i < 7; ++i)
        Queue(i + 1, pages[i]);
    Lists_.AppendEntries(Space().Entries().First());
    AccessListModel& log = Lists_.Log();
    const auto signs = [&](int column) {
        std::vector<int> result;
        for (int a = 0; a < log.rowCount(); ++a)
            for (int b = 0; b < log.rowCount(); ++b) {
                const int order = log.CompareRows(column, a, b);
                result.push_back(order < 0 ? -1 : (order > 0 ? 1 : 0));
            }
        return result;
    };
    for (const int column :
         {AccessListModel::ColumnPage, AccessListModel::ColumnHost, AccessListModel::ColumnMethod}) {
        const std::vector<int> byText = signs(column);
        log.PrepareCompare(column);
        EXPECT_EQ(signs(column), byText) << column;
    }
    log.PrepareCompare(AccessListModel::ColumnPage);
    LogEntry* added = Queue(9, "/b.HTML");
    Lists_.AppendEntries(added);
    ASSERT_EQ(log.rowCount(), 8);
    const std::vector<int> mixed = signs(AccessListModel::ColumnPage);
    log.PrepareCompare(AccessListModel::ColumnPage);
    EXPECT_EQ(signs(AccessListModel::ColumnPage), mixed);
    EXPECT_EQ(log.CompareRows(AccessListModel::ColumnPage, 0, log.rowCount() - 1), 0)
        << "/b.HTML and /b.html";
}

} // namespace
} // namespace kavel::ui

namespace kavel::ui {
namespace {

// Entries leave with their rows of all three lists while the other rows stay: one removal
// per run of neighbouring rows, one change of the layout when the runs are too many; the views
// never see a row of a freed entry, and what stays keeps its place and its selection.
// Each list knows its own rows by the handle its entries keep, also while another list lives
// beside it, and a list made after one went claims none of the rows of those that live.
TEST_F(AccessListsTest, ListsLivingSideBySideTellTheirRowsApart) {
    LogEntry* first = Queue(1);
    LogEntry* second = Queue(2);
    AccessListModel one{Space()};
    auto other = std::make_unique<AccessListModel>(Space());
    one.Add(*first, 1);
    other->Add(*second, 1);
    EXPECT_TRUE(one.HasRow(*first));
    EXPECT_FALSE(one.HasRow(*second));
    EXPECT_TRUE(other->HasRow(*second));
    EXPECT_FALSE(other->HasRow(*first));
    other.reset();
    EXPECT_EQ(second->ListItem, ListHandle::None);
    const AccessListModel later{Space()};
    EXPECT_FALSE(later.HasRow(*first));
    EXPECT_TRUE(one.HasRow(*first));
    // Handles go back with their lists: many more lists than handles, one after another.
    for (int i = 0; i < 1000; ++i)
        EXPECT_NO_THROW(AccessListModel{Space()});
}

TEST_F(AccessListsTest, RemovedEntriesTakeTheirRowsAlongAndTheOtherRowsStay) {
    struct Case {
        const char* Name;
        // Whether the entry at second s (0..59) leaves.
        bool (*Leaves)(int second);
        int Removals;
        int Relayouts;
    };
    const Case cases[] = {
        {"the oldest", [](int second) { return second < 20; }, 1, 0},
        {"two runs", [](int second) { return second < 10 || (second >= 30 && second < 35); }, 2, 0},
        {"the newest", [](int second) { return second >= 55; }, 1, 0},
        {"every other", [](int second) { return second % 2 == 0; }, 0, 1},
        {"none", [](int) { return false; }, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Lists_.ClearLists();
        Space().Entries().Clear();
        std::vector<LogEntry*> leaving;
        std::vector<int> staying;
        for (int second = 0; second < 60; ++second) {
            // Every fourth access is suspicious, so that the exceptions list has rows too.
            LogEntry* entry = Queue(second, second % 4 == 0 ? "/../etc/passwd" : "/index.html");
            if (c.Leaves(second))
                leaving.push_back(entry);
            else
                staying.insert(staying.begin(), second);
        }
        Lists_.AppendEntries(Space().Entries().First());
        ASSERT_EQ(Lists_.Exceptions().rowCount(), 15);
        // The oldest staying row is selected in a view over the accesses.
        QItemSelectionModel selection(&Lists_.Log());
        const std::vector<int> before = RowSeconds();
        const int selected =
            static_cast<int>(std::find(before.begin(), before.end(), staying.back()) - before.begin());
        const LogEntry* selectedEntry = Lists_.Log().EntryAt(selected);
        selection.select(Lists_.Log().index(selected, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        // A selected row that leaves leaves the selection too.
        if (!leaving.empty()) {
            for (int row = 0; row < Lists_.Log().rowCount(); ++row)
                if (Lists_.Log().EntryAt(row) == leaving.back())
                    selection.select(Lists_.Log().index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        int removals = 0;
        int relayouts = 0;
        int resets = 0;
        const QObject scope;
        for (QAbstractItemModel* model :
             std::initializer_list<QAbstractItemModel*>{&Lists_.Raw(), &Lists_.Log(), &Lists_.Exceptions()}) {
            QObject::connect(model, &QAbstractItemModel::rowsRemoved, &scope, [&, model] {
                if (model == &Lists_.Log())
                    ++removals;
            });
            QObject::connect(model, &QAbstractItemModel::layoutChanged, &scope, [&, model] {
                if (model == &Lists_.Log())
                    ++relayouts;
            });
            QObject::connect(model, &QAbstractItemModel::modelReset, &scope, [&] { ++resets; });
        }

        Lists_.RemoveEntries(leaving);
        EXPECT_EQ(removals, c.Removals);
        EXPECT_EQ(relayouts, c.Relayouts);
        EXPECT_EQ(resets, 0);
        EXPECT_EQ(RowSeconds(), staying);
        EXPECT_EQ(Space().Entries().Count(), static_cast<std::int32_t>(staying.size()));
        EXPECT_EQ(Lists_.Raw().rowCount(), static_cast<int>(staying.size()));
        for (int row = 0; row < Lists_.Raw().rowCount(); ++row)
            EXPECT_EQ(Lists_.Raw().EntryAt(row), Lists_.Log().EntryAt(row));
        for (int row = 0; row < Lists_.Exceptions().rowCount(); ++row)
            EXPECT_EQ(Lists_.Exceptions().EntryAt(row)->Time.Ms % MsPerMinute / 1000 % 4, 0);
        int exceptions = 0;
        for (const int second : staying)
            exceptions += second % 4 == 0 ? 1 : 0;
        EXPECT_EQ(Lists_.Exceptions().rowCount(), exceptions);
        ASSERT_EQ(selection.selectedRows().size(), 1);
        EXPECT_EQ(Lists_.Log().EntryAt(selection.selectedRows().front().row()), selectedEntry);
    }
}

} // namespace
} // namespace kavel::ui
