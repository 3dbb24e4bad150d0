#include "ui/ExpirySweep.h"

#include "UiTestSupport.h"
#include "acquisition/EntryArena.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "base/DefinitionFile.h"
#include "platform/Clock.h"
#include "platform/qt/QtDispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"
#include "ui/AccessListModels.h"
#include "ui/AccessLists.h"
#include "ui/AccessTableView.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/ServerTree.h"
#include "ui/UseMeter.h"

#include <QItemSelectionModel>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using kavel::test::Space;

namespace kavel::ui {
namespace {

using kavel::test::AppendLog;
using kavel::test::WriteBytes;

// 10 March 2024, 12:00 local time.
constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

std::string NcsaLine(int client, int hour, int minute) {
    char line[256];
    std::snprintf(
        line, sizeof line,
        "10.0.0.%d - - [10/Mar/2024:%02d:%02d:00 +0000] \"GET /p%d.html HTTP/1.1\" 200 %d \"-\" \"-\"\n",
        client, hour, minute, client, 1000 + client * 100);
    return line;
}

// The window left alone with two servers: "kurz" keeps its accesses one hour, "lang" three days.
// The clock moves on, and the expired accesses leave by themselves.
class ExpirySweepTest : public testing::TestWithParam<bool> {
protected:
    ~ExpirySweepTest() override {
        if (Window_) {
            Window_->close();
            Window_.reset();
        }
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Entries().Clear();
        Space().Servers().Clear();
        MessageBox::Reset();
    }

    void Start(int linesPerServer = 12) {
        // name;log;keep;poll;type;fields;zone;active;revisit;sound;unit;popup
        WriteBytes(Home_ / "kavel.servers",
                   DefinitionFileHeader("Servers", true) + "\r\n" + "kurz;" + (Home_ / "kurz.log").string() +
                       ";1;500;0;0;0;-1;10;0;1;0\r\n" + "lang;" + (Home_ / "lang.log").string() +
                       ";3;500;0;0;0;-1;10;0;0;0\r\n");
        WriteBytes(Home_ / "kavel.documents", ".html\r\n");
        std::string kurz;
        std::string lang;
        // All within the hour that "kurz" keeps; more lines end at 11:59.
        const int firstMinute = 11 * 60 + (linesPerServer > 12 ? 57 - 2 * linesPerServer : 0);
        for (int i = 0; i < linesPerServer; ++i) {
            // Interleaved in time: the rows of the two servers alternate in the lists.
            const int kurzMinute = firstMinute + 2 * i + 2;
            const int langMinute = kurzMinute + 1;
            kurz += NcsaLine(i % 50, kurzMinute / 60, kurzMinute % 60);
            lang += NcsaLine(50 + i % 50, langMinute / 60, langMinute % 60);
        }
        WriteBytes(Home_ / "kurz.log", kurz);
        WriteBytes(Home_ / "lang.log", lang);
        Lifecycle_.CreateObjects();
        MainWindow::Setup setup;
        setup.Lifecycle = &Lifecycle_;
        Window_ = std::make_unique<MainWindow>(Space(), setup);
        Window_->show();
        ASSERT_TRUE(test::RunEventLoopUntil([this, linesPerServer] {
            return Window_->FirstIdleDone() && Window_->Lists().Log().rowCount() == 2 * linesPerServer;
        }));
    }

    Server& ServerNamed(const std::string& name) {
        for (const auto& server : Space().Servers())
            if (server->Name() == name)
                return *server;
        throw std::runtime_error("no server " + name);
    }

    QString NodeText(const std::string& name) { return Window_->Tree()->NodeOf(ServerNamed(name))->text(0); }

    QApplication& App_ = test::App();
    kavel::test::ScopedHome Home_;
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    platform::QtDispatcher Dispatcher_;
    platform::ScopedDispatcher UseDispatcher_{Dispatcher_};
    ProgramLifecycle Lifecycle_{Space()};
    std::unique_ptr<MainWindow> Window_;
};

// By the timer, and by a notification after a quiet minute: the rows, the node's count, the
// totals and the use meter end up as a rebuild of the lists would show them, the entries'
// memory goes back, and the rows that stay keep their selection. Nobody clicks.
TEST_P(ExpirySweepTest, ExpiredAccessesLeaveWithoutAClick) {
    const bool byNotification = GetParam();
    Start();
    Server& kurz = ServerNamed("kurz");
    Server& lang = ServerNamed("lang");
    EXPECT_EQ(NodeText("kurz"), QStringLiteral("kurz (12)"));
    const QString totalsBefore = Window_->StatusText(1);
    AccessTableView* view = Window_->LogView();
    view->selectRow(0);
    const LogEntry* selected = Window_->Lists().Log().EntryAt(0);
    ASSERT_EQ(selected->Server, &lang);
    const std::uint64_t mapped = MappedEntryBlockBytes();

    Clock_.Set(DateTime{TestNow.Ms + 2 * MsPerHour});
    if (byNotification) {
        AppendLog(Home_ / "lang.log", NcsaLine(99, 13, 59));
    } else {
        Window_->Expiry().SetInterval(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return kurz.QueueCount() == 0; }));
    const int kept = byNotification ? 13 : 12;
    EXPECT_EQ(lang.QueueCount(), kept);
    EXPECT_EQ(Space().Entries().Count(), kept);
    EXPECT_EQ(Window_->Lists().Log().rowCount(), kept);
    EXPECT_EQ(Window_->Lists().Raw().rowCount(), kept);
    for (int row = 0; row < kept; ++row)
        EXPECT_EQ(Window_->Lists().Log().EntryAt(row)->Server, &lang);
    EXPECT_EQ(NodeText("kurz"), QStringLiteral("kurz (0)"));
    EXPECT_EQ(NodeText("lang"), QStringLiteral("lang (%1)").arg(kept));
    ASSERT_EQ(view->selectionModel()->selectedRows().size(), 1);
    const int selectedRow = view->selectionModel()->selectedRows().front().row();
    EXPECT_EQ(Window_->Lists().Log().EntryAt(selectedRow), selected);
    // The reader that kept only expired accesses gives its memory back when it rests.
    EXPECT_TRUE(test::RunEventLoopUntil([&] { return MappedEntryBlockBytes() < mapped; }));

    const QString totals = Window_->StatusText(1);
    EXPECT_NE(totals, totalsBefore);
    const QImage meter = Window_->Meter()->Image().copy();
    Window_->RefreshLists();
    EXPECT_EQ(Window_->StatusText(1), totals);
    EXPECT_TRUE(Window_->Meter()->Image() == meter);
    EXPECT_EQ(Window_->Lists().Log().rowCount(), kept);
}

INSTANTIATE_TEST_SUITE_P(ByTimerAndByNotification, ExpirySweepTest, testing::Bool());

class ExpirySweepManyRunsTest : public ExpirySweepTest {};

// Rows that leave in many runs go in one change of the list's layout, which reaches the view
// through its filter and its sort: the selected row stays selected and the row at the top of
// the view stays at its top.
TEST_F(ExpirySweepManyRunsTest, AHeldListKeepsItsSelectionAndItsTopRow) {
    Start(20);
    AccessTableView* view = Window_->LogView();
    QAbstractItemModel* shown = view->model();
    const auto numberAt = [shown](const QModelIndex& index) {
        return shown->index(index.row(), AccessListModel::ColumnNumber).data().toString();
    };
    view->resize(900, 150);
    view->selectRow(20);
    view->scrollTo(shown->index(20, AccessListModel::ColumnNumber), QAbstractItemView::PositionAtTop);
    const QString selected = numberAt(shown->index(20, 0));
    const QString top = numberAt(view->indexAt(QPoint(2, 2)));
    ASSERT_EQ(top, selected);

    Clock_.Set(DateTime{TestNow.Ms + 2 * MsPerHour});
    Window_->Expiry().SetInterval(std::chrono::milliseconds(20));
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return ServerNamed("kurz").QueueCount() == 0; }));
    EXPECT_EQ(shown->rowCount(), 20);
    ASSERT_EQ(view->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(numberAt(view->selectionModel()->selectedRows().front()), selected);
    EXPECT_EQ(numberAt(view->indexAt(QPoint(2, 2))), top);
}

// A sweep over many entries walks in slices, so the event loop gets its turn, and removes
// nothing before its walk has ended; when the lists are rebuilt between two slices (which frees
// the expired entries itself) the sweep ends without touching an entry again.
TEST(ExpirySweepSlicesTest, ASweepWalksInSlicesAndEndsWhenTheListsAreRebuiltMeanwhile) {
    QApplication& app = test::App();
    static_cast<void>(app);
    kavel::test::ScopedNoNameLookups noLookups;
    platform::ManualClock clock{TestNow};
    platform::ScopedClock useClock{clock};
    Space().Entries().Clear();
    Server server;
    server.SetName("kurz");
    server.SetTimeDeleteAfter(1);
    server.SetTimeDeleteAfterUnit(KeepUnit::Hours);
    AccessLists lists{Space()};
    ExpirySweep sweep(lists, nullptr);
    sweep.SetSliceTime(std::chrono::milliseconds(0));
    sweep.Start();
    for (const bool rebuild : {true, false}) {
        SCOPED_TRACE(rebuild ? "rebuilt meanwhile" : "left alone");
        clock.Set(TestNow);
        for (int i = 0; i < 3000; ++i) {
            std::string line = NcsaLine(i % 200, 11, 30);
            line.pop_back();
            Space().Entries().Append(MakeEntry(line, server, EntrySettings::Of(Space())));
        }
        lists.AppendEntries(Space().Entries().First());
        const std::uint64_t sweeps = sweep.SweepCount();
        clock.Set(DateTime{TestNow.Ms + 2 * MsPerHour});
        sweep.SweepSoon();
        ASSERT_TRUE(sweep.Running());
        QCoreApplication::processEvents();
        EXPECT_TRUE(sweep.Running());
        EXPECT_EQ(Space().Entries().Count(), 3000);
        if (rebuild) {
            lists.ClearLists();
            EXPECT_EQ(Space().Entries().Count(), 0);
        }
        ASSERT_TRUE(test::RunEventLoopUntil([&] { return !sweep.Running(); }));
        EXPECT_EQ(sweep.SweepCount(), rebuild ? sweeps : sweeps + 1);
        EXPECT_EQ(Space().Entries().Count(), 0);
        EXPECT_EQ(lists.Log().rowCount(), 0);
        EXPECT_EQ(server.QueueCount(), 0);
    }
    sweep.Stop();
}

} // namespace
} // namespace kavel::ui
