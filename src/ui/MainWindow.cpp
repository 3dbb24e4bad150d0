#include "ui/MainWindow.h"

#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryCells.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "base/TableExport.h"
#include "base/Text.h"
#include "base/TextPattern.h"
#include "base/VersionInfo.h"
#include "parsing/NameList.h"
#include "parsing/SpiderList.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "platform/Paths.h"
#include "ui/AboutDialog.h"
#include "ui/AccessPopup.h"
#include "ui/AccessTableView.h"
#include "ui/AlertsController.h"
#include "ui/DisplayText.h"
#include "ui/ElidedLabel.h"
#include "ui/ExpirySweep.h"
#include "ui/FileChooser.h"
#include "ui/HelpViewer.h"
#include "ui/IconSet.h"
#include "ui/ListExport.h"
#include "ui/ListFilterModel.h"
#include "ui/ListItemDelegate.h"
#include "ui/ListSortModel.h"
#include "ui/MessageBox.h"
#include "ui/NewRowsBar.h"
#include "ui/OpenUrl.h"
#include "ui/OverviewPage.h"
#include "ui/QuickFilterBar.h"
#include "ui/RealtimeView.h"
#include "ui/ServerEditorDialog.h"
#include "ui/ServerTree.h"
#include "ui/TextInputDialog.h"
#include "ui/ToolGlyphs.h"
#include "ui/TrayControl.h"
#include "ui/UseMeter.h"
#include "ui/WindowLayout.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace kavel::ui {
namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString Thousands(std::int64_t value) {
    return QString::fromStdString(platform::CurrentLocaleFormat().Thousands(value));
}

// The designed widths are pixels of an 8-point font; text columns grow with the desktop's font,
// and never start narrower than their header and the typical wide cell the model names (a status
// "304 Not Modified" after its image, a date and time). The image column (the first) keeps its width.
void SetDefaultColumnWidths(QTableView* view, const std::vector<int>& widths) {
    constexpr double DesignedCharWidth = 5.0;
    const double scale = std::clamp(view->fontMetrics().averageCharWidth() / DesignedCharWidth, 1.0, 2.0);
    const QAbstractItemModel* model = view->model();
    const QFontMetrics cellMetrics = view->fontMetrics();
    const QFontMetrics headerMetrics = view->horizontalHeader()->fontMetrics();
    // The cell's and the header's text margins on both sides, with room for the grid line.
    const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 4;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const int column = static_cast<int>(i);
        int width = i == 0 ? widths[i] : static_cast<int>(widths[i] * scale + 0.5);
        if (i > 0 && model != nullptr) {
            const QString header = model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
            width = std::max(width, headerMetrics.horizontalAdvance(header) + margins);
            const QString sample = model->headerData(column, Qt::Horizontal, WidthSampleRole).toString();
            if (!sample.isEmpty()) {
                int needed = cellMetrics.horizontalAdvance(sample) + margins;
                if (model->headerData(column, Qt::Horizontal, WidthSampleIconRole).toBool())
                    needed += view->iconSize().width() + 4;
                width = std::max(width, needed);
            }
        }
        view->setColumnWidth(column, width);
    }
}

// The strip above the accesses list: the current selection's name on an inactive-caption
// gradient, with a small picture at its right end.
class ServerNameStrip final : public QWidget {
public:
    explicit ServerNameStrip(QWidget* parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("PanelServerName"));
        setFixedHeight(20);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette& p = palette();
        QLinearGradient gradient(0, 0, width(), 0);
        gradient.setColorAt(0, p.color(QPalette::Inactive, QPalette::Window));
        gradient.setColorAt(1, p.color(QPalette::Inactive, QPalette::Mid));
        painter.fillRect(rect(), gradient);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Creation

MainWindow::MainWindow(Workspace& space, Setup setup, QWidget* parent)
    : QMainWindow(parent)
    , Space_(space)
    , Lifecycle_(setup.Lifecycle)
    , Lists_(space)
    , Handshake_(space, [this](LogEntry& first) {
        // The alert rules see the new entries before the lists do.
        if (Alerts_)
            Alerts_->Observe(first);
        TakeOverEntries(first);
    }) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Kavel"));
    setWindowIcon(ApplicationIcon());
    const QScreen* primary = QGuiApplication::primaryScreen();
    resize(primary != nullptr ? DefaultSize(primary->availableGeometry()) : QSize(946, 638));

    // 1. No current server (the use meter keeps the minute of its last shift itself).
    Lists_.SetCurrentServer(nullptr);

    CreateActions();
    CreateMenus();
    CreateToolBars();
    CreateCentralArea();
    // 3. The progress bar, hidden, inside the status bar.
    CreateStatusBar();

    // 5. Both configuration stores, created and loaded.
    LayoutDefaults layout;
    if (setup.Layout) {
        layout = *setup.Layout;
    } else if (primary != nullptr) {
        // Centred in the available area (a panel at the top or left moves the centre).
        const QRect area = primary->availableGeometry();
        const QSize size = DefaultSize(area);
        layout.MainWidth = size.width();
        layout.MainHeight = size.height();
        layout.ScreenWidth = 2 * area.x() + area.width();
        layout.ScreenHeight = 2 * area.y() + area.height();
    }
    Options_ = setup.Lifecycle != nullptr ? setup.Lifecycle->CreateOptions()
                                          : CreateOptionsStore(Space_.DefinitionFile(".config"));
    Space_.SetOptions(Options_.get());
    Styles_ = CreateStylesStore(platform::Paths::StylesFile(), layout);
    Space_.SetStyles(Styles_.get());

    // 6. The view toggles' checked states from their stored values.
    UpdateActionStates();
    // 7. Column widths, the quick filter and the row colours.
    ApplyStoredColumnWidths();
    RestoreQuickFilter();
    for (ListItemDelegate* delegate : Delegates_)
        delegate->SetOutcomeColours(OutcomeColours_->isChecked());

    InstallListHooks();
    InstallViewExtras();
    InstallExpirySweep();
    const int span = StoredInt(Styles_.get(), "OverviewSpan", 0);
    Overview_->SetChoices(span >= 0 && span <= static_cast<int>(SummarySpan::KeepPeriod)
                              ? static_cast<SummarySpan>(span)
                              : SummarySpan::LastHour,
                          StoredBool(Styles_.get(), "OverviewDocumentsOnly"));
    UpdateOverviewScope();
    Alerts_ = std::make_unique<AlertsController>(*this);
    Space_.Readers().SetView(this);
    // 8. The first idle moment loads the definitions.
    if (platform::HasMainDispatcher())
        platform::MainDispatcher().SetIdleHandler([this] { return FirstIdle(); });
}

MainWindow::~MainWindow() {
    // A window that was never closed (a test) still stops what it started.
    if (!Closed_) {
        Closed_ = true;
        Handshake_.SetClosing(true);
        Expiry_->Stop();
        if (platform::HasMainDispatcher())
            platform::MainDispatcher().SetIdleHandler({});
        Space_.Readers().StopAll();
    }
    ReleaseListsAndTree();
    if (Space_.Readers().View() == this)
        Space_.Readers().SetView(nullptr);
    if (Space_.Styles() == Styles_.get())
        Space_.SetStyles(nullptr);
    if (Space_.Options() == Options_.get())
        Space_.SetOptions(nullptr);
}

QAction* MainWindow::Action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void MainWindow::CreateActions() {
    const auto make = [this](const char* name, const char* caption, const char* hint, QKeySequence shortcut,
                             QIcon icon, bool toggle) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        action->setText(Utf8(caption));
        if (hint != nullptr) {
            action->setToolTip(Utf8(hint));
            action->setStatusTip(Utf8(hint));
        }
        if (!shortcut.isEmpty()) {
            action->setShortcut(shortcut);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        if (!icon.isNull())
            action->setIcon(icon);
        action->setCheckable(toggle);
        action->setIconVisibleInMenu(true);
        return action;
    };
    const QKeySequence none;
    RunServer_ = make("ActionMenuFileRunServer", "&Webserver starten", "Webserver starten", none,
                      ToolGlyph(Glyph::RunServer), true);
    OpenObject_ = make("ActionMenuFileOpenObject", "&Objekt öffnen", "Objekt öffnen", none,
                       IconFor(Icon::OpenObject), false);
    OpenReferer_ = make("ActionMenuFileOpenReferer", "&Referenzseite öffnen", "Referenzseite öffnen", none,
                        IconFor(Icon::OpenReferer), false);
    Quit_ = make("ActionMenuFileQuit", "&Beenden", nullptr, none, IconFor(Icon::Quit), false);
    NewServer_ = make("ActionMenuEditNewServer", "W&ebserver hinzufügen", "Webserver hinzufügen",
                      QKeySequence(Qt::Key_Insert), IconFor(Icon::ServerIdleSelected), false);
    EditServer_ = make("ActionMenuEditEditServer", "We&bserver bearbeiten", "Webserver bearbeiten", none,
                       IconFor(Icon::ServerReading), false);
    DeleteServer_ = make("ActionMenuEditDeleteServer", "&Webserver löschen", "Webserver löschen",
                         QKeySequence(Qt::Key_Delete), IconFor(Icon::ServerMissing), false);
    // Entf deletes a server only while the tree has the focus (the tree takes the action in
    // CreateCentralArea); in a list it must never reach the servers.
    DeleteServer_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    FindPreviousVisit_ = make("ActionMenuEditFindPreviousVisit", "&Vorhergehenden Besuch finden", nullptr,
                              QKeySequence(Qt::Key_F3), IconFor(Icon::FindPreviousVisit), false);
    RealtimeMode_ = make("ActionMenuViewRealtimeMode", "&Echtzeitmodus", "Echtzeitmodus", none,
                         ToolGlyph(Glyph::RealtimeMode), true);
    ShowOneAddress_ = make("ActionMenuViewShowOneAddress", "A&usgewählte Adresse betrachten",
                           "Ausgewählte Adresse betrachten", none, ToolGlyph(Glyph::ShowOneAddress), true);
    HideNonDocuments_ = make("ActionMenuViewHideNonDocuments", "&Zusatzelemente ausblenden",
                             "Zusatzelemente ausblenden", none, ToolGlyph(Glyph::HideNonDocuments), true);
    HideSpiders_ = make("ActionMenuViewHideSpiders", "&Suchmaschinen ausblenden", "Suchmaschinen ausblenden",
                        none, ToolGlyph(Glyph::HideSpiders), true);
    HideWords_ = make("ActionMenuViewHideWords", "&Bestimmte Wörter ausblenden",
                      "Bestimmte Wörter ausblenden", none, ToolGlyph(Glyph::HideWords), true);
    HideLocalReferers_ =
        make("ActionMenuViewHideLocalReferers", "&Lokale Referenzseiten ausblenden",
             "Lokale Referenzseiten ausblenden", none, ToolGlyph(Glyph::HideLocalReferers), true);
    ResolveDomains_ = make("ActionMenuViewResolveDomains", "&Adressen auflösen", "Adressen auflösen", none,
                           ToolGlyph(Glyph::ResolveDomains), true);
    ResolveDomains_->setChecked(true);
    ShowInfoTips_ = make("ActionMenuViewShowInfoTips", "InfoTips anzeigen", "Große InfoTips anzeigen", none,
                         ToolGlyph(Glyph::ShowInfoTips), true);
    AddSpider_ = make("ActionMenuExtrasAddSpider", "Als Suchmaschine kennzeichnen",
                      "Als Suchmaschine kennzeichnen", none, IconFor(Icon::Spider), false);
    AddNoSpider_ = make("ActionMenuExtrasAddNoSpider", "Als Nicht-Suchmaschine kennzeichnen",
                        "Als keine Suchmaschine kennzeichnen", none, IconFor(Icon::NoSpider), false);
    AddDocument_ = make("ActionMenuExtrasAddDocument", "&Als Dokument kennzeichnen", nullptr, none,
                        IconFor(Icon::NewVisitor), false);
    AddBuddy_ = make("ActionMenuExtrasAddBuddy", "A&ls Freund kennzeichnen", nullptr, none,
                     IconFor(Icon::Buddy), false);
    HelpHelp_ =
        make("ActionMenuHelpHelp", "Hilfe...", nullptr, QKeySequence(Qt::Key_F1), IconFor(Icon::Help), false);
    HelpInfo_ = make("ActionMenuHelpInfo", "&Info...", nullptr, none, QIcon(), false);
    ExportList_ = make("ActionMenuFileExportList", "Liste &exportieren...", nullptr, none, QIcon(), false);
    Copy_ =
        make("ActionMenuEditCopy", "&Kopieren", nullptr, QKeySequence(QKeySequence::Copy), QIcon(), false);
    FindQuick_ = make("ActionMenuEditQuickFilter", "&Schnellfilter", nullptr,
                      QKeySequence(Qt::CTRL | Qt::Key_F), QIcon(), false);
    OutcomeColours_ =
        make("ActionMenuViewOutcomeColours", "Zeilen nach E&rgebnis färben", nullptr, none, QIcon(), true);
    connect(ExportList_, &QAction::triggered, this, [this] { ExportListExecute(); });
    connect(Copy_, &QAction::triggered, this, [this] { CopyExecute(); });
    connect(FindQuick_, &QAction::triggered, this, [this] { QuickFilter_->FocusField(); });
    connect(OutcomeColours_, &QAction::triggered, this, [this] { OutcomeColoursExecute(); });

    connect(RunServer_, &QAction::triggered, this, [this] { RunServerExecute(); });
    connect(OpenObject_, &QAction::triggered, this, [this] { OpenObjectExecute(); });
    connect(OpenReferer_, &QAction::triggered, this, [this] { OpenRefererExecute(); });
    connect(Quit_, &QAction::triggered, this, [this] { close(); });
    connect(NewServer_, &QAction::triggered, this, [this] { NewServerExecute(); });
    connect(EditServer_, &QAction::triggered, this, [this] { EditServerExecute(); });
    connect(DeleteServer_, &QAction::triggered, this, [this] { DeleteServerExecute(); });
    connect(FindPreviousVisit_, &QAction::triggered, this, [this] { FindPreviousVisitExecute(); });
    connect(RealtimeMode_, &QAction::triggered, this, [this] { ToggleStyleExecute("ListViewRealtimeMode"); });
    connect(ShowOneAddress_, &QAction::triggered, this, [this] { ShowOneAddressExecute(); });
    connect(HideNonDocuments_, &QAction::triggered, this,
            [this] { ToggleStyleExecute("ListViewHideNonDocuments"); });
    connect(HideSpiders_, &QAction::triggered, this, [this] { ToggleStyleExecute("ListViewHideSpiders"); });
    connect(HideWords_, &QAction::triggered, this, [this] { HideWordsExecute(); });
    connect(HideLocalReferers_, &QAction::triggered, this,
            [this] { ToggleStyleExecute("ListViewHideLocalReferers"); });
    connect(ResolveDomains_, &QAction::triggered, this,
            [this] { ToggleStyleExecute("ListViewResolveDomains"); });
    connect(ShowInfoTips_, &QAction::triggered, this, [this] { ShowInfoTipsExecute(); });
    connect(AddSpider_, &QAction::triggered, this, [this] { AddSpiderExecute(AddSpider_); });
    connect(AddNoSpider_, &QAction::triggered, this, [this] { AddSpiderExecute(AddNoSpider_); });
    connect(AddDocument_, &QAction::triggered, this, [this] { AddDocumentExecute(); });
    connect(AddBuddy_, &QAction::triggered, this, [this] { AddBuddyExecute(); });
    connect(HelpHelp_, &QAction::triggered, this, [this] { HelpExecute(false); });
    connect(HelpInfo_, &QAction::triggered, this, [this] { InfoExecute(); });
}

void MainWindow::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("ActionMainMenuBar"));
    bar->setWindowTitle(QStringLiteral("Hauptmenü"));
    const auto menu = [bar](const char* name, const char* caption) {
        QMenu* m = bar->addMenu(Utf8(caption));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    QMenu* file = menu("MenuFile", "&Datei");
    file->addAction(RunServer_);
    file->addSeparator();
    file->addAction(OpenObject_);
    file->addAction(OpenReferer_);
    file->addSeparator();
    file->addAction(ExportList_);
    file->addSeparator();
    file->addAction(Quit_);
    QMenu* edit = menu("MenuEdit", "&Bearbeiten");
    edit->addAction(NewServer_);
    edit->addAction(EditServer_);
    edit->addAction(DeleteServer_);
    edit->addSeparator();
    edit->addAction(FindPreviousVisit_);
    edit->addSeparator();
    edit->addAction(Copy_);
    edit->addAction(FindQuick_);
    QMenu* view = menu("MenuView", "&Ansicht");
    view->addAction(RealtimeMode_);
    view->addSeparator();
    view->addAction(ShowOneAddress_);
    view->addSeparator();
    view->addAction(HideNonDocuments_);
    view->addAction(HideSpiders_);
    view->addAction(HideWords_);
    view->addAction(HideLocalReferers_);
    view->addSeparator();
    view->addAction(ResolveDomains_);
    view->addAction(OutcomeColours_);
    QMenu* extras = menu("MenuExtras", "&Extras");
    extras->addAction(AddDocument_);
    extras->addAction(AddBuddy_);
    QMenu* help = menu("MenuHelp", "&Hilfe");
    help->addAction(HelpHelp_);
    help->addSeparator();
    help->addAction(HelpInfo_);

    // Context menus; the realtime mode is the default entry of both list menus (bold).
    PopupListLog_ = new QMenu(this);
    PopupListLog_->setObjectName(QStringLiteral("PopupMenuListLog"));
    PopupListLog_->addAction(RealtimeMode_);
    PopupListLog_->setDefaultAction(RealtimeMode_);
    PopupListLog_->addSeparator();
    PopupListLog_->addAction(OpenObject_);
    PopupListLog_->addAction(OpenReferer_);
    PopupListLog_->addAction(FindPreviousVisit_);
    PopupListLog_->addSeparator();
    PopupListLog_->addAction(ShowOneAddress_);
    PopupListLog_->addSeparator();
    PopupListLog_->addAction(HideNonDocuments_);
    PopupListLog_->addAction(HideSpiders_);
    PopupListLog_->addAction(HideWords_);
    PopupListLog_->addAction(HideLocalReferers_);
    PopupListLog_->addSeparator();
    PopupListLog_->addAction(ResolveDomains_);

    PopupListExceptions_ = new QMenu(this);
    PopupListExceptions_->setObjectName(QStringLiteral("PopupMenuListExceptions"));
    PopupListExceptions_->addAction(RealtimeMode_);
    PopupListExceptions_->setDefaultAction(RealtimeMode_);
    PopupListExceptions_->addSeparator();
    PopupListExceptions_->addAction(AddSpider_);
    PopupListExceptions_->addAction(AddNoSpider_);

    PopupTree_ = new QMenu(this);
    PopupTree_->setObjectName(QStringLiteral("PopupMenuTree"));
    PopupTree_->addAction(RunServer_);
    PopupTree_->addSeparator();
    PopupTree_->addAction(NewServer_);
    PopupTree_->addAction(EditServer_);
    PopupTree_->addAction(DeleteServer_);
}

void MainWindow::CreateToolBars() {
    QToolBar* standard = addToolBar(QStringLiteral("Standard"));
    standard->setObjectName(QStringLiteral("PanelMainMenuStandard"));
    standard->setIconSize(QSize(16, 16));
    standard->setMovable(true);
    standard->addAction(NewServer_);
    standard->addAction(EditServer_);
    standard->addAction(DeleteServer_);
    standard->addAction(RunServer_);
    standard->addSeparator();
    standard->addAction(OpenObject_);
    standard->addAction(OpenReferer_);
    standard->addAction(ShowInfoTips_);
    HelpButton_ = new QToolButton(standard);
    HelpButton_->setObjectName(QStringLiteral("SpeedButtonHelp"));
    HelpButton_->setIcon(IconFor(Icon::Help));
    HelpButton_->setText(QStringLiteral("Hilfe"));
    HelpButton_->setAccessibleName(QStringLiteral("Kontextsensitive Online-Hilfe"));
    HelpButton_->setToolTip(QStringLiteral("Kontextsensitive Online-Hilfe"));
    HelpButton_->setStatusTip(QStringLiteral("Kontextsensitive Online-Hilfe"));
    HelpButton_->setAutoRaise(true);
    connect(HelpButton_, &QToolButton::clicked, this, [this] { HelpButtonClicked(); });
    standard->addWidget(HelpButton_);

    QToolBar* views = addToolBar(QStringLiteral("Ansicht"));
    views->setObjectName(QStringLiteral("PanelMainMenuViews"));
    views->setIconSize(QSize(16, 16));
    views->setMovable(true);
    views->addAction(RealtimeMode_);
    views->addAction(HideNonDocuments_);
    views->addAction(HideSpiders_);
    views->addAction(HideWords_);
    views->addAction(HideLocalReferers_);
    views->addAction(ResolveDomains_);
    views->addAction(ShowOneAddress_);
    for (QToolBar* bar : {standard, views}) {
        for (QToolButton* button : bar->findChildren<QToolButton*>()) {
            button->setAutoRaise(true);
            // The button that shows what does not fit ("»") has no text of its own.
            if (button->objectName() == QStringLiteral("qt_toolbar_ext_button"))
                button->setAccessibleName(QStringLiteral("Weitere Schaltflächen"));
        }
    }
}

void MainWindow::SetUpListView(AccessTableView* view, bool showHeader) {
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideRight);
    view->setIconSize(QSize(16, 16));
    view->setTabKeyNavigation(false);
    view->verticalHeader()->hide();
    // One height for every row: the view never measures rows.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(std::max(view->fontMetrics().height() + 4, 20));
    view->verticalHeader()->setMinimumSectionSize(1);
    view->horizontalHeader()->setMinimumSectionSize(16);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setSectionsClickable(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setVisible(showHeader);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void MainWindow::CreateCentralArea() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ControlBarMainClient"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    UseMeter_ = new UseMeter(Space_.Entries(), central);
    layout->addWidget(UseMeter_);

    auto* splitter = new QSplitter(Qt::Horizontal, central);
    splitter->setObjectName(QStringLiteral("SplitterMainV"));
    splitter->setChildrenCollapsible(false);
    Tree_ = new ServerTreeView(splitter);
    Tree_->setMinimumWidth(80);
    connect(Tree_, &ServerTreeView::NodePressed, this,
            [this](Qt::MouseButton button, QPoint global) { OnTreePressed(button, global); });
    connect(Tree_, &ServerTreeView::NodeEdited, this,
            [this](QTreeWidgetItem* node, const QString& text) { OnNodeEdited(node, text); });

    // The quick filter sits above the pages and filters all three lists.
    auto* listsArea = new QWidget(splitter);
    listsArea->setObjectName(QStringLiteral("PanelLists"));
    auto* listsLayout = new QVBoxLayout(listsArea);
    listsLayout->setContentsMargins(0, 0, 0, 0);
    listsLayout->setSpacing(2);
    CreateQuickFilter(listsArea);
    listsLayout->addWidget(QuickFilter_);
    Pages_ = new QTabWidget(listsArea);
    listsLayout->addWidget(Pages_, 1);
    Pages_->setObjectName(QStringLiteral("PageControlLogFormats"));
    Pages_->setIconSize(QSize(16, 16));
    Pages_->setDocumentMode(false);

    TabRaw_ = new QWidget(Pages_);
    TabRaw_->setObjectName(QStringLiteral("TabSheetRaw"));
    auto* rawLayout = new QVBoxLayout(TabRaw_);
    rawLayout->setContentsMargins(0, 0, 0, 0);
    RawView_ = new AccessTableView(TabRaw_);
    RawView_->setObjectName(QStringLiteral("ListViewLogRaw"));
    SetUpListView(RawView_, false);
    RawView_->setModel(RawFilter_);
    RawView_->horizontalHeader()->setStretchLastSection(true);
    rawLayout->addWidget(RawView_);
    new NewRowsBar(RawView_);

    TabLog_ = new QWidget(Pages_);
    TabLog_->setObjectName(QStringLiteral("TabSheetLog"));
    auto* logLayout = new QVBoxLayout(TabLog_);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->setSpacing(0);
    auto* strip = new ServerNameStrip(TabLog_);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(4, 0, 2, 0);
    stripLayout->setSpacing(4);
    ServerLabel_ = new ElidedLabel(strip);
    ServerLabel_->setObjectName(QStringLiteral("LabelServerName"));
    ServerLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont stripFont = ServerLabel_->font();
    stripFont.setBold(true);
    stripFont.setPointSize(10);
    ServerLabel_->setFont(stripFont);
    ServerImage_ = new QLabel(strip);
    ServerImage_->setObjectName(QStringLiteral("ImageServerName"));
    ServerImage_->setTextFormat(Qt::PlainText);
    ServerImage_->setFixedSize(16, 16);
    ServerImage_->setPixmap(IconFor(Icon::AllServers).pixmap(16, 16));
    stripLayout->addWidget(ServerLabel_, 1);
    stripLayout->addWidget(ServerImage_);
    logLayout->addWidget(strip);
    LogView_ = new AccessTableView(TabLog_);
    LogView_->setObjectName(QStringLiteral("ListViewLog"));
    SetUpListView(LogView_, true);
    LogView_->setModel(LogSort_);
    SetDefaultColumnWidths(LogView_, AccessListModel::DefaultWidths());
    LogView_->horizontalHeader()->setSectionResizeMode(AccessListModel::ColumnVisitor, QHeaderView::Fixed);
    LogView_->horizontalHeader()->setStretchLastSection(true);
    logLayout->addWidget(LogView_);
    new NewRowsBar(LogView_);

    TabExceptions_ = new QWidget(Pages_);
    TabExceptions_->setObjectName(QStringLiteral("TabSheetLogExceptions"));
    auto* exceptionsLayout = new QVBoxLayout(TabExceptions_);
    exceptionsLayout->setContentsMargins(0, 0, 0, 0);
    ExceptionsView_ = new AccessTableView(TabExceptions_);
    ExceptionsView_->setObjectName(QStringLiteral("ListViewLogExceptions"));
    SetUpListView(ExceptionsView_, true);
    ExceptionsView_->setModel(ExceptionsFilter_);
    SetDefaultColumnWidths(ExceptionsView_, ExceptionListModel::DefaultWidths());
    ExceptionsView_->horizontalHeader()->setStretchLastSection(true);
    exceptionsLayout->addWidget(ExceptionsView_);
    new NewRowsBar(ExceptionsView_);

    Pages_->addTab(TabRaw_, IconFor(Icon::ServerIdle), QStringLiteral("Rohformat"));
    Pages_->addTab(TabLog_, IconFor(Icon::PageAccesses), QStringLiteral("Zugriffe"));
    Pages_->addTab(TabExceptions_, IconFor(Icon::PageExceptions), QStringLiteral("Ausnahmen"));
    Overview_ = new OverviewPage(Space_.Entries(), Space_.Spiders(), Pages_);
    Overview_->SetOnRowActivated([this](SummaryPanel panel, std::int32_t number, const std::string& text) {
        OverviewRowActivated(panel, number, text);
    });
    Pages_->addTab(Overview_, IconFor(Icon::StatusOk), QStringLiteral("Übersicht"));
    Pages_->setCurrentWidget(TabLog_);
    connect(Pages_, &QTabWidget::currentChanged, this, [this] {
        UpdateQuickFilterColumns();
        UpdateQuickFilterCounts();
        UpdateActionStates();
    });
    for (AccessTableView* view : {RawView_, LogView_, ExceptionsView_}) {
        auto* delegate = new ListItemDelegate(view);
        delegate->SetFilter(FilterOf(view));
        view->setItemDelegate(delegate);
        Delegates_.push_back(delegate);
    }
    // A click on a header sorts the accesses by that column: again reverses, a third time
    // returns to the time order.
    LogView_->horizontalHeader()->setSectionsClickable(true);
    connect(LogView_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { SortLogByColumn(column); });
    UpdateQuickFilterColumns();
    UpdateServerColumns();

    connect(LogView_, &AccessTableView::Pressed, this,
            [this](Qt::MouseButton button, QPoint global) { OnListPressed(LogView_, button, global); });
    connect(ExceptionsView_, &AccessTableView::Pressed, this, [this](Qt::MouseButton button, QPoint global) {
        OnListPressed(ExceptionsView_, button, global);
    });
    // Shift+F10 and the menu key open the focused list's or tree's menu at its current row.
    for (AccessTableView* view : {LogView_, ExceptionsView_}) {
        connect(view, &AccessTableView::ContextMenuRequested, this,
                [this, view](QPoint global) { OnListPressed(view, Qt::RightButton, global); });
        // Back at the newest row nothing is selected any more: the statistics say so.
        connect(view, &AccessTableView::ReturnedToNewest, this,
                [this, view] { ShowSelectionStatistics(view); });
    }
    connect(Tree_, &ServerTreeView::ContextMenuRequested, this,
            [this](QPoint global) { OnTreePressed(Qt::RightButton, global); });
    Tree_->addAction(DeleteServer_);
    // Keyboard selection changes the states too, so that F3 and the menu follow the selection.
    connect(LogView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateActionStates(); });
    connect(ExceptionsView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateActionStates(); });

    splitter->addWidget(Tree_);
    splitter->addWidget(listsArea);
    // A wider window gives the tree a share too, so that long server names fit.
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 4);
    splitter->setSizes({241, std::max(width() - 241, 241)});
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
}

void MainWindow::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBarMain"));
    bar->setSizeGripEnabled(true);
    // Both panels give way at small sizes instead of printing over each other; a cut text ends
    // in "…" with the whole text in its tip.
    StatusPanels_[0] = new ElidedLabel(bar);
    StatusPanels_[0]->setObjectName(QStringLiteral("StatusBarMainPanel0"));
    StatusPanels_[0]->SetPreferredWidth(300);
    StatusPanels_[0]->setMaximumWidth(300);
    StatusPanels_[0]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    StatusPanels_[0]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StatusPanels_[1] = new ElidedLabel(bar);
    StatusPanels_[1]->setObjectName(QStringLiteral("StatusBarMainPanel1"));
    // Asks for as much as panel 0, so that at small sizes the two share the room.
    StatusPanels_[1]->SetPreferredWidth(300);
    StatusPanels_[1]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    StatusPanels_[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bar->addWidget(StatusPanels_[0]);
    bar->addWidget(StatusPanels_[1], 1);
    Progress_ = new QProgressBar(StatusPanels_[0]);
    Progress_->setObjectName(QStringLiteral("ProgressBarUpdateLists"));
    Progress_->setTextVisible(false);
    Progress_->setGeometry(0, 2, 237, 13);
    Progress_->hide();
}

void MainWindow::InstallListHooks() {
    AccessLists::Hooks hooks;
    hooks.ProcessEvents = [this] { ProcessPendingEvents(); };
    hooks.ProgressStart = [this](int maximum) {
        Progress_->setMaximum(std::max(maximum, 1));
        Progress_->setValue(0);
    };
    hooks.Progress = [this](int position) { Progress_->setValue(std::min(position, Progress_->maximum())); };
    hooks.MarkServerNew = [this](Server& server) { Tree_->MarkServerNodeNew(server); };
    hooks.MarkUseMeter = [this](DateTime time, bool weak) { UseMeter_->Mark(time, weak); };
    hooks.ClearUseMeter = [this] { UseMeter_->Clear(); };
    // The transfer totals and the realtime view plug in here.
    Lists_.SetHooks(std::move(hooks));
}

// ---------------------------------------------------------------------------------------------
// Use meter, transfer totals and realtime view

void MainWindow::InstallViewExtras() {
    AccessLists::Hooks& hooks = Lists_.GetHooks();
    hooks.ResetTransferTotals = [this] {
        Totals_.Reset(platform::Now());
        TotalsDue_ = false;
        SetStatusText(1, {});
    };
    // The totals count every access at once and show their text when the rows are shown: a
    // label set for every access would have the status bar laid out again each time.
    hooks.AddToTransferTotals = [this](const LogEntry& entry) {
        const std::int64_t bytes = entry.Access() != nullptr ? entry.Access()->Bytes : 0;
        if (Totals_.Accumulate(bytes, entry.Time, platform::Now()))
            TotalsDue_ = true;
    };
    hooks.Published = [this] {
        if (!TotalsDue_)
            return;
        TotalsDue_ = false;
        SetStatusText(1, Totals_.Text());
    };
    Realtime_ = std::make_unique<RealtimeView>(Lists_, this);
    Realtime_->SetViews(LogView_, ExceptionsView_);
    Realtime_->SetHooks({[this](DateTime time, bool weak) { UseMeter_->Mark(time, weak); },
                         [this] { return RealtimeMode_->isChecked(); }});
    hooks.RealtimeMode = [this] { return RealtimeMode_->isChecked(); };
    hooks.BuildRealtimeView = [this] { Realtime_->Build(); };
    hooks.EntryRemoved = [this](const LogEntry& entry) {
        Realtime_->Forget(entry);
        Overview_->Forget(entry);
    };
    connect(UseMeter_, &UseMeter::ColumnClicked, this, [this](qint64 timeMs) { UseMeterClicked(timeMs); });
    Tray_ = new TrayControl(this);
    Tray_->SetOnMinimise([this] {
        if (AboutBox_ != nullptr)
            AboutBox_->EndFade();
    });
}

void MainWindow::InstallExpirySweep() {
    Expiry_ = std::make_unique<ExpirySweep>(Lists_, this);
    ExpirySweep::Hooks hooks;
    // The realtime view counts no totals; the normal view counted every access it shows or hides.
    hooks.Leaving = [this](const LogEntry& entry) {
        if (!RealtimeMode_->isChecked())
            Totals_.Forget(entry.Access() != nullptr ? entry.Access()->Bytes : 0, entry.Time);
    };
    hooks.Swept = [this](const ExpirySweep::Result& result) {
        for (Server* server : result.Servers)
            Tree_->UpdateServerCount(*server);
        if (!result.ViewChanged)
            return;
        UseMeter_->Clear();
        UseMeter_->Redraw();
        if (RealtimeMode_->isChecked())
            return;
        TotalsDue_ = false;
        SetStatusText(1, Totals_.Restart(result.OldestInView, platform::Now()) ? Totals_.Text() : QString());
    };
    Expiry_->SetHooks(std::move(hooks));
}

void MainWindow::UseMeterClicked(qint64 timeMs) {
    if (Pages_->currentWidget() != TabLog_)
        return;
    LogView_->setFocus();
    const AccessListModel& log = Lists_.Log();
    for (int row = 0; row < log.rowCount(); ++row) {
        const LogEntry* entry = log.EntryAt(row);
        if (entry != nullptr && entry->Time.Ms < timeMs && SelectLogRow(row))
            return;
    }
}

void MainWindow::ProcessPendingEvents() {
    // While a reader's entries are taken over, user input waits: a command handled here could
    // stop the reader whose notification is being handled.
    QCoreApplication::processEvents(TakeOverDepth_ > 0 ? QEventLoop::ExcludeUserInputEvents
                                                       : QEventLoop::AllEvents);
}

void MainWindow::ApplyStoredColumnWidths() {
    const auto apply = [](QTableView* view, const std::string& text) {
        const int count = view->model()->columnCount();
        std::vector<int> widths;
        for (int i = 0; i < count; ++i)
            widths.push_back(view->columnWidth(i));
        widths = ApplyColumnWidths(std::move(widths), text);
        for (int i = 0; i < count; ++i)
            view->setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
    };
    apply(LogView_, Styles_->Text("ListViewLogWidthes"));
    apply(ExceptionsView_, Styles_->Text("ListViewExceptionsWidthes"));
}

void MainWindow::StoreLayout() {
    const auto widths = [](const QTableView* view) {
        std::vector<int> result;
        for (int i = 0; i < view->model()->columnCount(); ++i)
            result.push_back(view->columnWidth(i));
        return ColumnWidthsText(result);
    };
    Styles_->SetValue("ListViewLogWidthes", widths(LogView_));
    Styles_->SetValue("ListViewExceptionsWidthes", widths(ExceptionsView_));
    StoreQuickFilter();
    // The size without the frame and the position of the frame: what resize and move take
    // back at the next start.
    const bool normal = !(isMaximized() || isMinimized() || isFullScreen());
    const QRect inner = normal ? geometry() : normalGeometry();
    const QPoint corner = normal ? pos() : normalGeometry().topLeft();
    Styles_->SetValue("MainWidth", std::int32_t{inner.width()});
    Styles_->SetValue("MainHeight", std::int32_t{inner.height()});
    Styles_->SetValue("MainLeft", std::int32_t{corner.x()});
    Styles_->SetValue("MainTop", std::int32_t{corner.y()});
    Styles_->SetValue("OverviewSpan", static_cast<std::int32_t>(Overview_->Span()));
    Styles_->SetValue("OverviewDocumentsOnly", Overview_->DocumentsOnly());
}

void MainWindow::ApplyStoredGeometry() {
    const int width = StoredInt(Styles_.get(), "MainWidth", 946);
    const int height = StoredInt(Styles_.get(), "MainHeight", 638);
    const int left = StoredInt(Styles_.get(), "MainLeft", x());
    const int top = StoredInt(Styles_.get(), "MainTop", y());
    const QRect stored(left, top, width > 0 ? width : this->width(), height > 0 ? height : this->height());
    // The screen that holds most of the stored place; a place on no screen any more (a monitor
    // went away) goes to the primary one.
    const QScreen* target = QGuiApplication::primaryScreen();
    int bestOverlap = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect overlap = screen->availableGeometry().intersected(stored);
        if (overlap.width() * overlap.height() > bestOverlap) {
            bestOverlap = overlap.width() * overlap.height();
            target = screen;
        }
    }
    if (target == nullptr) {
        resize(stored.size());
        move(stored.topLeft());
        return;
    }
    const QRect area = target->availableGeometry();
    QRect place = stored;
    if (bestOverlap == 0)
        place.moveTo(area.x() + std::max(0, (area.width() - place.width()) / 2),
                     area.y() + std::max(0, (area.height() - place.height()) / 2));
    // A frame that is not known yet is checked again once the window manager has added it.
    bool frameKnown = false;
    place = ClampedGeometry(place, area, FrameSize(&frameKnown));
    resize(place.size());
    move(place.topLeft());
    if (!frameKnown) {
        FrameChecks_ = 0;
        QTimer::singleShot(100, this, [this] { CheckFrameFits(); });
    }
}

QSize MainWindow::FrameSize(bool* known) const {
    // Known once the window manager has framed the window; without one there is no frame.
    const QSize frame(frameGeometry().width() - geometry().width(),
                      frameGeometry().height() - geometry().height());
    if (known != nullptr)
        *known = !frame.isEmpty();
    return frame;
}

void MainWindow::CheckFrameFits() {
    bool known = false;
    const QSize frame = FrameSize(&known);
    if (!known) {
        // Window managers frame a window a moment after it appeared; none may be running.
        if (++FrameChecks_ < 30)
            QTimer::singleShot(100, this, [this] { CheckFrameFits(); });
        return;
    }
    const QScreen* target = screen();
    if (target == nullptr || isMaximized() || isFullScreen() || isMinimized())
        return;
    const QRect area = target->availableGeometry();
    if (area.contains(frameGeometry()))
        return;
    const QRect place = ClampedGeometry(QRect(pos(), size()), area, frame);
    resize(place.size());
    move(place.topLeft());
}

// ---------------------------------------------------------------------------------------------
// First idle moment, take-over, closing

platform::IdleResult MainWindow::FirstIdle() {
    if (Closed_ || FirstIdleDone_)
        return platform::IdleResult::Done;
    // 1. From now on the idle moments resume the readers that notified.
    platform::MainDispatcher().SetIdleHandler([this] { return Handshake_.ResumePendingReader(); });
    FirstIdleDone_ = true;
    // 2. The stored geometry.
    ApplyStoredGeometry();
    // 3. The transfer totals.
    if (Lists_.GetHooks().ResetTransferTotals)
        Lists_.GetHooks().ResetTransferTotals();
    // 4, 5. The revisitors, then the servers: each gets its node, then its reader.
    Tree_->Rebuild();
    if (Lifecycle_ != nullptr)
        Lifecycle_->LoadDefinitions([this](Server& server) { Tree_->AddServerNode(server, false); });
    Alerts_->Load(Lifecycle_);
    Tree_->SortNodes();
    // 6.
    UpdateServerCaption();
    UpdateActionStates();
    UseMeter_->DrawScale();
    Expiry_->Start();
    return platform::IdleResult::Done;
}

void MainWindow::TakeOverEntries(LogEntry& first) {
    ++TakeOverDepth_;
    try {
        Lists_.TakeOverEntries(first);
        Overview_->EntriesTakenOver();
    } catch (...) {
        --TakeOverDepth_;
        throw;
    }
    --TakeOverDepth_;
    Expiry_->NoteNotification();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (TakeOverDepth_ > 0) {
        // Inside a take-over the reader being served must outlive it: close right after.
        event->ignore();
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
        return;
    }
    if (!Closed_) {
        Closed_ = true;
        // 1. Notifications are ignored from now on; loops still running end.
        Handshake_.SetClosing(true);
        Lists_.NewUpdate();
        Expiry_->Stop();
        if (platform::HasMainDispatcher())
            platform::MainDispatcher().SetIdleHandler({});
        // 2.-3. Every reader stopped and waited for, each announced in the status bar.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        // Each server's text is set; the panel is painted at most every 50 ms, so that
        // thousands of servers do not keep the end waiting for their paints.
        auto lastPaint = std::chrono::steady_clock::time_point{};
        const auto show = [this, &lastPaint](const std::string& text) {
            SetStatusText(0, DisplayText(text));
            const auto now = std::chrono::steady_clock::now();
            if (now - lastPaint >= std::chrono::milliseconds(50)) {
                StatusPanels_[0]->repaint();
                lastPaint = now;
            }
        };
        if (Lifecycle_ != nullptr)
            Lifecycle_->StopReaders(show);
        else
            Space_.Readers().StopAll(show);
        // 4. The layout, when it was restored at the first idle moment (a window closed
        // before that never showed the user's layout and must not replace it).
        if (FirstIdleDone_)
            StoreLayout();
        // 5.
        QApplication::restoreOverrideCursor();
    }
    event->accept();
}

void MainWindow::EndProgram() {
    if (TakeOverDepth_ > 0) {
        // The reader being served must outlive the take-over, whose loop must not end early.
        QMetaObject::invokeMethod(
            this, [this] { EndProgram(); }, Qt::QueuedConnection);
        return;
    }
    close();
    QCoreApplication::quit();
}

void MainWindow::ReleaseListsAndTree() {
    Lists_.NewUpdate();
    if (Overview_ != nullptr)
        Overview_->Release();
    Lists_.Raw().Clear();
    Lists_.Log().Clear();
    Lists_.Exceptions().Clear();
    Lists_.SetCurrentServer(nullptr);
    if (Tree_ != nullptr)
        Tree_->ClearNodes();
}

// ---------------------------------------------------------------------------------------------
// ReaderView

void MainWindow::SetServerNodeStatus(Server& server, ServerStatus status) {
    if (ServerTreeItem* node = Tree_->NodeOf(server)) {
        const auto [image, selectedImage] = NodeIconsOf(status);
        node->SetImages(image, selectedImage);
    }
}

void MainWindow::ShowPopup(const std::string& text, const std::string& caption, VisitorMark visitor) {
    ShowIconPopup(text, caption, IconOf(visitor));
}

void MainWindow::ShowIconPopup(const std::string& text, const std::string& caption, Icon image) {
    if (Popup_ == nullptr) {
        Popup_ = std::make_unique<AccessPopup>();
        Popup_->SetOwner(this);
        Popup_->SetAvoidAreas([this] { return PopupAvoidAreas(); });
    }
    Popup_->ShowReaderMessage(text, caption, image);
}

// ---------------------------------------------------------------------------------------------
// Action states

void MainWindow::UpdateActionStates() {
    // 1. Server actions from the selected node.
    if (Server* server = Tree_->SelectedServer()) {
        RunServer_->setEnabled(!server->LogFileMissing());
        RunServer_->setChecked(server->Active());
        EditServer_->setEnabled(true);
        DeleteServer_->setEnabled(true);
    } else {
        RunServer_->setEnabled(false);
        RunServer_->setChecked(false);
        EditServer_->setEnabled(false);
        DeleteServer_->setEnabled(false);
    }
    // 2.
    ShowOneAddress_->setChecked(!Space_.Filters().ShownAddress().empty());
    // 3. The view toggles from the Styles store.
    const SettingsStore* styles = Styles_.get();
    HideNonDocuments_->setChecked(StoredBool(styles, "ListViewHideNonDocuments"));
    HideWords_->setChecked(StoredBool(styles, "ListViewHideWords"));
    HideSpiders_->setChecked(StoredBool(styles, "ListViewHideSpiders"));
    HideLocalReferers_->setChecked(StoredBool(styles, "ListViewHideLocalReferers"));
    ResolveDomains_->setChecked(StoredBool(styles, "ListViewResolveDomains"));
    RealtimeMode_->setChecked(StoredBool(styles, "ListViewRealtimeMode"));
    OutcomeColours_->setChecked(StoredBool(styles, "ListViewOutcomeColours"));
    ShowInfoTips_->setChecked(StoredBool(styles, "ShowInfoTips"));
    // 4. From the selected row of the accesses list.
    LogEntry* entry = SelectedLogEntry();
    if (entry == nullptr || entry->Access() == nullptr) {
        OpenObject_->setEnabled(false);
        OpenReferer_->setEnabled(false);
        AddDocument_->setEnabled(false);
        AddBuddy_->setEnabled(false);
        FindPreviousVisit_->setEnabled(false);
        ShowOneAddress_->setEnabled(ShowOneAddress_->isChecked());
    } else {
        OpenObject_->setEnabled(true);
        const LinePin pin(*entry);
        // Only an http or https address can be opened; "-" and the like cannot.
        OpenReferer_->setEnabled(RefererUrl(entry->Access()->Referer()).has_value());
        ShowOneAddress_->setEnabled(true);
        FindPreviousVisit_->setEnabled(true);
        const bool single = SelectedRowCount(LogView_) == 1;
        const AccessRecord& access = *entry->Access();
        const std::string_view extension = DocumentExtension(access.PageWithoutQuery());
        AddDocument_->setEnabled(single && !Space_.Documents().Contains(extension) && !access.IsDocument);
        AddBuddy_->setEnabled(single && !Space_.Buddies().Contains(access.HostName()));
    }
    // 5. From the selected row of the exceptions list.
    const bool exceptionSelected = SelectedExceptionEntry() != nullptr;
    AddSpider_->setEnabled(exceptionSelected);
    AddNoSpider_->setEnabled(exceptionSelected);
}

int MainWindow::FirstSelectedRow(const QTableView* view) {
    const QItemSelectionModel* selection = view->selectionModel();
    if (selection == nullptr)
        return -1;
    int first = -1;
    for (const QItemSelectionRange& range : selection->selection())
        if (range.isValid() && (first < 0 || range.top() < first))
            first = range.top();
    return first;
}

int MainWindow::SelectedRowCount(const QTableView* view) {
    const QItemSelectionModel* selection = view->selectionModel();
    if (selection == nullptr)
        return 0;
    return static_cast<int>(selection->selectedRows().size());
}

LogEntry* MainWindow::SelectedLogEntry() const {
    return EntryAtViewRow(LogView_, FirstSelectedRow(LogView_));
}

LogEntry* MainWindow::SelectedExceptionEntry() const {
    return EntryAtViewRow(ExceptionsView_, FirstSelectedRow(ExceptionsView_));
}

LogEntry* MainWindow::EntryAtViewRow(const QTableView* view, int row) const {
    if (view == nullptr || row < 0)
        return nullptr;
    const QAbstractItemModel* model = view->model();
    QModelIndex index = model->index(row, 0);
    while (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model)) {
        index = proxy->mapToSource(index);
        model = proxy->sourceModel();
    }
    if (!index.isValid())
        return nullptr;
    if (model == &Lists_.Log())
        return Lists_.Log().EntryAt(index.row());
    if (model == &Lists_.Exceptions())
        return Lists_.Exceptions().EntryAt(index.row());
    if (model == &Lists_.Raw())
        return const_cast<LogEntry*>(Lists_.Raw().EntryAt(index.row()));
    return nullptr;
}

ListFilterModel* MainWindow::FilterOf(const QTableView* view) const {
    if (view == RawView_)
        return RawFilter_;
    if (view == LogView_)
        return LogFilter_;
    if (view == ExceptionsView_)
        return ExceptionsFilter_;
    return nullptr;
}

AccessTableView* MainWindow::CurrentListView() const {
    QWidget* page = Pages_->currentWidget();
    if (page == TabRaw_)
        return RawView_;
    if (page == TabLog_)
        return LogView_;
    if (page == TabExceptions_)
        return ExceptionsView_;
    return nullptr;
}

bool MainWindow::SelectLogRow(int row) {
    // The row of the accesses list as the view shows it; a row that the quick filter hides is
    // not selected.
    const QModelIndex index = LogSort_->mapFromSource(
        LogFilter_->mapFromSource(Lists_.Log().index(row, AccessListModel::ColumnTime)));
    if (!index.isValid())
        return false;
    LogView_->setFocus();
    LogView_->clearSelection();
    LogView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    LogView_->scrollTo(index, QAbstractItemView::EnsureVisible);
    return true;
}

QString MainWindow::StatusText(int panel) const {
    return panel == 0 || panel == 1 ? StatusPanels_[panel]->text() : QString();
}

void MainWindow::SetStatusText(int panel, const QString& text) {
    if (panel == 0 || panel == 1)
        StatusPanels_[panel]->setText(text);
}

QString MainWindow::ServerLabelText() const {
    return ServerLabel_->text();
}

QList<QRect> MainWindow::PopupAvoidAreas() const {
    QList<QRect> areas;
    if (!isVisible() || isMinimized())
        return areas;
    for (const QScrollBar* bar : findChildren<QScrollBar*>()) {
        if (bar->isVisible())
            areas.push_back(QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size()));
    }
    return areas;
}

QSize MainWindow::DefaultSize(const QRect& available) {
    const int width = std::min(std::max(946, available.width() * 2 / 3), available.width());
    const int height = std::min(std::max(638, available.height() * 2 / 3), available.height());
    return {width, height};
}

QRect MainWindow::ClampedGeometry(QRect geometry, const QRect& available, QSize frame) {
    // The whole frame, title bar included, fits into the area.
    geometry.setWidth(std::max(std::min(geometry.width(), available.width() - frame.width()), 1));
    geometry.setHeight(std::max(std::min(geometry.height(), available.height() - frame.height()), 1));
    const int outerWidth = geometry.width() + frame.width();
    const int outerHeight = geometry.height() + frame.height();
    const int left = std::clamp(geometry.x(), available.x(), available.x() + available.width() - outerWidth);
    const int top = std::clamp(geometry.y(), available.y(), available.y() + available.height() - outerHeight);
    geometry.moveTo(left, top);
    return geometry;
}

QString MainWindow::ActionCaption(const QAction* action) const {
    QString caption = action->text();
    caption.remove(QLatin1Char('&'));
    return caption;
}

// ---------------------------------------------------------------------------------------------
// Server tree

void MainWindow::UpdateServerCaption() {
    QString name;
    QString suffix;
    Icon image = Icon::AllServers;
    if (const Server* server = Tree_->SelectedServer()) {
        name = DisplayText(server->Name());
        suffix =
            QStringLiteral(" (%1%2@%3s)")
                .arg(server->TimeDeleteAfter())
                .arg(server->TimeDeleteAfterUnit() == KeepUnit::Hours ? QLatin1Char('h') : QLatin1Char('d'))
                .arg(server->TimeLogPollCycleInMs() / 1000);
        image = Icon::ServerIdle;
    } else {
        name = Tree_->topLevelItemCount() > 0 ? Tree_->topLevelItem(0)->text(0)
                                              : QStringLiteral("Alle Webserver");
    }
    setWindowTitle(
        QString::fromStdString(CaptionWithPrefix(windowTitle().toStdString(), name.toStdString())));
    ServerLabel_->setText(name + suffix + QLatin1Char(' '));
    ServerImage_->setPixmap(IconFor(image).pixmap(16, 16));
}

void MainWindow::TreePressed(Qt::MouseButton button) {
    OnTreePressed(button, QPoint());
}

void MainWindow::OnTreePressed(Qt::MouseButton button, QPoint globalPosition) {
    UpdateActionStates();
    if (button == Qt::LeftButton) {
        UpdateServerCaption();
        ServerTreeItem* node = Tree_->SelectedNode();
        if (node != nullptr && node->ServerRef() != nullptr) {
            Server* server = node->ServerRef();
            ServerTreeView::SetNodeBold(node, false);
            if (server != Lists_.CurrentServer()) {
                Lists_.SetCurrentServer(server);
                RefreshLists();
            }
        } else if (Lists_.CurrentServer() != nullptr) {
            Lists_.SetCurrentServer(nullptr);
            RefreshLists();
        }
    } else if (button == Qt::RightButton && !globalPosition.isNull()) {
        PopupTree_->popup(globalPosition);
    }
}

void MainWindow::OnNodeEdited(QTreeWidgetItem* node, const QString& text) {
    auto* serverNode = dynamic_cast<ServerTreeItem*>(node);
    if (serverNode != nullptr && serverNode->ServerRef() != nullptr) {
        serverNode->ServerRef()->SetName(text.toStdString());
        // Local referring pages are told by the server's name.
        UpdateOverviewScope();
    }
}

Server& MainWindow::AddServer(std::unique_ptr<Server> server) {
    Server& added = Space_.Servers().Add(std::move(server));
    if (Tree_->Root() == nullptr)
        Tree_->Rebuild();
    Tree_->AddServerNode(added);
    Space_.Readers().Start(added);
    return added;
}

// ---------------------------------------------------------------------------------------------
// Lists

void MainWindow::RefreshLists() {
    SetStatusText(0, {});
    Progress_->show();
    Progress_->raise();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    Realtime_->Reset();
    Realtime_->MarkViews(RealtimeMode_->isChecked());
    UpdateServerColumns();
    Lists_.Rebuild();
    UpdateOverviewScope();
    QApplication::restoreOverrideCursor();
    Progress_->hide();
}

void MainWindow::UpdateOverviewScope() {
    const DisplayFilterSettings filters = Space_.Filters().Current();
    std::function<bool(const LogEntry&)> admit = [filters](const LogEntry& entry) {
        return !IsHiddenBy(filters, entry);
    };
    // The quick filter narrows the counts as it narrows the accesses list: the same pattern over
    // the same cells.
    if (LogFilter_ != nullptr && LogFilter_->Hiding()) {
        std::vector<EntryCell> cells;
        for (int column = 0; column < LogFilter_->columnCount(); ++column)
            if (const auto cell = LogFilter_->SearchedCell(column))
                cells.push_back(*cell);
        std::shared_ptr<const TextPattern> pattern = LogFilter_->CurrentFilter().Pattern;
        auto matcher = std::make_shared<EntryMatcher>(*pattern, cells, Space_.Spiders());
        admit = [filters, pattern, matcher](const LogEntry& entry) {
            return !IsHiddenBy(filters, entry) && matcher->Matches(entry);
        };
    }
    Overview_->SetFilter(Lists_.CurrentServer(), std::move(admit));
}

namespace {

// A text that a regular expression matches literally: its special characters escaped, so that a
// user reads the page in the field as it is.
QString LiteralPattern(const QString& text) {
    static const QString special = QStringLiteral("\\.^$|?*+()[]{}");
    QString pattern;
    for (const QChar c : text) {
        if (special.contains(c))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    return pattern;
}

} // namespace

void MainWindow::SetQuickFilterTo(int column, const QString& text, bool regex, bool caseSensitive) {
    Pages_->setCurrentWidget(TabLog_);
    // The bar offers the accesses list's columns with this one chosen, then takes the text.
    const ListFilterModel::Filter now = LogFilter_->CurrentFilter();
    LogFilter_->SetFilter({now.Pattern, column, now.MarkOnly});
    UpdateQuickFilterColumns();
    QuickFilterBar::State state = QuickFilter_->CurrentState();
    state.Text = text;
    state.Regex = regex;
    state.CaseSensitive = caseSensitive;
    state.MarkOnly = false;
    QuickFilter_->SetState(state);
    ApplyQuickFilter();
    LogView_->setFocus();
}

void MainWindow::OverviewRowActivated(SummaryPanel panel, std::int32_t number, const std::string& text) {
    const QString key = DisplayText(text);
    switch (panel) {
    case SummaryPanel::Clients:
        // The one-address view of the client.
        Space_.Filters().SetShownAddress(text);
        Pages_->setCurrentWidget(TabLog_);
        RefreshLists();
        UpdateActionStates();
        return;
    case SummaryPanel::Status:
        SetQuickFilterTo(AccessListModel::ColumnStatus, QStringLiteral("^%1( |$)").arg(number), true, true);
        return;
    case SummaryPanel::Pages:
    case SummaryPanel::Documents:
    case SummaryPanel::NotFound:
        // The page with any query.
        SetQuickFilterTo(AccessListModel::ColumnPage, QStringLiteral("^%1(\\?|$)").arg(LiteralPattern(key)),
                         true, true);
        return;
    case SummaryPanel::Referers:
        SetQuickFilterTo(AccessListModel::ColumnReferer,
                         QStringLiteral("(^|//|@)%1([:/?#]|$)").arg(LiteralPattern(key)), true, false);
        return;
    case SummaryPanel::Spiders:
        SetQuickFilterTo(AccessListModel::ColumnHost, key, false, false);
        return;
    case SummaryPanel::Agents:
    case SummaryPanel::Exceptions:
        break;
    }
    // No text of a cell tells a browser group or an exception kind: the newest access behind the
    // row is selected in its list.
    const bool exceptions = panel == SummaryPanel::Exceptions;
    Pages_->setCurrentWidget(exceptions ? TabExceptions_ : TabLog_);
    AccessTableView* view = exceptions ? ExceptionsView_ : LogView_;
    AccessSummary keys(Space_.Spiders());
    int newestRow = -1;
    DateTime newest;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const LogEntry* entry = EntryAtViewRow(view, row);
        if (entry == nullptr || !keys.HasKey(*entry, panel, number, text))
            continue;
        if (newestRow < 0 || newest < entry->Time) {
            newestRow = row;
            newest = entry->Time;
        }
    }
    if (newestRow < 0) {
        SetStatusText(0, QStringLiteral("Kein passender Zugriff in der Liste"));
        return;
    }
    view->setFocus();
    const QModelIndex index = view->model()->index(newestRow, 0);
    view->selectionModel()->setCurrentIndex(index,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index, QAbstractItemView::EnsureVisible);
    UpdateActionStates();
}

void MainWindow::ListPressed(QTableView* view, Qt::MouseButton button) {
    OnListPressed(view, button, QPoint());
}

void MainWindow::OnListPressed(QTableView* view, Qt::MouseButton button, QPoint globalPosition) {
    UpdateActionStates();
    if (button == Qt::LeftButton) {
        ShowSelectionStatistics(view);
    } else if (button == Qt::RightButton && !globalPosition.isNull()) {
        QMenu* menu = view == LogView_          ? PopupListLog_
                      : view == ExceptionsView_ ? PopupListExceptions_
                                                : nullptr;
        if (menu != nullptr)
            menu->popup(globalPosition);
    }
}

void MainWindow::ShowSelectionStatistics(QTableView* view) {
    std::int64_t rows = 0;
    std::int64_t bytes = 0;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
        const LogEntry* entry = EntryAtViewRow(view, index.row());
        ++rows;
        if (entry != nullptr && entry->Access() != nullptr)
            bytes += entry->Access()->Bytes;
    }
    SetStatusText(0, QStringLiteral("%1 Objekt(e) ausgewählt, %2 Bytes übertragen")
                         .arg(Thousands(rows), Thousands(bytes)));
}

// ---------------------------------------------------------------------------------------------
// Action handlers

void MainWindow::RunServerExecute() {
    if (Server* server = Tree_->SelectedServer())
        server->SetActive(!server->Active());
    UpdateActionStates();
}

void MainWindow::OpenObjectExecute() {
    const LogEntry* entry = SelectedLogEntry();
    if (entry == nullptr || entry->Access() == nullptr || entry->Server == nullptr)
        return;
    const LinePin pin(*entry);
    const std::string_view page = entry->Access()->Page();
    const std::string server = entry->Server->Name();
    // The page from the log never chooses the host: it is a path on the server or nothing.
    if (page.empty() || page.front() != '/') {
        MessageBox::Error(this,
                          QStringLiteral("Die Seite \"%1\" beginnt nicht mit \"/\" und wird daher nicht "
                                         "als Seite des Servers \"%2\" geöffnet.")
                              .arg(DisplayText(page), DisplayText(server)));
        return;
    }
    const std::optional<QUrl> url = ObjectUrl(server, page);
    if (!url) {
        MessageBox::Error(this, QStringLiteral("Der Servername \"%1\" ist kein Rechnername; die Seite \"%2\" "
                                               "kann nicht geöffnet werden.")
                                    .arg(DisplayText(server), DisplayText(page)));
        return;
    }
    OpenAddress(this, *url);
}

void MainWindow::OpenRefererExecute() {
    const LogEntry* entry = SelectedLogEntry();
    if (entry == nullptr || entry->Access() == nullptr)
        return;
    const LinePin pin(*entry);
    const std::optional<QUrl> url = RefererUrl(entry->Access()->Referer());
    if (!url) {
        MessageBox::Error(this, QStringLiteral("Die Referenzseite \"%1\" ist keine http- oder https-Adresse "
                                               "und wird nicht geöffnet.")
                                    .arg(DisplayText(entry->Access()->Referer())));
        return;
    }
    OpenAddress(this, *url);
}

ServerEditorDialog& MainWindow::ServerEditor() {
    if (ServerEditor_ == nullptr) {
        ServerEditor_ = new ServerEditorDialog(this);
        ServerEditor_->Prepare(Options_.get());
    }
    return *ServerEditor_;
}

void MainWindow::NewServerExecute() {
    std::unique_ptr<Server> server = ServerEditor().Edit(nullptr);
    if (server) {
        AddServer(std::move(server));
        UpdateActionStates();
    }
}

void MainWindow::EditServerExecute() {
    Server* server = Tree_->SelectedServer();
    if (server == nullptr)
        return;
    ServerEditor().Edit(server);
    if (ServerTreeItem* node = Tree_->NodeOf(*server))
        node->setText(0, DisplayText(server->Name()));
    UpdateServerCaption();
    UpdateActionStates();
}

void MainWindow::DeleteServerExecute() {
    Server* server = Tree_->SelectedServer();
    if (server == nullptr)
        return;
    const QString question =
        QStringLiteral("Sind Sie sicher, den ausgewählten Server \"%1\" aus der Liste löschen zu wollen?")
            .arg(DisplayText(server->Name()));
    // Yes destroys the definition: Enter must not.
    if (!MessageBox::Confirm(this, question, {}, MessageBox::Answer::No))
        return;
    // The readers end first (a reader waiting in a synchronized call is served meanwhile);
    // then the rows let go of the entries, the server's entries leave the queue, and only then
    // the node and the definition go.
    Space_.Readers().StopServer(*server);
    Lists_.ForgetServer(*server);
    Alerts_->ForgetServer(*server);
    Tree_->RemoveServerNode(*server);
    std::unique_ptr<Server> owned = Space_.Servers().Take(server);
    owned.reset();
    Tree_->SelectNode(Tree_->Root());
    RefreshLists();
    UpdateServerCaption();
    UpdateActionStates();
}

void MainWindow::FindPreviousVisitExecute() {
    LogEntry* selected = SelectedLogEntry();
    if (selected == nullptr || selected->Access() == nullptr)
        return;
    LinePin pin(*selected);
    const std::string address(selected->Access()->HostName());
    EntryQueue& queue = Space_.Entries();
    for (LogEntry* entry = queue.Prev(selected); entry != nullptr; entry = queue.Prev(entry)) {
        if (entry->Access() == nullptr || !Lists_.Log().HasRow(*entry))
            continue;
        pin.Reach(*entry);
        if (!EqualsAsciiIgnoreCase(entry->Access()->HostName(), address))
            continue;
        const int row = Lists_.Log().RowOf(entry);
        if (row >= 0 && SelectLogRow(row))
            return;
    }
    MessageBox::Warning(this,
                        QStringLiteral("Es konnte kein weiter in der Vergangenheit liegender Besuch der "
                                       "Absenderadresse \"%1\" gefunden werden.")
                            .arg(DisplayText(address)));
}

void MainWindow::ShowOneAddressExecute() {
    if (Space_.Filters().ShownAddress().empty()) {
        const LogEntry* entry = SelectedLogEntry();
        if (entry != nullptr && entry->Access() != nullptr) {
            const LinePin pin(*entry);
            Space_.Filters().SetShownAddress(std::string(entry->Access()->HostName()));
            RefreshLists();
        }
    } else {
        Space_.Filters().SetShownAddress({});
        RefreshLists();
    }
    UpdateActionStates();
}

void MainWindow::ToggleStyleExecute(const char* key) {
    Styles_->SetValue(key, !Styles_->Bool(key));
    UpdateActionStates();
    RefreshLists();
}

void MainWindow::ShowInfoTipsExecute() {
    Styles_->SetValue("ShowInfoTips", !Styles_->Bool("ShowInfoTips"));
    UpdateActionStates();
}

void MainWindow::HideWordsExecute() {
    if (Styles_->Bool("ListViewHideWords")) {
        Styles_->SetValue("ListViewHideWords", false);
        RefreshLists();
    } else {
        QString words = QString::fromStdString(Styles_->Text("ListViewHideWordsWords"));
        if (InputText(this, ActionCaption(HideWords_),
                      QStringLiteral("Wörter eingeben, die ausgeblendet werden sollen"), words,
                      QStringLiteral("Einzelne Wörter werden durch Kommata getrennt."))) {
            Styles_->SetValue("ListViewHideWordsWords", words.toStdString());
            Styles_->SetValue("ListViewHideWords", true);
            RefreshLists();
        }
    }
    UpdateActionStates();
}

void MainWindow::AddSpiderExecute(QAction* sender) {
    const LogEntry* entry = SelectedExceptionEntry();
    if (entry == nullptr || entry->Access() == nullptr)
        return;
    const LinePin pin(*entry);
    QString domain = DisplayText(entry->Access()->HostName());
    if (InputText(this, ActionCaption(AddSpider_), QStringLiteral("Domäne der (Nicht-)Suchmaschine eingeben"),
                  domain, QStringLiteral("Nur neue Protokolleinträge werden berücksichtigt"))) {
        Space_.Spiders().Add(domain.toStdString(), sender == AddNoSpider_);
        RefreshLists();
    }
}

void MainWindow::AddDocumentExecute() {
    const LogEntry* entry = SelectedLogEntry();
    if (entry != nullptr && entry->Access() != nullptr && SelectedRowCount(LogView_) == 1) {
        const LinePin pin(*entry);
        Space_.Documents().Add(DocumentExtension(entry->Access()->PageWithoutQuery()));
    }
    UpdateActionStates();
}

void MainWindow::AddBuddyExecute() {
    const LogEntry* entry = SelectedLogEntry();
    if (entry != nullptr && entry->Access() != nullptr && SelectedRowCount(LogView_) == 1) {
        const LinePin pin(*entry);
        Space_.Buddies().Add(entry->Access()->HostName());
    }
    UpdateActionStates();
}

void MainWindow::HelpButtonClicked() {
    HelpExecute(true);
}

void MainWindow::HelpExecute(bool fromToolBar) {
    HelpTopic topic = HelpTopic::General;
    if (fromToolBar) {
        const QWidget* page = Pages_->currentWidget();
        topic = page == TabRaw_          ? HelpTopic::RawLines
                : page == TabExceptions_ ? HelpTopic::Exceptions
                                         : HelpTopic::Accesses;
    }
    HelpViewer().ShowTopic(this, topic);
}

void MainWindow::InfoExecute() {
    AboutBox().ShowModal();
}

AboutDialog& MainWindow::AboutBox() {
    if (AboutBox_ == nullptr)
        AboutBox_ = new AboutDialog(this);
    return *AboutBox_;
}

// ---------------------------------------------------------------------------------------------
// Quick filter, sort, copy and export

void MainWindow::CreateQuickFilter(QWidget* parent) {
    RawFilter_ = new ListFilterModel(Space_.Spiders(), this);
    RawFilter_->SetSource(
        &Lists_.Raw(), [this](int row) { return Lists_.Raw().EntryAt(row); },
        [](int column) { return column == 0 ? std::optional<EntryCell>(EntryCell::Line) : std::nullopt; });
    LogFilter_ = new ListFilterModel(Space_.Spiders(), this);
    LogFilter_->SetSource(
        &Lists_.Log(), [this](int row) { return Lists_.Log().EntryAt(row); }, &AccessListModel::CellOfColumn);
    ExceptionsFilter_ = new ListFilterModel(Space_.Spiders(), this);
    ExceptionsFilter_->SetSource(
        &Lists_.Exceptions(), [this](int row) { return Lists_.Exceptions().EntryAt(row); },
        &ExceptionListModel::CellOfColumn);
    // Sorted above the filter: the filter keeps its positions in the list's time order.
    LogSort_ = new ListSortModel(this);
    LogSort_->SetSource(LogFilter_, [this](int column, int a, int b) {
        const QModelIndex left = LogFilter_->mapToSource(LogFilter_->index(a, column));
        const QModelIndex right = LogFilter_->mapToSource(LogFilter_->index(b, column));
        return Lists_.Log().CompareRows(column, left.row(), right.row());
    });
    LogSort_->SetPrepare([this](int column) { Lists_.Log().PrepareCompare(column); });

    QuickFilter_ = new QuickFilterBar(parent);
    connect(QuickFilter_, &QuickFilterBar::FilterChanged, this, [this] { ApplyQuickFilter(); });
    connect(QuickFilter_, &QuickFilterBar::ColumnChanged, this, [this] { ApplyQuickFilter(); });
    connect(QuickFilter_, &QuickFilterBar::NextMatchRequested, this,
            [this](bool backwards) { NextQuickFilterMatch(backwards); });
    connect(QuickFilter_, &QuickFilterBar::Left, this, [this] {
        if (AccessTableView* view = CurrentListView())
            view->setFocus(Qt::ShortcutFocusReason);
    });
    for (ListFilterModel* filter : {RawFilter_, LogFilter_, ExceptionsFilter_}) {
        connect(filter, &ListFilterModel::CountsChanged, this, [this, filter] {
            if (filter == FilterOf(CurrentListView()))
                UpdateQuickFilterCounts();
        });
        connect(filter, &ListFilterModel::ProgressChanged, this, [this, filter](int done, int total) {
            if (filter == FilterOf(CurrentListView()))
                QuickFilter_->SetProgress(done, total, filter->Running());
        });
    }
}

void MainWindow::ApplyQuickFilter() {
    const std::shared_ptr<const TextPattern> pattern = QuickFilter_->Pattern();
    const bool markOnly = QuickFilter_->CurrentState().MarkOnly;
    // The column choice belongs to the visible list; the others search every column.
    AccessTableView* current = CurrentListView();
    bool logChanged = false;
    for (AccessTableView* view : {RawView_, LogView_, ExceptionsView_}) {
        ListFilterModel* filter = FilterOf(view);
        const int column = view == current ? QuickFilter_->ChosenColumn() : -1;
        const ListFilterModel::Filter& now = filter->CurrentFilter();
        if (now.Pattern == pattern && now.Column == column && now.MarkOnly == markOnly)
            continue;
        filter->SetFilter({pattern, column, markOnly});
        view->viewport()->update();
        logChanged = logChanged || view == LogView_;
    }
    UpdateQuickFilterCounts();
    if (logChanged && Overview_ != nullptr)
        UpdateOverviewScope();
}

void MainWindow::UpdateQuickFilterColumns() {
    AccessTableView* view = CurrentListView();
    if (view == nullptr || QuickFilter_ == nullptr)
        return;
    const ListFilterModel* filter = FilterOf(view);
    QStringList names;
    std::vector<int> columns;
    for (int column = 0; column < view->model()->columnCount(); ++column) {
        if (!filter->CellOf(column) || view->isColumnHidden(column))
            continue;
        QString name =
            view->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().trimmed();
        if (name.isEmpty())
            continue;
        names << name;
        columns.push_back(column);
    }
    QuickFilter_->SetColumns(names, columns, filter->CurrentFilter().Column);
    ApplyQuickFilter();
}

void MainWindow::UpdateQuickFilterCounts() {
    const ListFilterModel* filter = FilterOf(CurrentListView());
    if (filter == nullptr) {
        QuickFilter_->SetCounts(0, 0);
        QuickFilter_->SetProgress(0, 0, false);
        return;
    }
    QuickFilter_->SetCounts(filter->MatchCount(), filter->SourceRowCount());
    QuickFilter_->SetProgress(0, filter->SourceRowCount(), filter->Running());
}

void MainWindow::NextQuickFilterMatch(bool backwards) {
    AccessTableView* view = CurrentListView();
    ListFilterModel* filter = FilterOf(view);
    if (view == nullptr || !filter->Active())
        return;
    // From the current row (in the filter's rows, the list's own order) to the next match.
    QModelIndex current = view->currentIndex();
    if (view == LogView_ && current.isValid())
        current = LogSort_->mapToSource(current);
    const int from = current.isValid() ? filter->mapToSource(current).row() : -1;
    const int next = filter->NextMatch(from, backwards);
    if (next < 0)
        return;
    QModelIndex target = filter->mapFromSource(filter->sourceModel()->index(next, 0));
    if (view == LogView_)
        target = LogSort_->mapFromSource(target);
    if (!target.isValid())
        return;
    view->selectionModel()->setCurrentIndex(target,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(target, QAbstractItemView::PositionAtCenter);
}

void MainWindow::UpdateServerColumns() {
    // The Server column tells the rows apart only while every server is shown.
    const bool all = Lists_.CurrentServer() == nullptr;
    const bool changed = LogView_->isColumnHidden(AccessListModel::ColumnServer) == all;
    LogView_->setColumnHidden(AccessListModel::ColumnServer, !all);
    ExceptionsView_->setColumnHidden(ExceptionListModel::ColumnServer, !all);
    if (!changed)
        return;
    LogFilter_->SetHiddenColumns(all ? std::vector<int>{} : std::vector<int>{AccessListModel::ColumnServer});
    ExceptionsFilter_->SetHiddenColumns(all ? std::vector<int>{}
                                            : std::vector<int>{ExceptionListModel::ColumnServer});
    UpdateQuickFilterColumns();
}

void MainWindow::SortLogByColumn(int column) {
    // Ascending, descending, then the time order again ("Nr." counts the arrivals whatever the
    // order).
    QHeaderView* header = LogView_->horizontalHeader();
    if (LogSort_->SortColumn() != column) {
        LogSort_->SetSort(column, Qt::AscendingOrder);
    } else if (LogSort_->SortOrder() == Qt::AscendingOrder) {
        LogSort_->SetSort(column, Qt::DescendingOrder);
    } else {
        LogSort_->SetSort(-1, Qt::AscendingOrder);
    }
    header->setSortIndicatorShown(LogSort_->SortColumn() >= 0);
    if (LogSort_->SortColumn() >= 0)
        header->setSortIndicator(column, LogSort_->SortOrder());
}

void MainWindow::CopyExecute() {
    const AccessTableView* view = CurrentListView();
    if (view == nullptr)
        return;
    const QString text = SelectedRowsText(*view);
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void MainWindow::ExportListExecute() {
    const AccessTableView* view = CurrentListView();
    if (view == nullptr)
        return;
    const QString csv = QStringLiteral("CSV (*.csv)");
    const QString jsonLines = QStringLiteral("JSON Lines (*.jsonl)");
    const std::optional<FileChooser::Choice> choice = FileChooser::SaveFile(
        this, QStringLiteral("Liste exportieren"), csv + QStringLiteral(";;") + jsonLines);
    if (!choice || choice->File.isEmpty())
        return;
    const bool json = choice->Filter == jsonLines || choice->File.endsWith(QStringLiteral(".jsonl"));
    try {
        ExportRows(*view, std::filesystem::path(choice->File.toStdString()),
                   json ? TableFormat::JsonLines : TableFormat::Csv);
    } catch (const std::exception& error) {
        MessageBox::Error(this, QStringLiteral("Die Liste konnte nicht exportiert werden: ") +
                                    DisplayText(error.what()));
    }
}

void MainWindow::OutcomeColoursExecute() {
    Styles_->SetValue("ListViewOutcomeColours", !Styles_->Bool("ListViewOutcomeColours"));
    UpdateActionStates();
    for (ListItemDelegate* delegate : Delegates_)
        delegate->SetOutcomeColours(OutcomeColours_->isChecked());
    for (AccessTableView* view : {RawView_, LogView_, ExceptionsView_})
        view->viewport()->update();
}

void MainWindow::RestoreQuickFilter() {
    QuickFilterBar::State state;
    state.Text = QString::fromStdString(Styles_->Text("QuickFilterText"));
    state.Regex = Styles_->Bool("QuickFilterRegex");
    state.CaseSensitive = Styles_->Bool("QuickFilterCaseSensitive");
    state.MarkOnly = Styles_->Bool("QuickFilterMarkOnly");
    QuickFilter_->SetState(state);
    ApplyQuickFilter();
}

void MainWindow::StoreQuickFilter() {
    const QuickFilterBar::State state = QuickFilter_->CurrentState();
    Styles_->SetValue("QuickFilterText", state.Text.toStdString());
    Styles_->SetValue("QuickFilterRegex", state.Regex);
    Styles_->SetValue("QuickFilterCaseSensitive", state.CaseSensitive);
    Styles_->SetValue("QuickFilterMarkOnly", state.MarkOnly);
}

} // namespace kavel::ui
