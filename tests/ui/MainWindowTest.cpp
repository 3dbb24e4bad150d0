#include "ui/MainWindow.h"

#include "UiTestSupport.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "base/DefinitionFile.h"
#include "base/TextPattern.h"
#include "config/SettingsStore.h"
#include "platform/Clock.h"
#include "platform/qt/QtDispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"
#include "ui/AboutDialog.h"
#include "ui/AccessPopup.h"
#include "ui/AccessTableView.h"
#include "ui/ElidedLabel.h"
#include "ui/FileChooser.h"
#include "ui/ListFilterModel.h"
#include "ui/ListSortModel.h"
#include "ui/MessageBox.h"
#include "ui/QuickFilterBar.h"
#include "ui/ServerEditorDialog.h"
#include "ui/ServerTree.h"
#include "ui/TextInputDialog.h"
#include "ui/TrayControl.h"
#include "ui/WindowLayout.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>

using kavel::test::Space;

namespace kavel::ui {
namespace {

using kavel::test::AppendLog;
using kavel::test::WriteBytes;

// 10 March 2024, 12:00 local time.
constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

std::string NcsaLine(const std::string& client, int minute, const std::string& page,
                     const std::string& agent = "Mozilla/5.0 Firefox/128.0", int second = 0,
                     const std::string& referer = "-") {
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s - - [10/Mar/2024:11:%02d:%02d +0000] \"GET %s HTTP/1.1\" 200 512 \"%s\" \"%s\"\n",
                  client.c_str(), minute, second, page.c_str(), referer.c_str(), agent.c_str());
    return line;
}

// QTest leaves the application believing that a modifier of the last key is still held (the
// modifier's own release carries it); later selections would extend instead of select.
void ReleaseModifiers(QWidget* widget) {
    for (const Qt::Key key : {Qt::Key_Shift, Qt::Key_Control})
        QTest::keyRelease(widget, key, Qt::NoModifier);
}

// A tool tip as the user reads it.
QString TipShown(const QString& tip) {
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
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
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Entries().Clear();
        Space().Servers().Clear();
        MessageBox::Reset();
        TextInputDialog::Reset();
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
        Window_ = std::make_unique<MainWindow>(Space(), setup);
        Window_->show();
        ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->FirstIdleDone(); }));
    }

    Server& ServerNamed(const std::string& name) {
        for (const auto& server : Space().Servers())
            if (server->Name() == name)
                return *server;
        throw std::runtime_error("no server " + name);
    }

    // An entry made and queued as a reader would, without a reader.
    LogEntry* Queue(Server& server, const std::string& line) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        auto entry = MakeEntry(text, server, EntrySettings::Of(Space()));
        if (!entry)
            throw std::runtime_error("line does not parse: " + text);
        return Space().Entries().Append(std::move(entry));
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
    ProgramLifecycle Lifecycle_{Space(), [this](const std::string& message) { Errors_.push_back(message); }};
    std::unique_ptr<MainWindow> Window_;
};

// Every command keeps its German caption and is within the user's reach: in a menu of the menu
// bar, a tool bar or a list's menu. Its key, pressed where the user works (the server tree for
// the delete key, an accesses list for the others), triggers that command and no other one.
TEST_F(MainWindowTest, EveryCommandIsWithinReachAndItsKeyTriggersIt) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    EXPECT_EQ(Window_->Pages()->tabText(Window_->Pages()->currentIndex()), QStringLiteral("Zugriffe"));
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("10.0.0.1", 1, "/index.html"));
    Queue(server, NcsaLine("10.0.0.1", 2, "/b.html"));
    Window_->RefreshLists();
    ServerTreeView* tree = Window_->Tree();
    tree->SelectNode(tree->NodeOf(server));
    Window_->TreePressed(Qt::LeftButton);
    Window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window_.get()));
    struct Case {
        const char* name;
        const char* caption;
        const char* key;
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
        {"ActionMenuFileExportList", "Liste exportieren...", "", false},
        {"ActionMenuEditCopy", "Kopieren", "Ctrl+C", false},
        {"ActionMenuEditQuickFilter", "Schnellfilter", "Ctrl+F", false},
        {"ActionMenuViewOutcomeColours", "Zeilen nach Ergebnis färben", "", true},
    };

    // What the user can reach: the menus of the menu bar with their submenus, the tool bars and
    // the lists' menus.
    QList<QAction*> reachable;
    std::vector<QMenu*> menus = {Window_->PopupMenuListLog(), Window_->PopupMenuListExceptions(),
                                 Window_->PopupMenuTree()};
    for (QAction* entry : Window_->menuBar()->actions())
        if (entry->menu())
            menus.push_back(entry->menu());
    for (std::size_t i = 0; i < menus.size(); ++i) {
        for (QAction* entry : menus[i]->actions()) {
            reachable.append(entry);
            if (entry->menu())
                menus.push_back(entry->menu());
        }
    }
    for (const QToolBar* bar : Window_->findChildren<QToolBar*>())
        reachable.append(bar->actions());

    // The commands only count their triggers from here on; none of them runs.
    std::vector<std::unique_ptr<QSignalSpy>> triggers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QAction* action = Action(c.name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text().remove(QLatin1Char('&')), QString::fromUtf8(c.caption));
        EXPECT_TRUE(reachable.contains(action));
        EXPECT_EQ(action->isCheckable(), c.toggle);
        QObject::disconnect(action, &QAction::triggered, Window_.get(), nullptr);
        triggers.push_back(std::make_unique<QSignalSpy>(action, &QAction::triggered));
    }
    Window_->Pages()->setCurrentWidget(Window_->LogView()->parentWidget());
    Window_->LogView()->selectRow(1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        if (*c.key == 0)
            continue;
        SCOPED_TRACE(c.name);
        QWidget* where = std::string_view(c.name) == "ActionMenuEditDeleteServer"
                             ? static_cast<QWidget*>(tree)
                             : static_cast<QWidget*>(Window_->LogView());
        where->setFocus();
        const QKeySequence key(QString::fromLatin1(c.key));
        EXPECT_EQ(Action(c.name)->shortcut(), key);
        QTest::keySequence(where, key);
        ReleaseModifiers(where);
        for (std::size_t j = 0; j < std::size(cases); ++j) {
            EXPECT_EQ(triggers[j]->count(), i == j ? 1 : 0) << cases[j].name;
            triggers[j]->clear();
        }
    }
    EXPECT_EQ(Window_->objectName(), QStringLiteral("FormMain"));
    for (const char* control : {"TreeViewServers", "ListViewLogRaw", "ListViewLog", "ListViewLogExceptions",
                                "PageControlLogFormats", "StatusBarMain", "ProgressBarUpdateLists",
                                "PanelUseMeter", "PanelMainMenuStandard", "PanelMainMenuViews"})
        EXPECT_NE(Window_->findChild<QObject*>(QString::fromLatin1(control)), nullptr) << control;
    // The realtime mode is the bold default entry of both list menus.
    EXPECT_EQ(Window_->PopupMenuListLog()->defaultAction(), Action("ActionMenuViewRealtimeMode"));
    EXPECT_EQ(Window_->PopupMenuListExceptions()->defaultAction(), Action("ActionMenuViewRealtimeMode"));
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
    EXPECT_EQ(Window_->Lists().Log().EntryAt(0)->Access()->HostName(), "10.0.0.1");

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
        hosts.emplace_back(log.EntryAt(row)->Access()->HostName());
    EXPECT_EQ(hosts, (std::vector<std::string>{"10.0.0.9", "10.0.0.5", "10.0.0.3", "10.0.0.1"}));
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{3, 1, 4, 2}));
    EXPECT_EQ(Window_->Lists().Raw().EntryAt(0)->Access()->HostName(), "10.0.0.3");
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(log.RowOf(log.EntryAt(row)), row);

    // A rebuild numbers again from the oldest entry of the queue, which came first.
    Window_->RefreshLists();
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{3, 1, 4, 2}));
    Queue(server, NcsaLine("10.0.0.7", 7, "/index.html"));
    Window_->Lists().AppendEntries(Space().Entries().Last());
    EXPECT_EQ(log.EntryAt(1)->Access()->HostName(), "10.0.0.7");
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
    EXPECT_EQ(Space().Servers().Count(), 2u);

    MessageBox::SetNextAnswer(MessageBox::Answer::Yes);
    Action("ActionMenuEditDeleteServer")->trigger();
    ASSERT_EQ(MessageBox::Recorded().size(), 2u);
    EXPECT_EQ(MessageBox::Recorded().back().text,
              QStringLiteral("Sind Sie sicher, den ausgewählten Server \"intranet\" aus der Liste löschen zu "
                             "wollen?"));
    EXPECT_EQ(Space().Servers().Count(), 1u);
    EXPECT_EQ(Window_->Lists().CurrentServer(), nullptr);
    EXPECT_EQ(Space().Readers().UsedCount(), 1u);
    for (LogEntry* entry = Space().Entries().First(); entry != nullptr; entry = Space().Entries().Next(entry))
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
    LogReader* reader = Space().Readers().ReaderOf(ServerNamed("intranet"));
    ASSERT_NE(reader, nullptr);
    // The reader notified and sleeps until the window takes its entries over; the window
    // closes before it gets there.
    // Only the synchronized calls run (the reader's node images), never the posted notification.
    ASSERT_TRUE(kavel::test::WaitUntil([&] {
        Dispatcher_.ProcessSynchronizedCalls();
        return reader->CurrentHoldReason() == HoldReason::Notification;
    }));
    const int rows = Window_->Lists().Log().rowCount();
    Window_->close();
    EXPECT_TRUE(Window_->Closed());
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
    // The notification still queued is ignored.
    QCoreApplication::processEvents();
    EXPECT_EQ(Window_->Lists().Log().rowCount(), rows);
}

TEST_F(MainWindowTest, LayoutIsStoredAtClosingAndRestoredAtTheNextStart) {
    WriteServers({});
    Start();
    Window_->LogView()->setColumnWidth(2, 150);
    // Smaller than the test screen (800 x 600), so that restoring it needs no clamping.
    Window_->resize(700, 500);
    Window_->move(10, 20);
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->width() == 700; }));
    Window_->close();
    SettingsStore& styles = *Window_->StylesStore();
    EXPECT_EQ(styles.Int("MainWidth"), 700);
    EXPECT_EQ(styles.Int("MainHeight"), 500);
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
    Space().Readers().StopAll();
    Space().Servers().Clear();

    Start();
    EXPECT_EQ(Window_->width(), 700);
    EXPECT_EQ(Window_->height(), 500);
    EXPECT_EQ(Window_->pos(), QPoint(10, 20));
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

// The hover text keeps its own lines; only what came from the log is escaped.
TEST_F(MainWindowTest, TheTipKeepsItsLinesAndShowsControlBytesFromTheLogAsSymbols) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Queue(ServerNamed("intranet"), NcsaLine("10.0.0.1", 1, "/index.html", "Evil\x1b[31mBot <b>x</b>"));
    Window_->RefreshLists();
    const AccessListModel& log = Window_->Lists().Log();
    const QString tip = log.data(log.index(0, AccessListModel::ColumnPage), Qt::ToolTipRole).toString();
    const QStringList lines = TipShown(tip).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 8) << tip.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Aufruf: GET /index.html (200)"));
    EXPECT_EQ(lines[3], QStringLiteral("Für Server: intranet"));
    EXPECT_EQ(lines[7], QStringLiteral("User Agent: Evil\u241b[31mBot <b>x</b>"));
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains(QChar(0x240D)) || line.contains(QChar(0x240A))) << line.toStdString();
    }
}

// Entf (and its neighbours) in a list never reach the servers; in the tree the question comes
// with "Nein" as the button that Enter presses.
TEST_F(MainWindowTest, NoKeyInAListDeletesAServer) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("10.0.0.1", 1, "/index.html"));
    Queue(server, NcsaLine("10.0.0.2", 2, "/a/../b.html"));
    Window_->RefreshLists();
    ServerTreeView* tree = Window_->Tree();
    tree->SelectNode(tree->NodeOf(server));
    Window_->TreePressed(Qt::LeftButton);
    ASSERT_TRUE(Action("ActionMenuEditDeleteServer")->isEnabled());
    Window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window_.get()));
    for (AccessTableView* view : {Window_->RawView(), Window_->LogView(), Window_->ExceptionsView()}) {
        Window_->Pages()->setCurrentWidget(view->parentWidget());
        view->setFocus();
        view->selectRow(0);
        ASSERT_TRUE(view->hasFocus()) << view->objectName().toStdString();
        for (const Qt::Key key : {Qt::Key_Delete, Qt::Key_Backspace}) {
            for (const Qt::KeyboardModifier modifier :
                 {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier}) {
                SCOPED_TRACE(view->objectName().toStdString() + " " + std::to_string(key) + " " +
                             std::to_string(modifier));
                // Whatever a question would be answered, none may come.
                MessageBox::SetNextAnswer(MessageBox::Answer::Yes);
                QTest::keyClick(view, key, modifier);
                ReleaseModifiers(view);
                EXPECT_EQ(Space().Servers().Count(), 1u);
                EXPECT_TRUE(MessageBox::Recorded().empty());
                MessageBox::Reset();
            }
        }
    }
    tree->setFocus();
    MessageBox::SetNextAnswer(MessageBox::Answer::No);
    QTest::keyClick(tree, Qt::Key_Delete);
    ASSERT_EQ(MessageBox::Recorded().size(), 1u);
    EXPECT_EQ(MessageBox::Recorded()[0].kind, MessageBox::Kind::Confirm);
    EXPECT_EQ(MessageBox::Recorded()[0].defaultAnswer, MessageBox::Answer::No);
    EXPECT_EQ(Space().Servers().Count(), 1u);
    // The menu still shows the key, in German.
    EXPECT_EQ(Action("ActionMenuEditDeleteServer")->shortcut(), QKeySequence(Qt::Key_Delete));
}

// A user who clicked a row reads it while the server keeps writing.
TEST_F(MainWindowTest, TheSelectedRowHoldsStillWhileReadersNotify) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    for (int second = 0; second < 100; ++second)
        Queue(server, NcsaLine("10.0.0.1", second / 60, "/p.html", "x", second % 60));
    Window_->RefreshLists();
    QCoreApplication::processEvents();
    AccessTableView* view = Window_->LogView();
    const AccessListModel& log = Window_->Lists().Log();
    view->selectRow(2);
    Window_->ListPressed(view, Qt::LeftButton);
    LogEntry* selected = log.EntryAt(2);
    const QRect before = view->visualRect(log.index(2, AccessListModel::ColumnPage));
    for (int notification = 1; notification <= 3; ++notification) {
        LogEntry* first = nullptr;
        for (int i = 0; i < 10; ++i) {
            LogEntry* entry = Queue(server, NcsaLine("10.0.0.2", 5, "/new.html", "x", notification * 10 + i));
            if (first == nullptr)
                first = entry;
        }
        Window_->Lists().AppendEntries(first);
        QCoreApplication::processEvents();
        const int row = log.RowOf(selected);
        ASSERT_EQ(row, 2 + 10 * notification);
        EXPECT_EQ(view->visualRect(log.index(row, AccessListModel::ColumnPage)), before);
    }
    auto* bar = Window_->findChild<QToolButton*>(QStringLiteral("ListViewLogNewRows"));
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->text(), QStringLiteral("30 neue Zugriffe"));
    // The actions still follow the selected row.
    EXPECT_TRUE(Action("ActionMenuFileOpenObject")->isEnabled());
    QTest::mouseClick(bar, Qt::LeftButton);
    EXPECT_EQ(view->rowAt(0), 0);
    EXPECT_FALSE(bar->isVisible());
    for (const char* name : {"ListViewLogRawNewRows", "ListViewLogExceptionsNewRows"})
        EXPECT_NE(Window_->findChild<QToolButton*>(QString::fromLatin1(name)), nullptr) << name;
}

// The popup is a window of its own: the user relies on it exactly while the window is away.
TEST_F(MainWindowTest, ThePopupRisesWhileTheWindowSitsInTheTray) {
    WriteServers({});
    Start();
    TrayControl::SetAvailabilityOverride([] { return true; });
    ASSERT_TRUE(Window_->Tray()->Minimise());
    ASSERT_FALSE(Window_->isVisible());
    Window_->ShowPopup("Zugriff auf \r\n/a.html von 10.0.0.1 f\xC3\xBCr intranet", "Dokumentzugriff",
                       VisitorMark::New);
    AccessPopup* popup = Window_->Popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->State(), AccessPopup::MoveState::Rising);
    EXPECT_EQ(popup->parentWidget(), nullptr);
    ASSERT_NE(popup->windowHandle(), nullptr);
    EXPECT_EQ(popup->windowHandle()->transientParent(), nullptr);
    // No scroll bar of a window in the tray is in the way.
    EXPECT_TRUE(Window_->PopupAvoidAreas().isEmpty());
    Window_->Tray()->Restore();
    TrayControl::SetAvailabilityOverride({});
    EXPECT_FALSE(Window_->PopupAvoidAreas().isEmpty());
    // Shown again, it belongs to the window once more; a popup that is up when the window goes
    // into the tray stays on the screen on its own.
    popup->CloseNow();
    Window_->ShowPopup("Zugriff", "Dokumentzugriff", VisitorMark::New);
    EXPECT_EQ(popup->windowHandle()->transientParent(), Window_->windowHandle());
    TrayControl::SetAvailabilityOverride([] { return true; });
    ASSERT_TRUE(Window_->Tray()->Minimise());
    ASSERT_TRUE(test::RunEventLoopUntil(
        [popup] { return popup->windowHandle()->transientParent() == nullptr; }, 5000));
    EXPECT_TRUE(popup->isVisible());
    Window_->Tray()->Restore();
    TrayControl::SetAvailabilityOverride({});
}

// A stop signal ends the program also while the window sits in the tray, where closing a
// hidden window leaves the event loop running.
TEST_F(MainWindowTest, EndingTheProgramFromTheTrayEndsTheEventLoop) {
    WriteServers({});
    Start();
    TrayControl::SetAvailabilityOverride([] { return true; });
    ASSERT_TRUE(Window_->Tray()->Minimise());
    ASSERT_FALSE(Window_->isVisible());
    bool timedOut = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&timedOut] {
        timedOut = true;
        QCoreApplication::quit();
    });
    deadline.start(10000);
    QTimer::singleShot(0, Window_.get(), [this] { Window_->EndProgram(); });
    QApplication::exec();
    TrayControl::SetAvailabilityOverride({});
    EXPECT_FALSE(timedOut) << "the event loop went on after the window closed in the tray";
    EXPECT_TRUE(Window_->Closed());
}

struct DefaultSizeCase {
    QRect available;
    QSize size;
};

TEST(MainWindowGeometry, AFirstStartOpensAtAboutTwoThirdsOfTheScreen) {
    const DefaultSizeCase cases[] = {
        {QRect(0, 0, 1920, 1050), QSize(1280, 700)},
        {QRect(0, 0, 2560, 1410), QSize(1706, 940)},
        // Two thirds would be smaller than designed: the designed size while it fits.
        {QRect(0, 0, 1280, 770), QSize(946, 638)},
        // Scale 2 on 1920 x 1080: the screen is smaller than designed.
        {QRect(0, 0, 960, 510), QSize(946, 510)},
        {QRect(0, 0, 800, 600), QSize(800, 600)},
    };
    for (const DefaultSizeCase& c : cases)
        EXPECT_EQ(MainWindow::DefaultSize(c.available), c.size) << c.available.width();
}

struct ClampCase {
    const char* name;
    QRect stored;
    QRect available;
    QSize frame;
    QRect clamped;
};

TEST(MainWindowGeometry, AStoredGeometryIsClampedSoThatTheWholeFrameIsOnTheScreen) {
    const ClampCase cases[] = {
        {"Fits", QRect(100, 100, 800, 600), QRect(0, 0, 1920, 1050), QSize(10, 30),
         QRect(100, 100, 800, 600)},
        {"DoubleSizeOnHalfScreen", QRect(14, -5, 1892, 1276), QRect(0, 0, 960, 510), QSize(10, 30),
         QRect(0, 0, 950, 480)},
        {"OffTheRightAndBottom", QRect(1800, 1000, 800, 600), QRect(0, 0, 1920, 1050), QSize(10, 30),
         QRect(1110, 420, 800, 600)},
        {"PanelAtTheTop", QRect(0, 0, 946, 638), QRect(0, 30, 1280, 770), QSize(0, 0),
         QRect(0, 30, 946, 638)},
        {"SecondScreenLeft", QRect(-1500, 10, 946, 638), QRect(-1280, 0, 1280, 1024), QSize(10, 30),
         QRect(-1280, 10, 946, 638)},
    };
    for (const ClampCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MainWindow::ClampedGeometry(c.stored, c.available, c.frame), c.clamped);
    }
}

// The test screen is 800 x 600: a layout stored on a larger screen comes back inside it.
TEST_F(MainWindowTest, AStoredGeometryLargerThanTheScreenIsClampedIntoIt) {
    WriteServers({});
    Start();
    SettingsStore& styles = *Window_->StylesStore();
    styles.SetValue("MainWidth", std::int32_t{1892});
    styles.SetValue("MainHeight", std::int32_t{1276});
    styles.SetValue("MainLeft", std::int32_t{-40});
    styles.SetValue("MainTop", std::int32_t{-30});
    styles.Save();
    Window_.reset();
    Space().Readers().StopAll();
    Space().Servers().Clear();
    Start();
    const QRect screen = Window_->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(Window_->frameGeometry()))
        << Window_->frameGeometry().width() << "x" << Window_->frameGeometry().height();
    EXPECT_GE(Window_->width(), screen.width() * 9 / 10);
}

// At a small size the status panels give way instead of printing over each other, and a text
// that does not fit is cut at its end with the whole text in its tip.
TEST_F(MainWindowTest, AtSmallSizesTheStatusPanelsGiveWayAndCutTheirTextsAtTheEnd) {
    WriteServers({});
    Start();
    const QString totals =
        QStringLiteral("Übertragen insgesamt 6 805 KBytes (6 805 KBytes heute, voraussichtlich "
                       "3 945 377 KBytes in diesem Monat)");
    auto* left = Window_->findChild<ElidedLabel*>(QStringLiteral("StatusBarMainPanel0"));
    auto* right = Window_->findChild<ElidedLabel*>(QStringLiteral("StatusBarMainPanel1"));
    ASSERT_NE(left, nullptr);
    ASSERT_NE(right, nullptr);
    left->setText(QStringLiteral("3 Objekt(e) ausgewählt, 2 100 Bytes übertragen"));
    right->setText(totals);
    for (const int width : {700, 400, 250}) {
        SCOPED_TRACE(width);
        Window_->resize(width, 400);
        ASSERT_TRUE(test::RunEventLoopUntil([&] { return Window_->width() == width; }));
        QCoreApplication::processEvents();
        EXPECT_FALSE(left->geometry().intersects(right->geometry()));
        EXPECT_LE(right->geometry().right(), Window_->statusBar()->width());
        EXPECT_TRUE(right->Elided());
        EXPECT_EQ(TipShown(right->TipText()), totals);
        EXPECT_EQ(right->text(), totals);
    }
    Window_->resize(1600, 400);
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return !right->Elided(); }));
    EXPECT_TRUE(right->TipText().isEmpty());
}

// Every action can be reached without a mouse: the focused list's or tree's menu opens at its
// current row.
TEST_F(MainWindowTest, ShiftF10AndTheMenuKeyOpenTheFocusedMenuAtTheCurrentRow) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Server& server = ServerNamed("intranet");
    Queue(server, NcsaLine("10.0.0.1", 1, "/index.html"));
    Queue(server, NcsaLine("10.0.0.2", 2, "/a/../b.html"));
    Window_->RefreshLists();
    Window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window_.get()));
    ServerTreeView* tree = Window_->Tree();
    tree->SelectNode(tree->NodeOf(server));
    struct Case {
        QWidget* widget;
        QMenu* menu;
        QPoint at;
    };
    Window_->Pages()->setCurrentWidget(Window_->ExceptionsView()->parentWidget());
    Window_->ExceptionsView()->selectRow(0);
    const Case exceptions{Window_->ExceptionsView(), Window_->PopupMenuListExceptions(),
                          Window_->ExceptionsView()->ContextMenuPosition()};
    Window_->Pages()->setCurrentWidget(Window_->LogView()->parentWidget());
    Window_->LogView()->selectRow(1);
    const Case accesses{Window_->LogView(), Window_->PopupMenuListLog(),
                        Window_->LogView()->ContextMenuPosition()};
    const Case servers{tree, Window_->PopupMenuTree(), tree->ContextMenuPosition()};
    // Below the current row, not at the list's corner.
    EXPECT_GT(accesses.at.y(), Window_->LogView()->viewport()->mapToGlobal(QPoint(0, 0)).y());
    for (const Case& c : {accesses, exceptions, servers}) {
        SCOPED_TRACE(c.menu->objectName().toStdString());
        if (c.widget != tree)
            Window_->Pages()->setCurrentWidget(c.widget->parentWidget());
        c.widget->setFocus();
        QTest::keyClick(c.widget, Qt::Key_F10, Qt::ShiftModifier);
        ReleaseModifiers(c.widget);
        ASSERT_TRUE(c.menu->isVisible());
        EXPECT_EQ(c.menu->pos(), c.at);
        c.menu->hide();
        // The menu key comes as a context menu request from the keyboard.
        QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                  c.widget->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(c.widget, &request);
        EXPECT_TRUE(c.menu->isVisible());
        c.menu->hide();
    }
    // "Als Suchmaschine kennzeichnen" is one of them, enabled for the selected exception.
    EXPECT_TRUE(Window_->PopupMenuListExceptions()->actions().contains(Action("ActionMenuExtrasAddSpider")));
    EXPECT_TRUE(Action("ActionMenuExtrasAddSpider")->isEnabled());
}

TEST_F(MainWindowTest, EveryToolButtonHasAnAccessibleName) {
    WriteServers({});
    Start();
    int buttons = 0;
    for (const QToolBar* bar : Window_->findChildren<QToolBar*>()) {
        for (QToolButton* button : bar->findChildren<QToolButton*>()) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
            ASSERT_NE(accessible, nullptr);
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
                << button->objectName().toStdString() << " " << button->toolTip().toStdString();
            ++buttons;
        }
    }
    EXPECT_GE(buttons, 16);
}

// When nothing on the desktop opens a page, the user reads why in a message box.
TEST_F(MainWindowTest, HelpAndOpenObjectTellTheUserWhenNothingOpensThePage) {
    WriteServers({{"intranet", "none.log"}});
    Start();
    Queue(ServerNamed("intranet"), NcsaLine("10.0.0.1", 1, "/index.html"));
    Window_->RefreshLists();
    DesktopOpener::SetHandler([](const QUrl&) { return false; });
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    Action("ActionMenuHelpHelp")->trigger();
    Window_->LogView()->selectRow(0);
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    Action("ActionMenuFileOpenObject")->trigger();
    DesktopOpener::SetHandler({});
    ASSERT_EQ(MessageBox::Recorded().size(), 2u);
    EXPECT_EQ(MessageBox::Recorded()[0].kind, MessageBox::Kind::Error);
    EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QStringLiteral("topicAllgemein.html")));
    EXPECT_TRUE(MessageBox::Recorded()[1].text.contains(QStringLiteral("http://intranet/index.html")));
}

// "Objekt öffnen" opens a page of the server, never a host that the log line names;
// "Referenzseite öffnen" is there only for an address that can be opened.
TEST_F(MainWindowTest, ObjectAndReferringPageAddressesNeverLetTheLogChooseTheHost) {
    WriteServers({{"www.example.com", "none.log"}});
    Start();
    Server& server = ServerNamed("www.example.com");
    struct Case {
        const char* page;
        const char* referer;
        const char* object;
        const char* opened;
    };
    const Case cases[] = {
        {"/a/b.html?x=1", "http://www.example.org/links.html", "http://www.example.com/a/b.html?x=1",
         "http://www.example.org/links.html"},
        {"@evil.example/at.html", "-", nullptr, nullptr},
        {".evil.example/x", "www.example.org/no-scheme.html", nullptr, nullptr},
        {":631@localhost/", "javascript:alert(1)", nullptr, nullptr},
        {"/x@evil.example/", "https://www.example.org/", "http://www.example.com/x@evil.example/",
         "https://www.example.org/"},
    };
    std::vector<LogEntry*> entries;
    for (const Case& c : cases)
        entries.push_back(
            Queue(server, NcsaLine("10.0.0.1", 1, c.page, "x", static_cast<int>(entries.size()), c.referer)));
    Window_->RefreshLists();
    test::RecordingOpener opener;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.page);
        const int row = Window_->Lists().Log().RowOf(entries[i]);
        ASSERT_GE(row, 0);
        Window_->LogView()->selectRow(row);
        opener.opened.clear();
        MessageBox::Reset();
        MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
        Action("ActionMenuFileOpenObject")->trigger();
        if (c.object != nullptr) {
            ASSERT_EQ(opener.opened.size(), 1u);
            EXPECT_EQ(opener.opened[0].toString(QUrl::FullyEncoded).toStdString(), c.object);
            EXPECT_EQ(opener.opened[0].host(), QStringLiteral("www.example.com"));
        } else {
            EXPECT_TRUE(opener.opened.empty());
            ASSERT_EQ(MessageBox::Recorded().size(), 1u);
            EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QString::fromUtf8(c.page)));
        }
        MessageBox::Reset();
        EXPECT_EQ(Action("ActionMenuFileOpenReferer")->isEnabled(), c.opened != nullptr);
        opener.opened.clear();
        MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
        Action("ActionMenuFileOpenReferer")->trigger();
        if (c.opened != nullptr) {
            ASSERT_EQ(opener.opened.size(), 1u);
            EXPECT_EQ(opener.opened[0].toString(QUrl::FullyEncoded).toStdString(), c.opened);
        } else {
            EXPECT_TRUE(opener.opened.empty());
        }
        MessageBox::Reset();
    }
}

// Names from the servers file are text, never markup: a name that looks like HTML shows as
// written in the strip, the tree and every label, and loads nothing.
TEST_F(MainWindowTest, HostileServerNamesAreShownAsPlainTextEverywhere) {
    const std::string names[] = {"<font size=40 color=red>BIG</font>", "<img src=\"file:///etc/passwd\">"};
    WriteServers({{names[0], "a.log"}, {names[1], "b.log"}});
    Start();
    ServerTreeView* tree = Window_->Tree();
    ASSERT_EQ(Space().Servers().Count(), 2u);
    const auto allPlain = [](const QWidget* root) {
        for (const QLabel* label : root->findChildren<QLabel*>()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText)
                << root->objectName().toStdString() << " " << label->objectName().toStdString() << " "
                << label->text().toStdString();
        }
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Server& server = ServerNamed(name);
        tree->SelectNode(tree->NodeOf(server));
        Window_->TreePressed(Qt::LeftButton);
        auto* strip = Window_->findChild<QLabel*>(QStringLiteral("LabelServerName"));
        ASSERT_NE(strip, nullptr);
        EXPECT_EQ(strip->textFormat(), Qt::PlainText);
        EXPECT_TRUE(strip->text().startsWith(QString::fromStdString(name)));
        EXPECT_EQ(TipShown(tree->NodeOf(server)->data(0, Qt::ToolTipRole).toString()),
                  QString::fromStdString(name));
        allPlain(Window_.get());

        ServerEditorDialog& editor = Window_->ServerEditor();
        editor.SetEditedServer(&server);
        editor.Prepare();
        allPlain(&editor);
        editor.SetEditedServer(nullptr);

        // The tray's tip names the server as well.
        TrayControl::SetAvailabilityOverride([] { return true; });
        ASSERT_TRUE(Window_->Tray()->Minimise());
        EXPECT_EQ(TipShown(Window_->Tray()->Icon()->toolTip()), Window_->windowTitle().left(63));
        Window_->Tray()->Restore();
        TrayControl::SetAvailabilityOverride({});
    }
    allPlain(&Window_->AboutBox());
    // The closing status names every log file.
    Window_->close();
    allPlain(Window_.get());
}

// The quick filter, the sort, copy and export as the user drives them: by object name, with
// rows arriving live.
class QuickFilterWindowTest : public MainWindowTest {
protected:
    void StartWithTwoServers() {
        WriteServers({{"alpha", "none-a.log"}, {"beta", "none-b.log"}});
        Start();
        Window_->Lists().SetPublishInterval(std::chrono::milliseconds(0));
        Window_->QuickFilter()->SetTypingPause(0);
    }

    template <typename T>
    T* Child(const char* name) {
        T* child = Window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    QLineEdit* Field() { return Child<QLineEdit>("EditQuickFilter"); }

    // Types the text into the field as a user would and waits until every list was filtered.
    void Type(const QString& text) {
        Field()->setFocus();
        Field()->selectAll();
        if (text.isEmpty())
            QTest::keyClick(Field(), Qt::Key_Backspace);
        else
            QTest::keyClicks(Field(), text);
        WaitForFilters();
    }

    void WaitForFilters() {
        // The field's text was taken (or refused) after the typing pause, then every pass ended.
        ASSERT_TRUE(test::RunEventLoopUntil([this] {
            const QuickFilterBar* bar = Window_->QuickFilter();
            if (!bar->TextValid())
                return true;
            const QString text = Field()->text();
            const auto pattern = bar->Pattern();
            if (Window_->FilterOf(Window_->LogView())->CurrentFilter().Pattern != pattern)
                return false;
            return text.isEmpty()
                       ? pattern == nullptr
                       : pattern != nullptr &&
                             QString::fromUtf8(pattern->Pattern().data(),
                                               static_cast<qsizetype>(pattern->Pattern().size())) == text;
        }));
        ASSERT_TRUE(test::RunEventLoopUntil([this] {
            for (QTableView* view :
                 {static_cast<QTableView*>(Window_->RawView()), static_cast<QTableView*>(Window_->LogView()),
                  static_cast<QTableView*>(Window_->ExceptionsView())})
                if (Window_->FilterOf(view)->Running())
                    return false;
            return !Window_->LogSort()->Sorting();
        }));
        QCoreApplication::processEvents();
    }

    // Entries queued and taken over as a reader's notification does.
    void Arrive(Server& server, const std::vector<std::string>& lines) {
        LogEntry* first = nullptr;
        for (const std::string& line : lines) {
            LogEntry* entry = Queue(server, line);
            if (first == nullptr)
                first = entry;
        }
        Window_->Lists().TakeOverEntries(*first);
        QCoreApplication::processEvents();
    }

    // The pages of the rows as the accesses view shows them, top down.
    std::vector<std::string> ShownPages() {
        std::vector<std::string> pages;
        QTableView* view = Window_->LogView();
        for (int row = 0; row < view->model()->rowCount(); ++row)
            pages.push_back(std::string(Window_->EntryAtViewRow(view, row)->Access()->Page()));
        return pages;
    }

    QString CountText() { return Child<QLabel>("LabelQuickFilterCount")->text(); }
};

TEST_F(QuickFilterWindowTest, FiltersAllThreeListsAndTheRowsThatArriveLive) {
    StartWithTwoServers();
    Server& alpha = ServerNamed("alpha");
    Arrive(alpha, {NcsaLine("10.0.0.1", 1, "/index.html"), NcsaLine("10.0.0.2", 2, "/wp-login.php"),
                   NcsaLine("10.0.0.3", 3, "/../etc/passwd")});
    ASSERT_EQ(Window_->LogView()->model()->rowCount(), 3);
    ASSERT_EQ(Window_->ExceptionsView()->model()->rowCount(), 1);

    Type(QStringLiteral("ETC"));
    EXPECT_EQ(ShownPages(), std::vector<std::string>{"/../etc/passwd"});
    EXPECT_EQ(Window_->RawView()->model()->rowCount(), 1);
    EXPECT_EQ(Window_->ExceptionsView()->model()->rowCount(), 1);
    EXPECT_EQ(CountText(), QStringLiteral("1 von 3 Zugriffen"));

    // Live rows: only those that match come in; the label follows.
    Arrive(alpha, {NcsaLine("10.0.0.4", 4, "/etc/hosts"), NcsaLine("10.0.0.5", 5, "/about.html")});
    EXPECT_EQ(ShownPages(), (std::vector<std::string>{"/etc/hosts", "/../etc/passwd"}));
    EXPECT_EQ(Window_->RawView()->model()->rowCount(), 2);
    EXPECT_EQ(CountText(), QStringLiteral("2 von 5 Zugriffen"));

    // Another page shows the count of its own list.
    Window_->Pages()->setCurrentWidget(Window_->ExceptionsView()->parentWidget());
    EXPECT_EQ(CountText(), QStringLiteral("1 von 1 Zugriffen"));
    Window_->Pages()->setCurrentIndex(1);

    // The list that holds still keeps its selected row in place and counts only the new rows
    // that the filter lets through.
    AccessTableView* view = Window_->LogView();
    view->selectRow(1);
    ASSERT_TRUE(view->HoldsStill());
    Arrive(alpha, {NcsaLine("10.0.0.6", 6, "/etc/shadow"), NcsaLine("10.0.0.7", 7, "/news.html"),
                   NcsaLine("10.0.0.8", 8, "/etc/group")});
    EXPECT_EQ(
        Window_->EntryAtViewRow(view, view->selectionModel()->selectedRows().front().row())->Access()->Page(),
        "/../etc/passwd");
    EXPECT_EQ(ShownPages().size(), 4u);
    view->ScrollToNewest();
    EXPECT_EQ(view->UnseenRows(), 0);
    EXPECT_TRUE(view->selectionModel()->selectedRows().isEmpty());

    // Emptying the field shows every row again.
    Type(QString());
    EXPECT_EQ(view->model()->rowCount(), 8);
    EXPECT_EQ(CountText(), QString());
}

// A filter that is set before the rows come (stored from the last run): the rebuild and the live
// rows, some of them older than rows already shown, show only what matches.
TEST_F(QuickFilterWindowTest, AFilterSetBeforeTheRowsComeLetsOnlyMatchesIn) {
    StartWithTwoServers();
    Type(QStringLiteral(".html"));
    Server& alpha = ServerNamed("alpha");
    Server& beta = ServerNamed("beta");
    Queue(alpha, NcsaLine("10.0.0.1", 1, "/a.html"));
    Queue(alpha, NcsaLine("10.0.0.2", 2, "/a.png"));
    Window_->RefreshLists();
    WaitForFilters();
    for (int round = 0; round < 20; ++round) {
        // beta's lines are older than alpha's: they go below the newest rows.
        Arrive(alpha, {NcsaLine("10.0.0.3", 30 + round, "/x" + std::to_string(round) + ".html"),
                       NcsaLine("10.0.0.3", 30 + round, "/x" + std::to_string(round) + ".js")});
        Arrive(beta, {NcsaLine("10.0.0.4", 10 + round, "/y" + std::to_string(round) + ".html"),
                      NcsaLine("10.0.0.4", 10 + round, "/y" + std::to_string(round) + ".css")});
    }
    WaitForFilters();
    const std::vector<std::string> pages = ShownPages();
    EXPECT_EQ(pages.size(), 41u);
    for (const std::string& page : pages)
        EXPECT_NE(page.find(".html"), std::string::npos) << page;
    EXPECT_EQ(Window_->RawView()->model()->rowCount(), 41);
}

TEST_F(QuickFilterWindowTest, PatternCaseAndColumnChoices) {
    StartWithTwoServers();
    Server& alpha = ServerNamed("alpha");
    Arrive(alpha, {NcsaLine("10.0.0.1", 1, "/Admin/a.html"), NcsaLine("10.0.0.2", 2, "/admin/b.html"),
                   NcsaLine("192.168.1.9", 3, "/c.html")});
    auto* syntax = Child<QComboBox>("ComboQuickFilterSyntax");
    auto* caseSensitive = Child<QCheckBox>("CheckQuickFilterCaseSensitive");
    auto* column = Child<QComboBox>("ComboQuickFilterColumn");

    Type(QStringLiteral("admin"));
    EXPECT_EQ(ShownPages().size(), 2u);
    caseSensitive->click();
    WaitForFilters();
    EXPECT_EQ(ShownPages(), std::vector<std::string>{"/admin/b.html"});
    caseSensitive->click();

    // A regular expression; one that does not compile turns the field red, says why in its tip
    // and leaves the rows as they were.
    syntax->setCurrentIndex(1);
    Type(QStringLiteral("^/[Aa]dmin/[ab]\\.html$"));
    EXPECT_EQ(ShownPages().size(), 2u);
    Type(QStringLiteral("(admin"));
    EXPECT_FALSE(Window_->QuickFilter()->TextValid());
    EXPECT_NE(Field()->palette().color(QPalette::Base),
              Window_->QuickFilter()->palette().color(QPalette::Base));
    EXPECT_TRUE(TipShown(Field()->toolTip()).contains(QStringLiteral("missing )")))
        << Field()->toolTip().toStdString();
    EXPECT_EQ(ShownPages().size(), 2u);

    // The column choice: "192" is in the address column only.
    syntax->setCurrentIndex(0);
    Type(QStringLiteral("192"));
    EXPECT_EQ(ShownPages(), std::vector<std::string>{"/c.html"});
    const int pageColumn = column->findText(QStringLiteral("Seite"));
    ASSERT_GT(pageColumn, 0);
    column->setCurrentIndex(pageColumn);
    WaitForFilters();
    EXPECT_TRUE(ShownPages().empty());
    column->setCurrentIndex(0);
    WaitForFilters();
    EXPECT_EQ(ShownPages().size(), 1u);
}

TEST_F(QuickFilterWindowTest, EscClearsTheFieldAndMarkOnlyStepsThroughTheMatches) {
    StartWithTwoServers();
    Server& alpha = ServerNamed("alpha");
    Arrive(alpha, {NcsaLine("10.0.0.1", 1, "/x.html"), NcsaLine("10.0.0.2", 2, "/a.html"),
                   NcsaLine("10.0.0.3", 3, "/x.png"), NcsaLine("10.0.0.4", 4, "/b.html")});
    // Ctrl+F reaches the field from the list.
    Window_->LogView()->setFocus();
    Window_->activateWindow();
    Window_->Action("ActionMenuEditQuickFilter")->trigger();
    EXPECT_TRUE(Field()->hasFocus());
    Type(QStringLiteral("/x"));
    EXPECT_EQ(ShownPages().size(), 2u);
    QTest::keyClick(Field(), Qt::Key_Escape);
    WaitForFilters();
    EXPECT_TRUE(Field()->text().isEmpty());
    EXPECT_EQ(ShownPages().size(), 4u);
    EXPECT_TRUE(Window_->LogView()->hasFocus());

    // Mark only: every row stays, Enter goes down from match to match, Shift+Enter back up.
    Child<QCheckBox>("CheckQuickFilterMarkOnly")->click();
    Type(QStringLiteral("/x"));
    EXPECT_EQ(ShownPages().size(), 4u);
    EXPECT_EQ(CountText(), QStringLiteral("2 von 4 Zugriffen"));
    const auto current = [this] {
        QTableView* view = Window_->LogView();
        return std::string(Window_->EntryAtViewRow(view, view->currentIndex().row())->Access()->Page());
    };
    QTest::keyClick(Field(), Qt::Key_Return);
    EXPECT_EQ(current(), "/x.png");
    QTest::keyClick(Field(), Qt::Key_Return);
    EXPECT_EQ(current(), "/x.html");
    QTest::keyClick(Field(), Qt::Key_Return, Qt::ShiftModifier);
    ReleaseModifiers(Field());
    EXPECT_EQ(current(), "/x.png");
}

TEST_F(QuickFilterWindowTest, ServerColumnOnlyUnderAllServersAndServerInTheRawTip) {
    StartWithTwoServers();
    Arrive(ServerNamed("alpha"), {NcsaLine("10.0.0.1", 1, "/../a")});
    Arrive(ServerNamed("beta"), {NcsaLine("10.0.0.2", 2, "/../b")});
    ServerTreeView* tree = Window_->Tree();
    const auto columnShown = [this] {
        return std::pair(!Window_->LogView()->isColumnHidden(AccessListModel::ColumnServer),
                         !Window_->ExceptionsView()->isColumnHidden(ExceptionListModel::ColumnServer));
    };
    EXPECT_EQ(columnShown(), std::pair(true, true));
    tree->SelectNode(tree->NodeOf(ServerNamed("beta")));
    Window_->TreePressed(Qt::LeftButton);
    EXPECT_EQ(columnShown(), std::pair(false, false));
    // A hidden column is searched no more.
    Type(QStringLiteral("beta"));
    EXPECT_EQ(Window_->LogView()->model()->rowCount(), 0);
    Type(QString());
    tree->SelectNode(tree->Root());
    Window_->TreePressed(Qt::LeftButton);
    EXPECT_EQ(columnShown(), std::pair(true, true));
    Type(QStringLiteral("beta"));
    EXPECT_EQ(ShownPages(), std::vector<std::string>{"/../b"});
    Type(QString());
    Window_->StylesStore()->SetValue("ShowInfoTips", true);
    const QAbstractItemModel* raw = Window_->RawView()->model();
    EXPECT_EQ(TipShown(raw->index(0, 0).data(Qt::ToolTipRole).toString()), QStringLiteral("Server: beta"));
}

TEST_F(QuickFilterWindowTest, CtrlCCopiesTheSelectedRowsAndExportWritesTheShownRows) {
    StartWithTwoServers();
    Arrive(ServerNamed("alpha"), {NcsaLine("10.0.0.1", 1, "/a,b.html"), NcsaLine("10.0.0.2", 2, "/b.html"),
                                  NcsaLine("10.0.0.3", 3, "/c.html")});
    AccessTableView* view = Window_->LogView();
    view->setFocus();
    view->selectRow(0);
    view->selectionModel()->select(view->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    ReleaseModifiers(view);
    const QStringList lines =
        QGuiApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << QGuiApplication::clipboard()->text().toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Seite"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("/c.html")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("/a,b.html")));

    // Export through the file chooser: the rows the view shows, filtered.
    Type(QStringLiteral("/a,"));
    const std::filesystem::path file = Home_.Path() / "export.csv";
    FileChooser::SetNextAnswer(
        FileChooser::Choice{QString::fromStdString(file.string()), QStringLiteral("CSV (*.csv)")});
    Window_->Action("ActionMenuFileExportList")->trigger();
    EXPECT_EQ(FileChooser::LastCaption(), QStringLiteral("Liste exportieren"));
    FileChooser::Reset();
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string csv = text.str();
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2) << csv;
    EXPECT_NE(csv.find(",\"/a,b.html\","), std::string::npos) << csv;
    EXPECT_EQ(csv.find("/b.html"), std::string::npos) << csv;
}

TEST_F(QuickFilterWindowTest, HeaderClicksSortAndLiveRowsTakeTheirPlace) {
    StartWithTwoServers();
    Server& alpha = ServerNamed("alpha");
    Arrive(alpha, {NcsaLine("10.0.0.1", 1, "/m.html"), NcsaLine("10.0.0.2", 2, "/c.html"),
                   NcsaLine("10.0.0.3", 3, "/x.html")});
    QHeaderView* header = Window_->LogView()->horizontalHeader();
    const int pageColumn = AccessListModel::ColumnPage;
    const std::vector<std::string> timeOrder = {"/x.html", "/c.html", "/m.html"};
    ASSERT_EQ(ShownPages(), timeOrder);
    const auto click = [&] {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(pageColumn) + 5, header->height() / 2));
        WaitForFilters();
    };
    click();
    EXPECT_EQ(ShownPages(), (std::vector<std::string>{"/c.html", "/m.html", "/x.html"}));
    Arrive(alpha, {NcsaLine("10.0.0.4", 4, "/d.html")});
    EXPECT_EQ(ShownPages(), (std::vector<std::string>{"/c.html", "/d.html", "/m.html", "/x.html"}));
    click();
    EXPECT_EQ(ShownPages(), (std::vector<std::string>{"/x.html", "/m.html", "/d.html", "/c.html"}));
    click();
    EXPECT_EQ(ShownPages(), (std::vector<std::string>{"/d.html", "/x.html", "/c.html", "/m.html"}));
    // "Nr." stays the number of arrival whatever the order.
    click();
    ASSERT_EQ(ShownPages(), (std::vector<std::string>{"/c.html", "/d.html", "/m.html", "/x.html"}));
    QAbstractItemModel* model = Window_->LogView()->model();
    EXPECT_EQ(model->index(0, AccessListModel::ColumnNumber).data().toString(), QStringLiteral("2"));
    EXPECT_EQ(model->index(1, AccessListModel::ColumnNumber).data().toString(), QStringLiteral("4"));
}

TEST_F(QuickFilterWindowTest, FilterStateAndRowColoursAreStoredWithTheLayout) {
    StartWithTwoServers();
    Child<QComboBox>("ComboQuickFilterSyntax")->setCurrentIndex(1);
    Type(QStringLiteral("a+b"));
    QAction* colours = Window_->Action("ActionMenuViewOutcomeColours");
    EXPECT_TRUE(colours->isChecked());
    colours->trigger();
    EXPECT_FALSE(Window_->StylesStore()->Bool("ListViewOutcomeColours"));
    Window_->close();
    EXPECT_EQ(Window_->StylesStore()->Text("QuickFilterText"), "a+b");
    EXPECT_TRUE(Window_->StylesStore()->Bool("QuickFilterRegex"));
    EXPECT_FALSE(Window_->StylesStore()->Bool("QuickFilterCaseSensitive"));
}

} // namespace
} // namespace kavel::ui
