#include "ui/MainWindow.h"

#include "UiTestSupport.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "base/DefinitionFile.h"
#include "base/SingleInstance.h"
#include "base/WindowLayout.h"
#include "config/SettingsStore.h"
#include "platform/Clock.h"
#include "platform/qt/QtDispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"
#include "ui/AccessTableView.h"
#include "ui/MessageBox.h"
#include "ui/ServerTree.h"
#include "ui/TextInputDialog.h"

#include <QAction>
#include <QEventLoop>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace kavel::ui {
namespace {

using kavel::test::AppendLog;
using kavel::test::WriteBytes;

// 10 March 2024, 12:00 local time.
constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

std::string NcsaLine(const std::string& client, int minute, const std::string& page,
                     const std::string& agent = "Mozilla/5.0 Firefox/128.0", int second = 0) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s - - [10/Mar/2024:11:%02d:%02d +0000] \"GET %s HTTP/1.1\" 200 512 \"-\" \"%s\"\n",
                  client.c_str(), minute, second, page.c_str(), agent.c_str());
    return line;
}

// The program's start around one window: a temporary home with a servers file, the Qt
// dispatcher, the lifecycle's objects, and the window until its first idle moment.
class MainWindowTest : public testing::Test {
protected:
    MainWindowTest() {
        MessageBox::Reset();
        TextInputDialog::Reset();
    }

    ~MainWindowTest() override {
        if (Window_) {
            Window_->close();
            Window_.reset();
        }
        StopAllReaders();
        Readers().Clear();
        Entries().Clear();
        Servers().Clear();
        MessageBox::Reset();
        TextInputDialog::Reset();
        ReleaseSingleInstance();
    }

    // Servers as "name;log" pairs; every log lives in the home folder.
    void WriteServers(const std::vector<std::pair<std::string, std::string>>& servers) {
        std::string text = DefinitionFileHeader("Servers", true) + "\r\n";
        for (const auto& [name, log] : servers)
            text += name + ";" + (Home_ / log).string() + ";1;500;0;0;0;-1;10;0;0;0\r\n";
        WriteBytes(Home_ / "kavel.servers", text);
        WriteBytes(Home_ / "kavel.documents", ".html\r\n");
    }

    void Start() {
        Lifecycle_.CreateObjects();
        MainWindow::Setup setup;
        setup.Lifecycle = &Lifecycle_;
        setup.InstanceLockName = "kavel-ui-test-" + std::to_string(::getpid());
        Window_ = std::make_unique<MainWindow>(setup);
        Window_->show();
        ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->FirstIdleDone(); }));
    }

    Server& ServerNamed(const std::string& name) {
        for (const auto& server : Servers())
            if (server->Name() == name)
                return *server;
        throw std::runtime_error("no server " + name);
    }

    // An entry made and queued as a reader would, without a reader.
    LogEntry* Queue(Server& server, const std::string& line) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        auto entry = MakeEntry(text, server);
        if (!entry)
            throw std::runtime_error("line does not parse: " + text);
        return Entries().Append(std::move(entry));
    }

    QAction* Action(const char* name) {
        QAction* action = Window_->Action(name);
        EXPECT_NE(action, nullptr) << name;
        return action;
    }

    std::vector<std::int32_t> Numbers() {
        std::vector<std::int32_t> numbers;
        for (int row = 0; row < Window_->Lists().Log().rowCount(); ++row)
            numbers.push_back(Window_->Lists().Log().NumberAt(row));
        return numbers;
    }

    // The application object comes first: the dispatcher hooks into its event loop.
    QApplication& App_ = test::App();
    kavel::test::ScopedHome Home_;
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    platform::QtDispatcher Dispatcher_;
    platform::ScopedDispatcher UseDispatcher_{Dispatcher_};
    std::vector<std::string> Errors_;
    ProgramLifecycle Lifecycle_{[this](const std::string& message) { Errors_.push_back(message); }};
    std::unique_ptr<MainWindow> Window_;
};

TEST_F(MainWindowTest, EveryActionIsFoundByItsNameWithCaptionShortCutAndToggle) {
    WriteServers({});
    Start();
    struct Case {
        const char* name;
        const char* caption;
        const char* shortcut;
        bool toggle;
    };
    const Case cases[] = {
        {"ActionMenuFileRunServer", "Webserver starten", "", true},
        {"ActionMenuFileOpenObject", "Objekt öffnen", "", false},
        {"ActionMenuFileOpenReferer", "Referenzseite öffnen", "", false},
        {"ActionMenuFileQuit", "Beenden", "", false},
        {"ActionMenuEditNewServer", "Webserver hinzufügen", "Ins", false},
        {"ActionMenuEditEditServer", "Webserver bearbeiten", "", false},
        {"ActionMenuEditDeleteServer", "Webserver löschen", "Del", false},
        {"ActionMenuEditFindPreviousVisit", "Vorhergehenden Besuch finden", "F3", false},
        {"ActionMenuViewRealtimeMode", "Echtzeitmodus", "", true},
        {"ActionMenuViewShowOneAddress", "Ausgewählte Adresse betrachten", "", true},
        {"ActionMenuViewHideNonDocuments", "Zusatzelemente ausblenden", "", true},
        {"ActionMenuViewHideSpiders", "Suchmaschinen ausblenden", "", true},
        {"ActionMenuViewHideWords", "Bestimmte Wörter ausblenden", "", true},
        {"ActionMenuViewHideLocalReferers", "Lokale Referenzseiten ausblenden", "", true},
        {"ActionMenuViewResolveDomains", "Adressen auflösen", "", true},
        {"ActionMenuViewShowInfoTips", "InfoTips anzeigen", "", true},
        {"ActionMenuExtrasAddSpider", "Als Suchmaschine kennzeichnen", "", false},
        {"ActionMenuExtrasAddNoSpider", "Als Nicht-Suchmaschine kennzeichnen", "", false},
        {"ActionMenuExtrasAddDocument", "Als Dokument kennzeichnen", "", false},
        {"ActionMenuExtrasAddBuddy", "Als Freund kennzeichnen", "", false},
        {"ActionMenuHelpHelp", "Hilfe...", "F1", false},
        {"ActionMenuHelpInfo", "Info...", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QAction* action = Action(c.name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text().remove(QLatin1Char('&')), QString::fromUtf8(c.caption));
        EXPECT_EQ(action->shortcut().toString(), QString::fromLatin1(c.shortcut));
        EXPECT_EQ(action->isCheckable(), c.toggle);
    }
    EXPECT_EQ(Window_->objectName(), QStringLiteral("FormMain"));
    for (const char* control : {"TreeViewServers", "ListViewLogRaw", "ListViewLog", "ListViewLogExceptions",
                                "PageControlLogFormats", "StatusBarMain", "ProgressBarUpdateLists",
                                "PanelUseMeter", "PanelMainMenuStandard", "PanelMainMenuViews"})
        EXPECT_NE(Window_->findChild<QObject*>(QString::fromLatin1(control)), nullptr) << control;
    EXPECT_EQ(Window_->Pages()->tabText(Window_->Pages()->currentIndex()), QStringLiteral("Zugriffe"));
    // The realtime mode is the bold default entry of both list menus.
    EXPECT_EQ(Window_->PopupMenuListLog()->defaultAction(), Action("ActionMenuViewRealtimeMode"));
    EXPECT_EQ(Window_->PopupMenuListExceptions()->defaultAction(), Action("ActionMenuViewRealtimeMode"));
    EXPECT_EQ(Window_->windowTitle(), QStringLiteral("Alle Webserver - Kavel"));
}

TEST_F(MainWindowTest, ServerActionsFollowTheSelectedNode) {
    WriteServers({{"intranet", "intranet.log"}, {"extranet", "missing.log"}});
    WriteBytes(Home_ / "intranet.log", NcsaLine("10.0.0.1", 1, "/a.html"));
    Start();
    ServerTreeView* tree = Window_->Tree();
    struct Case {
        QTreeWidgetItem* node;
        bool runEnabled;
        bool runChecked;
        bool editEnabled;
    };
    Server& missing = ServerNamed("extranet");
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return missing.LogFileMissing(); }));
    const Case cases[] = {
        {nullptr, false, false, false},
        {tree->Root(), false, false, false},
        {tree->NodeOf(ServerNamed("intranet")), true, true, true},
        // A missing log disables the toggle, which still shows that the server is active.
        {tree->NodeOf(missing), false, true, true},
    };
    for (const Case& c : cases) {
        tree->SelectNode(c.node);
        Window_->TreePressed(Qt::RightButton);
        EXPECT_EQ(Action("ActionMenuFileRunServer")->isEnabled(), c.runEnabled);
        EXPECT_EQ(Action("ActionMenuFileRunServer")->isChecked(), c.runChecked);
        EXPECT_EQ(Action("ActionMenuEditEditServer")->isEnabled(), c.editEnabled);
        EXPECT_EQ(Action("ActionMenuEditDeleteServer")->isEnabled(), c.editEnabled);
    }
    // Nodes are sorted; the caption and the strip name the selected server.
    EXPECT_EQ(tree->Root()->child(0)->text(0), QStringLiteral("extranet"));
    tree->SelectNode(tree->NodeOf(ServerNamed("intranet")));
    Window_->TreePressed(Qt::LeftButton);
    EXPECT_EQ(Window_->windowTitle(), QStringLiteral("intranet - Kavel"));
    EXPECT_EQ(Window_->ServerLabelText(), QStringLiteral("intranet (1d@0s) "));
}

TEST_F(MainWindowTest, RowActionsFollowTheSelectedRows) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("10.0.0.1", 1, "/a/b.xyz"));
    Queue(server, NcsaLine("10.0.0.2", 2, "/index.html"));
    Window_->RefreshLists();
    AccessTableView* view = Window_->LogView();
    ASSERT_EQ(view->model()->rowCount(), 2);
    Window_->ListPressed(view, Qt::LeftButton);
    EXPECT_FALSE(Action("ActionMenuFileOpenObject")->isEnabled());
    EXPECT_FALSE(Action("ActionMenuEditFindPreviousVisit")->isEnabled());

    view->selectRow(1); // the older row: /a/b.xyz, no document
    Window_->ListPressed(view, Qt::LeftButton);
    EXPECT_TRUE(Action("ActionMenuFileOpenObject")->isEnabled());
    EXPECT_TRUE(Action("ActionMenuExtrasAddDocument")->isEnabled());
    EXPECT_TRUE(Action("ActionMenuExtrasAddBuddy")->isEnabled());
    EXPECT_EQ(Window_->StatusText(0), QStringLiteral("1 Objekt(e) ausgewählt, 512 Bytes übertragen"));

    view->selectAll();
    Window_->ListPressed(view, Qt::LeftButton);
    EXPECT_FALSE(Action("ActionMenuExtrasAddDocument")->isEnabled());
    EXPECT_FALSE(Action("ActionMenuExtrasAddBuddy")->isEnabled());
    EXPECT_EQ(Window_->StatusText(0), QStringLiteral("2 Objekt(e) ausgewählt, 1 024 Bytes übertragen"));
}

TEST_F(MainWindowTest, AViewToggleWritesItsStyleAndRebuildsTheLists) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("10.0.0.1", 1, "/index.html"));
    Queue(server, NcsaLine("10.0.0.2", 2, "/img/logo.png"));
    Window_->RefreshLists();
    ASSERT_EQ(Window_->Lists().Log().rowCount(), 2);
    ASSERT_FALSE(Window_->StylesStore()->Bool("ListViewHideNonDocuments"));

    Action("ActionMenuViewHideNonDocuments")->trigger();
    EXPECT_TRUE(Window_->StylesStore()->Bool("ListViewHideNonDocuments"));
    EXPECT_TRUE(Action("ActionMenuViewHideNonDocuments")->isChecked());
    EXPECT_EQ(Window_->Lists().Log().rowCount(), 1);
    // The hidden access still shows in the raw list.
    EXPECT_EQ(Window_->Lists().Raw().rowCount(), 2);

    Action("ActionMenuViewHideNonDocuments")->trigger();
    EXPECT_FALSE(Window_->StylesStore()->Bool("ListViewHideNonDocuments"));
    EXPECT_EQ(Window_->Lists().Log().rowCount(), 2);
}

TEST_F(MainWindowTest, HideWordsAsksForTheWordsAndKeepsThemOnlyWhenConfirmed) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("10.0.0.1", 1, "/index.html", "Mozilla/5.0 Firefox/128.0"));
    Queue(server, NcsaLine("10.0.0.2", 2, "/index.html", "ExampleBot/2.1"));
    Window_->RefreshLists();
    SettingsStore& styles = *Window_->StylesStore();
    QAction* hideWords = Action("ActionMenuViewHideWords");

    TextInputDialog::SetNextAnswer({false, QStringLiteral("Bot")});
    hideWords->trigger();
    EXPECT_FALSE(styles.Bool("ListViewHideWords"));
    EXPECT_FALSE(hideWords->isChecked());
    EXPECT_EQ(styles.Text("ListViewHideWordsWords"), "Hier Wörter eintragen");
    const auto request = TextInputDialog::LastAnsweredRequest();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->title, QStringLiteral("Bestimmte Wörter ausblenden"));
    EXPECT_EQ(request->prompt, QStringLiteral("Wörter eingeben, die ausgeblendet werden sollen"));
    EXPECT_EQ(request->text, QStringLiteral("Hier Wörter eintragen"));
    EXPECT_EQ(request->note, QStringLiteral("Einzelne Wörter werden durch Kommata getrennt."));

    TextInputDialog::SetNextAnswer({true, QStringLiteral("Bot")});
    hideWords->trigger();
    EXPECT_TRUE(styles.Bool("ListViewHideWords"));
    EXPECT_TRUE(hideWords->isChecked());
    EXPECT_EQ(styles.Text("ListViewHideWordsWords"), "Bot");
    ASSERT_EQ(Window_->Lists().Log().rowCount(), 1);
    EXPECT_EQ(Window_->Lists().Log().EntryAt(0)->Access->HostName(), "10.0.0.1");

    // Switching off asks nothing.
    hideWords->trigger();
    EXPECT_FALSE(styles.Bool("ListViewHideWords"));
    EXPECT_EQ(Window_->Lists().Log().rowCount(), 2);
}

TEST_F(MainWindowTest, RowsAreNewestFirstAndNumberedInArrivalOrder) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    // Arrival order 10:05, 10:01, 10:09, 10:03: the accesses list sorts by time, the raw list
    // keeps the order of arrival, "Nr." counts the rows added.
    for (const int minute : {5, 1, 9, 3})
        Queue(server, NcsaLine("10.0.0." + std::to_string(minute), minute, "/index.html"));
    Window_->RefreshLists();
    const AccessListModel& log = Window_->Lists().Log();
    ASSERT_EQ(log.rowCount(), 4);
    std::vector<std::string> hosts;
    for (int row = 0; row < 4; ++row)
        hosts.emplace_back(log.EntryAt(row)->Access->HostName());
    EXPECT_EQ(hosts, (std::vector<std::string>{"10.0.0.9", "10.0.0.5", "10.0.0.3", "10.0.0.1"}));
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{3, 1, 4, 2}));
    EXPECT_EQ(Window_->Lists().Raw().EntryAt(0)->Access->HostName(), "10.0.0.3");
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(log.RowOf(log.EntryAt(row)), row);

    // A rebuild numbers again from the oldest entry of the queue, which came first.
    Window_->RefreshLists();
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{3, 1, 4, 2}));
    Queue(server, NcsaLine("10.0.0.7", 7, "/index.html"));
    Window_->Lists().AppendEntries(Entries().Last());
    EXPECT_EQ(log.EntryAt(1)->Access->HostName(), "10.0.0.7");
    EXPECT_EQ(log.NumberAt(1), 5);
}

TEST_F(MainWindowTest, FindPreviousVisitSelectsTheOlderRowOfTheSameHost) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("host.example", 1, "/old.html"));
    Queue(server, NcsaLine("other.example", 2, "/x.html"));
    Queue(server, NcsaLine("HOST.example", 3, "/new.html"));
    Window_->RefreshLists();
    AccessTableView* view = Window_->LogView();
    view->selectRow(0);
    Action("ActionMenuEditFindPreviousVisit")->trigger();
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().row(), 2);

    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    Action("ActionMenuEditFindPreviousVisit")->trigger();
    ASSERT_EQ(MessageBox::Recorded().size(), 1u);
    EXPECT_EQ(
        MessageBox::Recorded().front().text,
        QStringLiteral("Es konnte kein weiter in der Vergangenheit liegender Besuch der Absenderadresse "
                       "\"host.example\" gefunden werden."));
}

TEST_F(MainWindowTest, ReaderEntriesReachTheListsAndTheTreeMarksNewOnes) {
    WriteServers({{"intranet", "intranet.log"}, {"extranet", "extranet.log"}});
    std::string lines;
    for (int minute = 0; minute < 25; ++minute)
        lines += NcsaLine("10.0.0.1", minute, "/page" + std::to_string(minute) + ".html");
    WriteBytes(Home_ / "intranet.log", lines);
    WriteBytes(Home_ / "extranet.log", NcsaLine("10.0.0.2", 30, "/x.html"));
    Start();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->Lists().Log().rowCount() == 26; }));
    ServerTreeView* tree = Window_->Tree();
    ServerTreeItem* node = tree->NodeOf(ServerNamed("intranet"));
    EXPECT_TRUE(ServerTreeView::NodeBold(node));
    EXPECT_EQ(node->text(0), QStringLiteral("intranet (25)"));

    // Selecting the server shows its entries only and clears the bold state.
    tree->SelectNode(node);
    Window_->TreePressed(Qt::LeftButton);
    EXPECT_EQ(Window_->Lists().Log().rowCount(), 25);
    EXPECT_FALSE(ServerTreeView::NodeBold(node));
    AppendLog(Home_ / "extranet.log", NcsaLine("10.0.0.3", 31, "/y.html"));
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return ServerNamed("extranet").QueueCount() == 2; }));
    ASSERT_TRUE(test::RunEventLoopUntil(
        [&] { return tree->NodeOf(ServerNamed("extranet"))->text(0) == QStringLiteral("extranet (2)"); }));
    EXPECT_EQ(Window_->Lists().Log().rowCount(), 25);

    // The root shows all servers again.
    tree->SelectNode(tree->Root());
    Window_->TreePressed(Qt::LeftButton);
    EXPECT_EQ(Window_->Lists().Log().rowCount(), 27);
    EXPECT_EQ(Window_->windowTitle(), QStringLiteral("Alle Webserver - Kavel"));
}

TEST_F(MainWindowTest, DeletingTheCurrentServerWhileItsReaderIsBusyLeavesNoRowOfItsEntries) {
    WriteServers({{"intranet", "intranet.log"}, {"extranet", "extranet.log"}});
    WriteBytes(Home_ / "intranet.log", NcsaLine("10.0.0.1", 1, "/a.html"));
    WriteBytes(Home_ / "extranet.log", NcsaLine("10.0.0.2", 2, "/b.html"));
    Start();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->Lists().Log().rowCount() == 2; }));
    Server* doomed = &ServerNamed("intranet");
    ServerTreeView* tree = Window_->Tree();
    tree->SelectNode(tree->NodeOf(*doomed));
    Window_->TreePressed(Qt::LeftButton);
    ASSERT_EQ(Window_->Lists().CurrentServer(), doomed);
    // Keep the reader busy: lines keep arriving while the question is answered.
    std::string burst;
    for (int i = 0; i < 40; ++i)
        burst += NcsaLine("10.0.0.9", 10 + i % 40, "/busy.html");
    AppendLog(Home_ / "intranet.log", burst);

    MessageBox::SetNextAnswer(MessageBox::Answer::No);
    Action("ActionMenuEditDeleteServer")->trigger();
    EXPECT_EQ(Servers().Count(), 2u);

    MessageBox::SetNextAnswer(MessageBox::Answer::Yes);
    Action("ActionMenuEditDeleteServer")->trigger();
    ASSERT_EQ(MessageBox::Recorded().size(), 2u);
    EXPECT_EQ(MessageBox::Recorded().back().text,
              QStringLiteral("Sind Sie sicher, den ausgewählten Server \"intranet\" aus der Liste löschen zu "
                             "wollen?"));
    EXPECT_EQ(Servers().Count(), 1u);
    EXPECT_EQ(Window_->Lists().CurrentServer(), nullptr);
    EXPECT_EQ(Readers().UsedCount(), 1u);
    for (LogEntry* entry = Entries().First(); entry != nullptr; entry = Entries().Next(entry))
        EXPECT_NE(entry->Server, doomed);
    // Let notifications posted before the stop arrive: they find no reader and change nothing.
    AppendLog(Home_ / "extranet.log", NcsaLine("10.0.0.3", 3, "/c.html"));
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->Lists().Log().rowCount() == 2; }));
    const AccessListModel& log = Window_->Lists().Log();
    for (int row = 0; row < log.rowCount(); ++row)
        EXPECT_EQ(log.EntryAt(row)->Server, &ServerNamed("extranet"));
    EXPECT_EQ(Window_->windowTitle(), QStringLiteral("Alle Webserver - Kavel"));
}

TEST_F(MainWindowTest, ClosingWhileAReaderWaitsForItsTakeOverEndsTheReader) {
    WriteServers({{"intranet", "intranet.log"}});
    std::string lines;
    for (int minute = 0; minute < 30; ++minute)
        lines += NcsaLine("10.0.0.1", minute, "/p.html");
    WriteBytes(Home_ / "intranet.log", "");
    Start();
    // Appended while the main thread does not run its loop: the reader's notification stays
    // unanswered.
    AppendLog(Home_ / "intranet.log", lines);
    LogReader* reader = Readers().ReaderOf(ServerNamed("intranet"));
    ASSERT_NE(reader, nullptr);
    // The reader notified and sleeps until the window takes its entries over; the window
    // closes before it gets there.
    // Only the synchronized calls run (the reader's node images), never the posted notification.
    ASSERT_TRUE(kavel::test::WaitUntil([&] {
        Dispatcher_.ProcessSynchronizedCalls();
        return reader->HoldCause() == HoldReason::Notification;
    }));
    const int rows = Window_->Lists().Log().rowCount();
    Window_->close();
    EXPECT_TRUE(Window_->Closed());
    EXPECT_EQ(Readers().UsedCount(), 0u);
    // The notification still queued is ignored.
    QCoreApplication::processEvents();
    EXPECT_EQ(Window_->Lists().Log().rowCount(), rows);
}

TEST_F(MainWindowTest, LayoutIsStoredAtClosingAndRestoredAtTheNextStart) {
    WriteServers({});
    Start();
    Window_->LogView()->setColumnWidth(2, 150);
    Window_->resize(800, 600);
    Window_->move(10, 20);
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->width() == 800; }));
    Window_->close();
    SettingsStore& styles = *Window_->StylesStore();
    EXPECT_EQ(styles.Int("MainWidth"), 800);
    EXPECT_EQ(styles.Int("MainHeight"), 600);
    EXPECT_EQ(styles.Int("MainLeft"), 10);
    EXPECT_EQ(styles.Int("MainTop"), 20);
    std::vector<int> widths;
    for (int column = 0; column < AccessListModel::ColumnCount; ++column)
        widths.push_back(Window_->LogView()->columnWidth(column));
    EXPECT_EQ(styles.Text("ListViewLogWidthes"), ColumnWidthsText(widths));
    EXPECT_EQ(widths[2], 150);
    const int exceptionsCode = Window_->ExceptionsView()->columnWidth(1);
    styles.SetValue("ListViewExceptionsWidthes", std::string("33,-1,77"));
    styles.Save();
    Window_.reset();
    StopAllReaders();
    Servers().Clear();
    ReleaseSingleInstance();

    Start();
    EXPECT_EQ(Window_->width(), 800);
    EXPECT_EQ(Window_->height(), 600);
    EXPECT_EQ(Window_->LogView()->columnWidth(2), 150);
    EXPECT_EQ(Window_->ExceptionsView()->columnWidth(0), 33);
    EXPECT_EQ(Window_->ExceptionsView()->columnWidth(1), exceptionsCode);
    EXPECT_EQ(Window_->ExceptionsView()->columnWidth(2), 77);
}

TEST_F(MainWindowTest, HelpOpensTheGeneralTopicAndTheToolBarButtonThePageTopic) {
    WriteServers({});
    Start();
    test::RecordingOpener opener;
    Action("ActionMenuHelpHelp")->trigger();
    Window_->Pages()->setCurrentIndex(2);
    Window_->HelpButtonClicked();
    ASSERT_EQ(opener.opened.size(), 2u);
    EXPECT_TRUE(opener.opened[0].toString().endsWith(QStringLiteral("topicAllgemein.html")));
    EXPECT_TRUE(opener.opened[1].toString().endsWith(QStringLiteral("topicAusnahmen.html")));
}

// A status such as "304 Not Modified" after its image, or a date and time, is not cut off at the
// desktop's font; no column is narrower than designed.
TEST_F(MainWindowTest, DefaultColumnWidthsFitTheirTextAtTheDesktopFont) {
    WriteServers({});
    Start();
    const QString time = EntryTimeText(DateTime{DaysFromCivil(2024, 12, 28) * MsPerDay + 23 * MsPerHour});
    struct Case {
        const char* view;
        int column;
        QString text;
        bool image;
        int designed;
    };
    const Case cases[] = {
        {"ListViewLog", AccessListModel::ColumnNumber, QStringLiteral("100000"), false, 30},
        {"ListViewLog", AccessListModel::ColumnTime, time, false, 120},
        {"ListViewLog", AccessListModel::ColumnStatus, QStringLiteral("304 Not Modified"), true, 50},
        {"ListViewLog", AccessListModel::ColumnMethod, QStringLiteral("OPTIONS"), false, 60},
        {"ListViewLog", AccessListModel::ColumnHost, QStringLiteral("Absenderadresse"), false, 130},
        {"ListViewLogExceptions", ExceptionListModel::ColumnTime, time, false, 120},
        {"ListViewLogExceptions", ExceptionListModel::ColumnServer, QStringLiteral("Servername"), false, 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.view) + " " + std::to_string(c.column));
        auto* view = Window_->findChild<QTableView*>(QString::fromLatin1(c.view));
        ASSERT_NE(view, nullptr);
        const int needed =
            view->fontMetrics().horizontalAdvance(c.text) + (c.image ? view->iconSize().width() : 0);
        EXPECT_GT(view->columnWidth(c.column), needed);
        EXPECT_GE(view->columnWidth(c.column), c.designed);
    }
}

} // namespace
} // namespace kavel::ui
