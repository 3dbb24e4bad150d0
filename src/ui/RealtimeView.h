#pragma once

#include "platform/DateTime.h"

#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

namespace kavel {
class LogEntry;
} // namespace kavel

namespace kavel::ui {

class AccessLists;

// The live view of the accesses list: only the accesses of the last few minutes, and of each
// client host only its latest document access and what it fetched after it. Rows leave the
// list again when their server's realtime window has passed. Main thread only.
class RealtimeView {
public:
    struct Hooks {
        // A stroke of the use meter (weak for an access outside the window).
        std::function<void(DateTime time, bool weak)> MarkUseMeter;
        // Whether realtime mode is on.
        std::function<bool()> Enabled;
    };

    RealtimeView(AccessLists& lists, QObject* timerParent);

    void SetHooks(Hooks hooks) { Hooks_ = std::move(hooks); }
    // The lists whose background marks the realtime view.
    void SetViews(QWidget* log, QWidget* exceptions);

    // BuildRealtimeView.
    void Build();
    // ApplyRealtimeSet: the lists are rebuilt from the set only when it differs from the rows
    // shown; true when they were.
    bool Apply(std::vector<LogEntry*> set);
    // DropExpiredRealtimeRows, also what the one-shot timer runs.
    void DropExpiredRows();
    // An entry is about to leave the queue: it is no longer shown or compared.
    void Forget(const LogEntry& entry);
    // RefreshLists empties the rows so that the next build shows its set.
    void Reset() { Rows_.clear(); }
    // The tool-tip background in realtime mode, the normal base colour otherwise.
    void MarkViews(bool realtime);

    // The window of the next build in minutes: the current server's, or the smallest of the
    // Options default and every server's.
    std::int32_t WindowMinutes() const;
    const std::vector<LogEntry*>& Rows() const { return Rows_; }
    QTimer& Timer() { return Timer_; }

private:
    AccessLists& Lists_;
    Hooks Hooks_;
    QTimer Timer_;
    std::vector<LogEntry*> Rows_;
    // The set being applied; entries that ClearLists removes leave it before they are shown.
    std::vector<LogEntry*> Applying_;
    QWidget* LogView_ = nullptr;
    QWidget* ExceptionsView_ = nullptr;
};

} // namespace kavel::ui
