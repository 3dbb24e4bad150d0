#include "ui/OverviewPage.h"

#include "UiTestSupport.h"
#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryQueue.h"
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
#include "ui/AccessTableView.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/MinuteChart.h"
#include "ui/OverviewPanelModel.h"
#include "ui/QuickFilterBar.h"
#include "ui/ServerTree.h"
#include "ui/TextInputDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTime>
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

std::string Line(const std::string& client, int hour, int minute, const std::string& page, int status = 200,
                 const std::string& referer = "-", int day = 10) {
    char line[512];
    std::snprintf(
        line, sizeof line,
        "%s - - [%02d/Mar/2024:%02d:%02d:00 +0000] \"GET %s HTTP/1.1\" %d 2048 \"%s\" \"Mozilla/5.0 "
        "Firefox/128.0\"\n",
        client.c_str(), day, hour, minute, page.c_str(), status, referer.c_str());
    return line;
}

// The program's start around one window with a server whose log the test writes: a reader takes
// the lines over as it would in a run.
class OverviewPageTest : public testing::Test {
protected:
    OverviewPageTest() {
        MessageBox::Reset();
        TextInputDialog::Reset();
        Space().Filters().SetShownAddress({});
    }

    ~OverviewPageTest() override {
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
        Space().Filters().SetShownAddress({});
    }

    // A second log makes a second server, shop.example.com.
    void Start(const std::string& log, const std::string& shopLog = {}) {
        WriteBytes(Home_ / "www.log", log);
        std::string servers = DefinitionFileHeader("Servers", true) + "\r\nwww.example.com;" +
                              (Home_ / "www.log").string() + ";1;500;0;0;0;-1;10;0;0;0\r\n";
        if (!shopLog.empty()) {
            WriteBytes(Home_ / "shop.log", shopLog);
            servers += "shop.example.com;" + (Home_ / "shop.log").string() + ";1;500;0;0;0;-1;10;0;0;0\r\n";
        }
        WriteBytes(Home_ / "kavel.servers", servers);
        WriteBytes(Home_ / "kavel.documents", ".html\r\n");
        Lifecycle_.CreateObjects();
        MainWindow::Setup setup;
        setup.Lifecycle = &Lifecycle_;
        Window_ = std::make_unique<MainWindow>(Space(), setup);
        Window_->show();
        ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->FirstIdleDone(); }));
        Page_ = Window_->Overview();
        ASSERT_NE(Page_, nullptr);
    }

    void ShowPage() {
        Window_->Pages()->setCurrentWidget(Page_);
        QCoreApplication::processEvents();
    }

    // Waits until the counts are complete and hold this many accesses, then shows them.
    bool CountsReach(std::int64_t accesses) {
        const bool reached = test::RunEventLoopUntil([&] {
            return !Page_->Tracker()->Recounting() &&
                   Page_->Tracker()->Counts().Totals().Accesses == accesses;
        });
        Page_->Refresh();
        return reached;
    }

    template <class T>
    T* Child(const char* name) {
        T* child = Window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    // The count a panel's table shows for the row labelled so.
    static std::int64_t CountIn(const OverviewPanelModel* model, const QString& label) {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->RowAt(row)->Label == label)
                return model->RowAt(row)->Count;
        return 0;
    }

    static void ChooseSpan(QComboBox* choice, int index) {
        choice->setCurrentIndex(index);
        Q_EMIT choice->activated(index);
    }

    QApplication& App_ = test::App();
    kavel::test::ScopedHome Home_;
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    platform::QtDispatcher Dispatcher_;
    platform::ScopedDispatcher UseDispatcher_{Dispatcher_};
    ProgramLifecycle Lifecycle_{Space(), [](const std::string&) {}};
    std::unique_ptr<MainWindow> Window_;
    OverviewPage* Page_ = nullptr;
};

TEST_F(OverviewPageTest, ThePageSitsBesideTheListsWithNamedControls) {
    ASSERT_NO_FATAL_FAILURE(Start(""));
    QTabWidget* pages = Window_->Pages();
    QStringList tabs;
    for (int i = 0; i < pages->count(); ++i)
        tabs << pages->tabText(i);
    EXPECT_EQ(tabs.mid(0, 4), (QStringList{QStringLiteral("Rohformat"), QStringLiteral("Zugriffe"),
                                           QStringLiteral("Ausnahmen"), QStringLiteral("Übersicht")}));
    EXPECT_EQ(pages->widget(3)->objectName(), QStringLiteral("TabSheetOverview"));
    // Every control a user operates or reads has a name a screen reader speaks.
    for (const char* name :
         {"ComboBoxOverviewSpan", "CheckBoxOverviewDocumentsOnly", "ChartOverviewMinutes",
          "BarOverviewStatusClasses", "ListViewOverviewStatus", "ListViewOverviewAgents",
          "ListViewOverviewPages", "ListViewOverviewNotFound", "ListViewOverviewClients",
          "ListViewOverviewReferers", "ListViewOverviewSpiders", "ListViewOverviewExceptions",
          "ButtonOverviewStatusMore", "ButtonOverviewClientsMore", "ButtonOverviewExceptionsMore"}) {
        auto* widget = Child<QWidget>(name);
        ASSERT_NE(widget, nullptr);
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << name;
    }
    auto* span = Child<QComboBox>("ComboBoxOverviewSpan");
    QStringList spans;
    for (int i = 0; i < span->count(); ++i)
        spans << span->itemText(i);
    EXPECT_EQ(spans, (QStringList{QStringLiteral("letzte Stunde"), QStringLiteral("heute"),
                                  QStringLiteral("Haltezeit")}));
    EXPECT_EQ(Child<QPushButton>("ButtonOverviewPagesMore")->text(), QStringLiteral("mehr..."));
}

// Lines the reader takes over count at once; a display filter recounts without what it hides,
// and the panels, the totals and the shares show the counts.
TEST_F(OverviewPageTest, CountsFollowTheLiveLogAndTheDisplayFilters) {
    std::string log;
    log += Line("10.0.0.1", 11, 30, "/index.html");
    log += Line("10.0.0.1", 11, 31, "/logo.png");
    log += Line("10.0.0.2", 11, 32, "/gone.html", 404);
    log += Line("10.0.0.3", 11, 33, "/gone.html", 404, "http://search.example/?q=gone");
    ASSERT_NO_FATAL_FAILURE(Start(log));
    ShowPage();
    ASSERT_TRUE(CountsReach(4));
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::Status), QStringLiteral("404 Not Found")), 2);
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::NotFound), QStringLiteral("/gone.html")), 2);
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::Referers), QStringLiteral("search.example")), 1);
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::Clients), QStringLiteral("10.0.0.1")), 2);
    EXPECT_EQ(
        Child<QLabel>("LabelOverviewTotals")->text(),
        QStringLiteral("Zugriffe: 4    Dokumente: 3    Besucher: 3    Übertragen: 8 KBytes    Fehler: 2"));
    EXPECT_EQ(Child<QWidget>("BarOverviewStatusClasses")->accessibleDescription(),
              QStringLiteral("2xx: 50,0 %, 4xx: 50,0 %"));
    // Pages: documents only, or every request.
    const OverviewPanelModel* pages = Page_->PanelModel(SummaryPanel::Pages);
    EXPECT_EQ(pages->rowCount(), 2);
    Child<QCheckBox>("CheckBoxOverviewDocumentsOnly")->click();
    EXPECT_EQ(pages->rowCount(), 3);
    EXPECT_EQ(CountIn(pages, QStringLiteral("/logo.png")), 1);

    // The live log: a take-over counts at once.
    AppendLog(Home_ / "www.log",
              Line("10.0.0.4", 11, 40, "/gone.html", 404) + Line("10.0.0.4", 11, 41, "/a.png"));
    ASSERT_TRUE(CountsReach(6));
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::NotFound), QStringLiteral("/gone.html")), 3);

    // What the lists hide is not counted.
    Window_->Action("ActionMenuViewHideNonDocuments")->trigger();
    ASSERT_TRUE(CountsReach(4));
    EXPECT_EQ(CountIn(pages, QStringLiteral("/logo.png")), 0);
    Window_->Action("ActionMenuViewHideNonDocuments")->trigger();
    ASSERT_TRUE(CountsReach(6));
}

// All servers count together; a server chosen in the tree counts alone, as the lists show it.
TEST_F(OverviewPageTest, TheServerChosenInTheTreeIsCounted) {
    ASSERT_NO_FATAL_FAILURE(
        Start(Line("10.0.0.1", 11, 30, "/www.html") + Line("10.0.0.2", 11, 31, "/www.html"),
              Line("10.0.0.3", 11, 32, "/shop.html")));
    ShowPage();
    ASSERT_TRUE(CountsReach(3));
    for (const auto& server : Space().Servers()) {
        if (server->Name() != "shop.example.com")
            continue;
        Window_->Tree()->SelectNode(Window_->Tree()->NodeOf(*server));
        Window_->TreePressed(Qt::LeftButton);
    }
    ASSERT_TRUE(CountsReach(1));
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::Pages), QStringLiteral("/shop.html")), 1);
    Window_->Tree()->SelectNode(Window_->Tree()->Root());
    Window_->TreePressed(Qt::LeftButton);
    ASSERT_TRUE(CountsReach(3));
}

// The span choice counts from the minute an hour ago, from midnight or everything; the clock
// moving on past an hour's boundary drops what left the last hour while the page is shown.
TEST_F(OverviewPageTest, SpanChoiceAndTheClockDecideWhatCounts) {
    std::string log;
    log += Line("10.0.0.1", 23, 0, "/yesterday.html", 200, "-", 9);
    log += Line("10.0.0.1", 0, 0, "/midnight.html");
    log += Line("10.0.0.1", 11, 0, "/eleven.html");
    log += Line("10.0.0.1", 11, 1, "/eleven-one.html");
    log += Line("10.0.0.1", 11, 59, "/now.html");
    ASSERT_NO_FATAL_FAILURE(Start(log));
    ShowPage();
    auto* span = Child<QComboBox>("ComboBoxOverviewSpan");
    ASSERT_EQ(Page_->Span(), SummarySpan::LastHour);
    // The last hour at 12:00 is 11:01 up to now.
    ASSERT_TRUE(CountsReach(2));
    const MinuteChart* chart = Child<MinuteChart>("ChartOverviewMinutes");
    ASSERT_EQ(chart->Minutes().size(), 60u);
    EXPECT_EQ(chart->FirstMinute(), MinuteOfTime(DateTime{TestNow.Ms - 59 * MsPerMinute}));
    EXPECT_EQ(chart->Minutes()[0].Accesses, 1u);
    EXPECT_EQ(chart->Minutes()[58].Accesses, 1u);
    EXPECT_EQ(chart->Minutes()[59].Accesses, 0u);

    ChooseSpan(span, 1);
    EXPECT_EQ(Page_->Span(), SummarySpan::Today);
    ASSERT_TRUE(CountsReach(4));
    ChooseSpan(span, 2);
    ASSERT_TRUE(CountsReach(5));
    ChooseSpan(span, 0);
    ASSERT_TRUE(CountsReach(2));
    // 12:01:00: 11:01 has left the last hour; the page notices within its refresh.
    Clock_.Set(DateTime{TestNow.Ms + MsPerMinute});
    ASSERT_TRUE(CountsReach(1));
    EXPECT_EQ(CountIn(Page_->PanelModel(SummaryPanel::Pages), QStringLiteral("/now.html")), 1);
}

// A double-click (or Enter) on a client shows its accesses alone; on a status or a page it sets
// the quick filter to it in its column, and the overview follows the quick filter; on an
// exception kind, the newest exception of the kind is selected.
TEST_F(OverviewPageTest, DoubleClickLeadsToTheAccessesBehindARow) {
    std::string log;
    log += Line("10.0.0.1", 11, 30, "/index.html");
    log += Line("10.0.0.2", 11, 31, "/gone.html", 404);
    log += Line("10.0.0.1", 11, 32, "/x.html");
    log += Line("10.0.0.3", 11, 33, "/a/../b.html");
    log += Line("10.0.0.1", 11, 34, "/y.html");
    log += Line("10.0.0.4", 11, 35, "/gone.html?from=mail");
    log += Line("10.0.0.4", 11, 36, "/gone.htmlx");
    ASSERT_NO_FATAL_FAILURE(Start(log));
    ShowPage();
    ASSERT_TRUE(CountsReach(7));
    // A row is activated by a double-click or by Enter on the current row; synthetic double
    // clicks depend on the timing of earlier clicks, so the test presses Enter.
    const auto doubleClick = [](QTableView* view, int row) {
        view->setCurrentIndex(view->model()->index(row, 0));
        QTest::keyClick(view, Qt::Key_Return);
    };
    QTableView* list = Window_->LogView();
    const auto shownPages = [list] {
        QStringList pages;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            pages << list->model()->index(row, AccessListModel::ColumnPage).data().toString();
        pages.sort();
        return pages;
    };
    auto* field = Child<QLineEdit>("EditQuickFilter");

    // The page with any query, and no other page.
    auto* notFound = Child<QTableView>("ListViewOverviewNotFound");
    ASSERT_EQ(notFound->model()->rowCount(), 1);
    doubleClick(notFound, 0);
    EXPECT_EQ(Window_->Pages()->currentWidget()->objectName(), QStringLiteral("TabSheetLog"));
    EXPECT_EQ(field->text(), QStringLiteral("^/gone\\.html(\\?|$)"));
    const QStringList gone = {QStringLiteral("/gone.html"), QStringLiteral("/gone.html?from=mail")};
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return shownPages() == gone; }))
        << shownPages().join(u' ').toStdString();
    ASSERT_TRUE(CountsReach(2));

    // A status in the code column.
    Window_->QuickFilter()->SetState({});
    ASSERT_TRUE(CountsReach(7));
    ShowPage();
    auto* status = Child<QTableView>("ListViewOverviewStatus");
    const auto* statusRows = static_cast<const OverviewPanelModel*>(status->model());
    ASSERT_EQ(statusRows->RowAt(1)->Number, 404);
    doubleClick(status, 1);
    ASSERT_TRUE(
        test::RunEventLoopUntil([&] { return shownPages() == QStringList{QStringLiteral("/gone.html")}; }));
    ASSERT_TRUE(CountsReach(1));
    Window_->QuickFilter()->SetState({});
    ASSERT_TRUE(CountsReach(7));

    ShowPage();
    auto* exceptions = Child<QTableView>("ListViewOverviewExceptions");
    ASSERT_GE(exceptions->model()->rowCount(), 1);
    doubleClick(exceptions, 0);
    EXPECT_EQ(Window_->Pages()->currentWidget()->objectName(), QStringLiteral("TabSheetLogExceptions"));
    EXPECT_EQ(Window_->ExceptionsView()->selectionModel()->selectedRows().size(), 1);

    ShowPage();
    auto* clients = Child<QTableView>("ListViewOverviewClients");
    // The busiest client comes first.
    ASSERT_EQ(static_cast<OverviewPanelModel*>(clients->model())->RowAt(0)->Text, "10.0.0.1");
    doubleClick(clients, 0);
    EXPECT_EQ(Window_->Pages()->currentWidget()->objectName(), QStringLiteral("TabSheetLog"));
    EXPECT_EQ(Space().Filters().ShownAddress(), "10.0.0.1");
    EXPECT_TRUE(Window_->Action("ActionMenuViewShowOneAddress")->isChecked());
    ASSERT_EQ(Window_->Lists().Log().rowCount(), 3);
    // The overview follows the one-address view.
    ASSERT_TRUE(CountsReach(3));
}

// Ten rows in a panel, the whole table under "mehr..."; a header click sorts either.
TEST_F(OverviewPageTest, MoreShowsTheWholeTableAndHeadersSort) {
    std::string log;
    // Client n asks n times.
    for (int client = 1; client <= 12; ++client)
        for (int i = 0; i < client; ++i)
            log += Line("10.0.1." + std::to_string(client), 11, 30 + i, "/index.html");
    ASSERT_NO_FATAL_FAILURE(Start(log));
    ShowPage();
    ASSERT_TRUE(CountsReach(78));
    auto* clients = Child<QTableView>("ListViewOverviewClients");
    const auto* model = static_cast<const OverviewPanelModel*>(clients->model());
    ASSERT_EQ(model->rowCount(), 10);
    EXPECT_EQ(model->RowAt(0)->Text, "10.0.1.12");
    EXPECT_EQ(model->RowAt(9)->Text, "10.0.1.3");
    EXPECT_EQ(model->data(model->index(0, OverviewPanelModel::ColumnShare), Qt::DisplayRole).toString(),
              QStringLiteral("15,4 %"));
    EXPECT_DOUBLE_EQ(
        model->data(model->index(0, OverviewPanelModel::ColumnShare), OverviewPanelModel::ShareRole)
            .toDouble(),
        12.0 / 78.0);
    // Ascending by count, then by key; the top ten stay the ten highest.
    clients->horizontalHeader()->setSortIndicator(OverviewPanelModel::ColumnCount, Qt::AscendingOrder);
    EXPECT_EQ(model->RowAt(0)->Text, "10.0.1.3");
    clients->horizontalHeader()->setSortIndicator(OverviewPanelModel::ColumnKey, Qt::AscendingOrder);
    EXPECT_EQ(model->RowAt(0)->Text, "10.0.1.10");
    Page_->Refresh();
    EXPECT_EQ(model->RowAt(0)->Text, "10.0.1.10");
    EXPECT_EQ(model->rowCount(), 10);

    QTest::mouseClick(Child<QPushButton>("ButtonOverviewClientsMore"), Qt::LeftButton);
    auto* whole = Window_->findChild<QDialog*>(QStringLiteral("FormOverviewClients"));
    ASSERT_NE(whole, nullptr);
    EXPECT_TRUE(whole->isVisible());
    auto* all = whole->findChild<QTableView*>(QStringLiteral("ListViewOverviewAllClients"));
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->model()->rowCount(), 12);
    // Kept up to date while it is open.
    AppendLog(Home_ / "www.log", Line("10.0.1.13", 11, 50, "/index.html"));
    ASSERT_TRUE(CountsReach(79));
    EXPECT_EQ(all->model()->rowCount(), 13);
    whole->close();
}

} // namespace
} // namespace kavel::ui

namespace kavel::ui {
namespace {

// A column of the chart names its minute, or the run of minutes summed into it when there are
// more minutes than pixel columns; outside the bars nothing.
TEST(MinuteChartTest, HoverNamesTheMinutesOfAColumn) {
    test::App();
    const std::int64_t first = MinuteOfTime(TestNow);
    MinuteChart chart;
    // The bars end 4 pixels before the right edge: at x 395.
    chart.resize(400, 120);
    chart.SetMinutes(first, {{4, 1}, {0, 0}, {7, 2}});
    EXPECT_EQ(chart.TipAt(QPoint(395, 60)), QStringLiteral("10.03.2024 12:02\n7 Zugriffe, 2 Fehler"));
    EXPECT_EQ(chart.TipAt(QPoint(0, 60)), QString());
    EXPECT_EQ(chart.TipAt(QPoint(396, 60)), QString());

    // Ten thousand minutes in a few hundred columns: each column sums a run of them, the last
    // column ends at the last minute.
    std::vector<MinuteCounts> many(10000, MinuteCounts{1, 0});
    many.back() = {5, 5};
    chart.SetMinutes(first, many);
    const QString last = chart.TipAt(QPoint(395, 60));
    // "17.03.2024 HH:MM bis 10:39", then the sums of the minutes between.
    const QString when = last.section(QLatin1Char('\n'), 0, 0);
    ASSERT_TRUE(when.endsWith(QStringLiteral(" bis 10:39"))) << when.toStdString();
    const QTime from = QTime::fromString(when.section(QLatin1Char(' '), 1, 1), QStringLiteral("HH:mm"));
    const int minutes = from.secsTo(QTime(10, 39)) / 60 + 1;
    EXPECT_GT(minutes, 1);
    EXPECT_EQ(last.section(QLatin1Char('\n'), 1),
              QStringLiteral("%1 Zugriffe, 5 Fehler").arg(minutes - 1 + 5));
}

} // namespace
} // namespace kavel::ui
