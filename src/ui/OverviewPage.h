#pragma once

#include "acquisition/SummaryTracker.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QDialog;
class QGridLayout;
class QLabel;
class QTableView;

namespace kavel {
class EntryQueue;
class LogEntry;
class Server;
class SpiderList;
} // namespace kavel

namespace kavel::ui {

class MinuteChart;
class OverviewPanelModel;
class StatusShareBar;

// The page "Übersicht": totals, the share of each status class, accesses and errors per minute
// and the top lists of the entries in scope (a server or all, the span, what the display filters
// let through). A SummaryTracker keeps the counts: a take-over adds the new entries at once and an
// entry that leaves subtracts, while the widgets show the counts once a second while the page is
// shown. A new scope, or a span that the clock moved on, recounts in slices on the event loop;
// the last complete counts stay on the screen until the recount ends. Main thread only.
class OverviewPage final : public QWidget {
public:
    // A double-click on a panel row: the key of the row.
    using RowActivated =
        std::function<void(SummaryPanel panel, std::int32_t number, const std::string& text)>;

    // The spiders list names the spiders counted; both must outlive the page.
    OverviewPage(EntryQueue& queue, const SpiderList& spiders, QWidget* parent = nullptr);
    ~OverviewPage() override;

    // One server (none: all) and the caller's test of each entry; a recount follows. The test
    // must decide alike for an entry until the next call.
    void SetFilter(const Server* server, std::function<bool(const LogEntry&)> admit);
    SummarySpan Span() const { return Span_; }
    // The span choice, as the user makes it: a recount follows.
    void SetSpan(SummarySpan span);
    // The stored choices, before the first count.
    void SetChoices(SummarySpan span, bool documentsOnly);
    bool DocumentsOnly() const;
    void SetOnRowActivated(RowActivated activated) { Activated_ = std::move(activated); }

    // After a take-over: the new entries count at once, shown at the next refresh.
    void EntriesTakenOver();
    // Before an entry leaves the queue.
    void Forget(const LogEntry& entry);
    // Before the queue is emptied: the page stops following it.
    void Release();

    // The widgets show the counts as they are now.
    void Refresh();
    // The rest of a recount at once (tests).
    void FinishRecount();
    const SummaryTracker* Tracker() const { return Tracker_.get(); }
    // The table of a panel (pages: of documents or of every request, as the toggle says).
    OverviewPanelModel* PanelModel(SummaryPanel panel) const;
    // "mehr...": the panel's whole table in a window of its own, kept up to date while it is open.
    QDialog* ShowWholePanel(SummaryPanel panel);
    // The longest run of one recount slice so far, in milliseconds.
    double LongestSliceMs() const { return LongestSliceMs_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Panel;
    void CreatePanels(QGridLayout* grid, QWidget* content);
    void Recount();
    void RunSlice();
    void Tick();
    void ShowPanel(Panel& panel);
    Panel& PanelFor(SummaryPanel panel);
    const Panel* PanelOf(SummaryPanel panel) const;

    std::unique_ptr<SummaryTracker> Tracker_;
    const Server* Server_ = nullptr;
    std::function<bool(const LogEntry&)> Admit_;
    SummarySpan Span_ = SummarySpan::LastHour;
    RowActivated Activated_;
    // The counts changed since the widgets last showed them.
    bool Dirty_ = true;
    double LongestSliceMs_ = 0;

    QComboBox* SpanChoice_ = nullptr;
    QLabel* Totals_ = nullptr;
    QLabel* State_ = nullptr;
    StatusShareBar* Shares_ = nullptr;
    MinuteChart* Chart_ = nullptr;
    QCheckBox* DocumentsOnly_ = nullptr;
    std::vector<std::unique_ptr<Panel>> Panels_;
    QTimer SliceTimer_;
    QTimer RefreshTimer_;
};

} // namespace kavel::ui
