#include "ui/AccessTableView.h"

#include "UiTestSupport.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "platform/Clock.h"
#include "support/ReaderTestSupport.h"
#include "support/TestWorkspace.h"
#include "ui/AccessLists.h"
#include "ui/NewRowsBar.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel::ui {
namespace {

constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

// The accesses and the exceptions list, each in a shown view of a few dozen rows' height, with
// its bar of new rows. Every access answers 404, so it has a row in both lists.
class AccessTableViewTest : public testing::TestWithParam<bool> {
protected:
    AccessTableViewTest() {
        Space().Entries().Clear();
        Server_.SetName("intranet");
        Server_.SetTimeDeleteAfter(3);
        Server_.SetTimeDeleteAfterUnit(KeepUnit::Days);
        View_.setObjectName(QStringLiteral("ListViewLog"));
        View_.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        View_.verticalHeader()->setDefaultSectionSize(20);
        View_.verticalHeader()->hide();
        View_.setSelectionBehavior(QAbstractItemView::SelectRows);
        View_.setEditTriggers(QAbstractItemView::NoEditTriggers);
        if (Exceptions())
            View_.setModel(&Lists_.Exceptions());
        else
            View_.setModel(&Lists_.Log());
        Bar_ = new NewRowsBar(&View_);
        View_.resize(600, 300);
        View_.show();
    }
    ~AccessTableViewTest() override {
        Lists_.ClearLists();
        Space().Entries().Clear();
    }

    bool Exceptions() const { return GetParam(); }
    const QAbstractItemModel& Model() const { return *View_.model(); }
    LogEntry* EntryAt(int row) const {
        return Exceptions() ? Lists_.Exceptions().EntryAt(row) : Lists_.Log().EntryAt(row);
    }
    int RowOf(const LogEntry* entry) const {
        for (int row = 0; row < Model().rowCount(); ++row)
            if (EntryAt(row) == entry)
                return row;
        return -1;
    }

    // One reader notification: ten accesses newer than all before, shown at once.
    void Notify() {
        LogEntry* first = nullptr;
        for (int i = 0; i < 10; ++i) {
            char line[256];
            std::snprintf(
                line, sizeof line,
                "10.0.0.1 - - [10/Mar/2024:11:%02d:%02d +0000] \"GET /p%d.html HTTP/1.1\" 404 5 \"-\" \"-\"",
                Second_ / 60, Second_ % 60, Second_);
            ++Second_;
            LogEntry* entry = Space().Entries().Append(MakeEntry(line, Server_, EntrySettings::Of(Space())));
            if (first == nullptr)
                first = entry;
        }
        Lists_.AppendEntries(first);
        QCoreApplication::processEvents();
    }

    QRect RowRect(int row) const { return View_.visualRect(Model().index(row, 1)); }

    QApplication& App_ = test::App();
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    Server Server_;
    AccessLists Lists_{Space()};
    AccessTableView View_;
    NewRowsBar* Bar_ = nullptr;
    int Second_ = 0;
};

INSTANTIATE_TEST_SUITE_P(AccessesAndExceptions, AccessTableViewTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("Exceptions") : std::string("Accesses");
                         });

TEST_P(AccessTableViewTest, AtTheNewestRowWithNothingSelectedNewRowsAppearOnScreen) {
    for (int i = 0; i < 10; ++i)
        Notify();
    ASSERT_EQ(View_.verticalScrollBar()->value(), 0);
    Notify();
    EXPECT_EQ(View_.rowAt(0), 0);
    EXPECT_EQ(EntryAt(0), Space().Entries().Last());
    EXPECT_FALSE(View_.HoldsStill());
    EXPECT_EQ(View_.UnseenRows(), 0);
    EXPECT_FALSE(Bar_->isVisible());
}

// A selected row stays where the user saw it while notifications arrive; the bar counts what
// came above, and brings the newest row back.
TEST_P(AccessTableViewTest, ASelectedRowHoldsStillWhileNotificationsArrive) {
    for (int i = 0; i < 10; ++i)
        Notify();
    View_.selectRow(3);
    LogEntry* selected = EntryAt(3);
    const QRect before = RowRect(3);
    ASSERT_TRUE(View_.HoldsStill());
    for (int i = 1; i <= 5; ++i) {
        SCOPED_TRACE(i);
        Notify();
        const int row = RowOf(selected);
        ASSERT_EQ(row, 3 + 10 * i);
        EXPECT_EQ(RowRect(row), before);
        EXPECT_EQ(View_.selectionModel()->selectedRows().front().row(), row);
        EXPECT_EQ(View_.UnseenRows(), 10 * i);
        EXPECT_TRUE(Bar_->isVisible());
        EXPECT_EQ(Bar_->text(), NewRowsBar::Text(10 * i));
    }
    EXPECT_EQ(Bar_->text(), QStringLiteral("50 neue Zugriffe"));
    EXPECT_EQ(Bar_->objectName(), QStringLiteral("ListViewLogNewRows"));
    EXPECT_FALSE(Bar_->accessibleName().isEmpty());

    QTest::mouseClick(Bar_, Qt::LeftButton);
    EXPECT_EQ(View_.verticalScrollBar()->value(), 0);
    EXPECT_FALSE(View_.selectionModel()->hasSelection());
    EXPECT_FALSE(Bar_->isVisible());
    EXPECT_EQ(View_.UnseenRows(), 0);
    // Back at the newest row the list follows the arrivals again.
    Notify();
    EXPECT_EQ(View_.rowAt(0), 0);
    EXPECT_EQ(EntryAt(0), Space().Entries().Last());
}

TEST_P(AccessTableViewTest, ScrolledAwayTheRowsOnScreenStayAndHomeGoesBackToTheNewest) {
    for (int i = 0; i < 10; ++i)
        Notify();
    View_.verticalScrollBar()->setValue(20);
    const int top = View_.rowAt(0);
    ASSERT_GT(top, 0);
    LogEntry* topEntry = EntryAt(top);
    Notify();
    Notify();
    EXPECT_EQ(EntryAt(View_.rowAt(0)), topEntry);
    EXPECT_EQ(View_.UnseenRows(), 20);
    // Scrolling up part of the way shows some of them; the bar counts what is still above.
    View_.verticalScrollBar()->setValue(View_.verticalScrollBar()->value() - 5);
    EXPECT_EQ(View_.UnseenRows(), 20);
    View_.verticalScrollBar()->setValue(15);
    EXPECT_EQ(View_.UnseenRows(), 15);

    View_.setFocus();
    QTest::keyClick(&View_, Qt::Key_Home);
    EXPECT_EQ(View_.verticalScrollBar()->value(), 0);
    EXPECT_EQ(View_.UnseenRows(), 0);
    EXPECT_FALSE(Bar_->isVisible());
}

// Expired entries leave the lists without a click, one run of rows or many at once: a list that
// holds still keeps its top row at the top and its selection.
TEST_P(AccessTableViewTest, ExpiredRowsLeaveAHeldListInPlace) {
    struct Case {
        const char* Name;
        // Whether the access of second s (0..99) leaves; row r shows second 99 - r.
        bool (*Leaves)(int second);
    };
    const Case cases[] = {
        {"the newest ten, above the screen", [](int second) { return second >= 90; }},
        {"every other, in many runs", [](int second) { return second % 2 == 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Lists_.ClearLists();
        Space().Entries().Clear();
        Second_ = 0;
        for (int i = 0; i < 10; ++i)
            Notify();
        ASSERT_EQ(Model().rowCount(), 100);
        View_.scrollTo(Model().index(40, 1), QAbstractItemView::PositionAtTop);
        View_.selectRow(44);
        QCoreApplication::processEvents();
        const int top = View_.rowAt(0);
        ASSERT_GT(top, 30);
        LogEntry* topEntry = EntryAt(top);
        LogEntry* selected = EntryAt(44);
        std::vector<LogEntry*> leaving;
        for (LogEntry* entry = Space().Entries().First(); entry != nullptr;
             entry = Space().Entries().Next(entry))
            if (c.Leaves(static_cast<int>(entry->Time.Ms % MsPerHour / MsPerSecond)))
                leaving.push_back(entry);
        ASSERT_FALSE(std::find(leaving.begin(), leaving.end(), topEntry) != leaving.end());
        ASSERT_FALSE(std::find(leaving.begin(), leaving.end(), selected) != leaving.end());

        Lists_.RemoveEntries(leaving);
        QCoreApplication::processEvents();
        EXPECT_EQ(Model().rowCount(), static_cast<int>(100 - leaving.size()));
        EXPECT_EQ(EntryAt(View_.rowAt(0)), topEntry);
        const QModelIndexList rows = View_.selectionModel()->selectedRows();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(EntryAt(rows.front().row()), selected);
        View_.clearSelection();
    }
}

// Only the accesses list removes single rows (the realtime view's expired ones).
class AccessTableViewRemovalTest : public AccessTableViewTest {};
INSTANTIATE_TEST_SUITE_P(Accesses, AccessTableViewRemovalTest, testing::Values(false));

// Rows that leave from above the rows on screen do not pull them up either.
TEST_P(AccessTableViewRemovalTest, RowsRemovedAboveTheScreenLeaveTheRowsOnScreenInPlace) {
    for (int i = 0; i < 10; ++i)
        Notify();
    View_.selectRow(40);
    LogEntry* selected = EntryAt(40);
    View_.scrollTo(Model().index(40, 1), QAbstractItemView::PositionAtCenter);
    const QRect before = RowRect(40);
    Lists_.Log().RemoveRow(0);
    Lists_.Log().RemoveRow(5);
    QCoreApplication::processEvents();
    const int row = RowOf(selected);
    ASSERT_EQ(row, 38);
    EXPECT_EQ(RowRect(row), before);
}

} // namespace
} // namespace kavel::ui
