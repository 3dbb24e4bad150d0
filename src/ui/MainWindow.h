#pragma once

#include "acquisition/AccessSummary.h"
#include "acquisition/LogReader.h"
#include "acquisition/ReaderHandshake.h"
#include "config/AppSettings.h"
#include "platform/Dispatcher.h"
#include "ui/AccessLists.h"
#include "ui/Icon.h"
#include "ui/UseMeter.h"

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTableView;
class QTabWidget;
class QToolButton;
class QTreeWidgetItem;

namespace kavel {
class ProgramLifecycle;
class Workspace;
class SettingsStore;
} // namespace kavel

namespace kavel::ui {

class AccessTableView;
class AboutDialog;
class AlertsController;
class ElidedLabel;
class ExpirySweep;
class ListFilterModel;
class ListItemDelegate;
class ListSortModel;
class QuickFilterBar;
class AccessPopup;
class OverviewPage;
class RealtimeView;
class TrayControl;
class ServerEditorDialog;
class ServerTreeView;
class UseMeter;

// FormMain, the application's only main window: the server tree on the left, the
// raw, accesses and exceptions lists on tab pages, the use-meter strip, two tool bars, the
// menu bar and the status bar. Every command is a QAction with its object name
// (findChild<QAction*>("ActionMenuViewHideSpiders")); UpdateActionStates recomputes their
// states in one place.
//
// The window is the main thread's side of the readers: it installs the reader handshake
// (ResumePendingReader as the dispatcher's idle handler from the first idle moment on) and is
// the ReaderView that shows the readers' node images. Create it after the application object,
// the main dispatcher and ProgramLifecycle::CreateObjects; close it before the workspace's
// objects are finished, and call ReleaseListsAndTree before the queue and the servers go.
class MainWindow final : public QMainWindow, public ReaderView {
public:
    struct Setup {
        // Loads the revisitors and the servers at the first idle moment and stops the readers
        // when the window closes.
        ProgramLifecycle* Lifecycle = nullptr;
        // Defaults of the stored layout; none: the designed size and the primary screen.
        std::optional<LayoutDefaults> Layout;
    };

    // Shows and works on the workspace's entries, servers and readers.
    MainWindow(Workspace& space, Setup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    bool FirstIdleDone() const { return FirstIdleDone_; }
    bool Closed() const { return Closed_; }
    SettingsStore* OptionsStore() const { return Options_.get(); }
    SettingsStore* StylesStore() const { return Styles_.get(); }

    // Operations that the tree, the lists and the dialogs use.
    void UpdateActionStates();
    void UpdateServerCaption();
    void RefreshLists();
    // For the server editor: the definition joins ServerList, gets its
    // node and its reader.
    Server& AddServer(std::unique_ptr<Server> server);
    // Before the queue and the servers are finished: the lists and the tree let go of them.
    void ReleaseListsAndTree();
    // Closes the window as the user would and ends the event loop, also from the tray: closing a
    // hidden window does not end it on its own.
    void EndProgram();

    // ReaderView, on the main thread inside a reader's synchronized call.
    void SetServerNodeStatus(Server& server, ServerStatus status) override;
    void ShowPopup(const std::string& text, const std::string& caption, VisitorMark visitor) override;
    // The popup with a text, a caption and an image of the window's own (an alert's).
    void ShowIconPopup(const std::string& text, const std::string& caption, Icon image);

    // The one server editor of the run, created on first use.
    ServerEditorDialog& ServerEditor();

    Workspace& Space() const { return Space_; }
    // For tests and the program's hooks.
    QAction* Action(const char* name) const;
    AccessLists& Lists() { return Lists_; }
    ReaderHandshake& Handshake() { return Handshake_; }
    ServerTreeView* Tree() const { return Tree_; }
    AccessTableView* RawView() const { return RawView_; }
    AccessTableView* LogView() const { return LogView_; }
    AccessTableView* ExceptionsView() const { return ExceptionsView_; }
    QuickFilterBar* QuickFilter() const { return QuickFilter_; }
    // The quick filter over the list that the view shows.
    ListFilterModel* FilterOf(const QTableView* view) const;
    ListSortModel* LogSort() const { return LogSort_; }
    // The entry of a row as the view shows it (filtered, sorted), or none.
    LogEntry* EntryAtViewRow(const QTableView* view, int row) const;
    UseMeter* Meter() const { return UseMeter_; }
    RealtimeView& Realtime() { return *Realtime_; }
    ExpirySweep& Expiry() { return *Expiry_; }
    // The about box; at program start it fades in and out once (StartFade).
    AboutDialog& AboutBox();
    TrayControl* Tray() const { return Tray_; }
    // The alert rules, their checks and the page "Alarme".
    AlertsController& Alerts() { return *Alerts_; }
    // The new-access popup, once a reader raised it.
    AccessPopup* Popup() const { return Popup_.get(); }
    QTabWidget* Pages() const { return Pages_; }
    // The page "Übersicht".
    OverviewPage* Overview() const { return Overview_; }
    QProgressBar* ProgressBar() const { return Progress_; }
    QString StatusText(int panel) const;
    QString ServerLabelText() const;
    // The areas of the screen that the popup keeps clear of: the visible scroll bars of the
    // window while it is shown (global coordinates).
    QList<QRect> PopupAvoidAreas() const;
    // The size a first start opens at on a screen of this available area: about two thirds of
    // it, never smaller than designed unless the screen is.
    static QSize DefaultSize(const QRect& available);
    // A stored (or default) geometry moved and shrunk into the available area, the window's
    // frame (frameWidth, frameHeight beyond the inner size) included.
    static QRect ClampedGeometry(QRect geometry, const QRect& available, QSize frame);
    QMenu* PopupMenuListLog() const { return PopupListLog_; }
    QMenu* PopupMenuListExceptions() const { return PopupListExceptions_; }
    QMenu* PopupMenuTree() const { return PopupTree_; }
    // What a mouse press on the server tree or on a list does (the node or rows selected
    // beforehand), without opening the context menus.
    void TreePressed(Qt::MouseButton button);
    void ListPressed(QTableView* view, Qt::MouseButton button);
    // The tool bar's help button (the topic follows the visible page).
    void HelpButtonClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateQuickFilter(QWidget* parent);
    // The quick filter's pattern and options onto the three lists.
    void ApplyQuickFilter();
    void UpdateQuickFilterColumns();
    void UpdateQuickFilterCounts();
    void StoreQuickFilter();
    void NextQuickFilterMatch(bool backwards);
    // The Server column only while every server is shown.
    void UpdateServerColumns();
    void CopyExecute();
    void ExportListExecute();
    void OutcomeColoursExecute();
    void SortLogByColumn(int column);
    // The view of the visible page, none on another page.
    AccessTableView* CurrentListView() const;
    void CreateMenus();
    void CreateToolBars();
    void CreateCentralArea();
    void CreateStatusBar();
    void SetUpListView(AccessTableView* view, bool showHeader);
    void ApplyStoredColumnWidths();
    void StoreLayout();
    void ApplyStoredGeometry();
    // What the window manager's frame adds to the window's size; empty until it framed it.
    QSize FrameSize(bool* known = nullptr) const;
    // Once the frame is known: a window whose frame leaves the screen is moved and shrunk into it.
    void CheckFrameFits();
    void InstallListHooks();
    void InstallViewExtras();
    // Expired entries leave while the window is left alone.
    void InstallExpirySweep();
    // A click on the use meter selects the newest access older than the clicked minute.
    void UseMeterClicked(qint64 timeMs);
    // The overview counts what the lists show: the current server and the display filters.
    void UpdateOverviewScope();
    // A double-click on a row of the overview: the lists show the accesses behind it.
    void OverviewRowActivated(SummaryPanel panel, std::int32_t number, const std::string& text);
    // The quick filter set to a text in one column of the accesses list, shown.
    void SetQuickFilterTo(int column, const QString& text, bool regex, bool caseSensitive);

    platform::IdleResult FirstIdle();
    void TakeOverEntries(LogEntry& first);
    void ProcessPendingEvents();

    void OnTreePressed(Qt::MouseButton button, QPoint globalPosition);
    void OnNodeEdited(QTreeWidgetItem* node, const QString& text);
    void OnListPressed(QTableView* view, Qt::MouseButton button, QPoint globalPosition);
    void ShowSelectionStatistics(QTableView* view);

    // The first selected row of a list in list order, or -1; the entry of ListViewLog's.
    static int FirstSelectedRow(const QTableView* view);
    static int SelectedRowCount(const QTableView* view);
    LogEntry* SelectedLogEntry() const;
    LogEntry* SelectedExceptionEntry() const;
    // Selects a row of the accesses list (a row of the model); false when the quick filter
    // hides it.
    bool SelectLogRow(int row);
    void RestoreQuickFilter();
    void SetStatusText(int panel, const QString& text);
    QString ActionCaption(const QAction* action) const;

    // Action handlers.
    void RunServerExecute();
    void OpenObjectExecute();
    void OpenRefererExecute();
    void NewServerExecute();
    void EditServerExecute();
    void DeleteServerExecute();
    void FindPreviousVisitExecute();
    void ShowOneAddressExecute();
    void ToggleStyleExecute(const char* key);
    void ShowInfoTipsExecute();
    void HideWordsExecute();
    void AddSpiderExecute(QAction* sender);
    void AddDocumentExecute();
    void AddBuddyExecute();
    void HelpExecute(bool fromToolBar);
    void InfoExecute();

    Workspace& Space_;
    ProgramLifecycle* Lifecycle_;
    std::unique_ptr<SettingsStore> Options_;
    std::unique_ptr<SettingsStore> Styles_;
    bool FirstIdleDone_ = false;
    // How often CheckFrameFits looked for the frame since the geometry was applied.
    int FrameChecks_ = 0;
    bool Closed_ = false;
    int TakeOverDepth_ = 0;

    AccessLists Lists_;
    ReaderHandshake Handshake_;

    ServerTreeView* Tree_ = nullptr;
    QTabWidget* Pages_ = nullptr;
    QWidget* TabRaw_ = nullptr;
    QWidget* TabLog_ = nullptr;
    QWidget* TabExceptions_ = nullptr;
    OverviewPage* Overview_ = nullptr;
    AccessTableView* RawView_ = nullptr;
    AccessTableView* LogView_ = nullptr;
    AccessTableView* ExceptionsView_ = nullptr;
    // Between the lists and their views: the quick filter over each list, then the column sort
    // of the accesses list.
    ListFilterModel* RawFilter_ = nullptr;
    ListFilterModel* LogFilter_ = nullptr;
    ListFilterModel* ExceptionsFilter_ = nullptr;
    ListSortModel* LogSort_ = nullptr;
    QList<ListItemDelegate*> Delegates_;
    QuickFilterBar* QuickFilter_ = nullptr;
    ElidedLabel* ServerLabel_ = nullptr;
    QLabel* ServerImage_ = nullptr;
    UseMeter* UseMeter_ = nullptr;
    ElidedLabel* StatusPanels_[2] = {nullptr, nullptr};
    QProgressBar* Progress_ = nullptr;
    QToolButton* HelpButton_ = nullptr;
    QMenu* PopupListLog_ = nullptr;
    QMenu* PopupListExceptions_ = nullptr;
    QMenu* PopupTree_ = nullptr;
    AboutDialog* AboutBox_ = nullptr;
    ServerEditorDialog* ServerEditor_ = nullptr;
    std::unique_ptr<RealtimeView> Realtime_;
    std::unique_ptr<ExpirySweep> Expiry_;
    // A window of its own, so that it shows while this one is in the notification area.
    std::unique_ptr<AccessPopup> Popup_;
    TrayControl* Tray_ = nullptr;
    TransferTotals Totals_;
    std::unique_ptr<AlertsController> Alerts_;
    // The totals changed since their text was last shown.
    bool TotalsDue_ = false;

    QAction* RunServer_ = nullptr;
    QAction* OpenObject_ = nullptr;
    QAction* OpenReferer_ = nullptr;
    QAction* Quit_ = nullptr;
    QAction* NewServer_ = nullptr;
    QAction* EditServer_ = nullptr;
    QAction* DeleteServer_ = nullptr;
    QAction* FindPreviousVisit_ = nullptr;
    QAction* RealtimeMode_ = nullptr;
    QAction* ShowOneAddress_ = nullptr;
    QAction* HideNonDocuments_ = nullptr;
    QAction* HideSpiders_ = nullptr;
    QAction* HideWords_ = nullptr;
    QAction* HideLocalReferers_ = nullptr;
    QAction* ResolveDomains_ = nullptr;
    QAction* ShowInfoTips_ = nullptr;
    QAction* AddSpider_ = nullptr;
    QAction* AddNoSpider_ = nullptr;
    QAction* AddDocument_ = nullptr;
    QAction* AddBuddy_ = nullptr;
    QAction* HelpHelp_ = nullptr;
    QAction* HelpInfo_ = nullptr;
    QAction* ExportList_ = nullptr;
    QAction* Copy_ = nullptr;
    QAction* FindQuick_ = nullptr;
    QAction* OutcomeColours_ = nullptr;
};

} // namespace kavel::ui
