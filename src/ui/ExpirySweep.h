#pragma once

#include "platform/DateTime.h"

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kavel {
class LogEntry;
class Server;
} // namespace kavel

namespace kavel::ui {

class AccessLists;

// Takes the entries that their keep period no longer holds out of the queue while the window
// is left alone, as a rebuild of the lists would: every minute (TimerExpiry), and when a
// reader's notification arrives after a quiet minute. A sweep walks the queue in slices on the
// event loop, then removes the expired entries with their rows in one step; the window updates
// what shows them (totals, use meter, node counts) in the hooks. Main thread only.
class ExpirySweep {
public:
    struct Result {
        // The servers that lost entries: their nodes' counts changed.
        std::vector<Server*> Servers;
        // Whether an entry of the current view went (its row, its stroke, its bytes).
        bool ViewChanged = false;
        // The time of the oldest entry left in the current view, none when it is empty.
        std::optional<DateTime> OldestInView;
    };
    struct Hooks {
        // An entry of the current view is about to leave the queue.
        std::function<void(const LogEntry& entry)> Leaving;
        // After a sweep that removed entries.
        std::function<void(const Result& result)> Swept;
    };

    ExpirySweep(AccessLists& lists, QObject* timerParent);

    void SetHooks(Hooks hooks) { Hooks_ = std::move(hooks); }
    // The timer runs from now on; Stop ends it and any sweep in progress (the window closes).
    void Start();
    void Stop();
    // A reader's notification was taken over: a sweep starts when none began for a whole
    // interval (by the clock).
    void NoteNotification();
    // Starts a sweep unless one is running; it runs from the event loop.
    void SweepSoon();
    bool Running() const { return Running_; }
    std::uint64_t SweepCount() const { return Sweeps_; }

    // The timer's period and the quiet time before a notification starts a sweep.
    void SetInterval(std::chrono::milliseconds interval);
    // How long one slice may walk before the event loop gets its turn.
    void SetSliceTime(std::chrono::milliseconds time) { SliceTime_ = time; }
    QTimer& Timer() { return Timer_; }

private:
    void Begin();
    void Slice();
    void End();

    AccessLists& Lists_;
    Hooks Hooks_;
    QTimer Timer_;
    // Runs the next slice from the event loop.
    QTimer Continue_;
    std::chrono::milliseconds Interval_{std::chrono::minutes{1}};
    std::chrono::milliseconds SliceTime_{20};
    bool Stopped_ = true;
    bool Running_ = false;
    std::uint64_t Sweeps_ = 0;
    // By the clock: when the last sweep began, and the "now" of the running one.
    std::optional<DateTime> LastBegin_;
    DateTime Now_;
    // The walk: the next entry to look at, the expired ones so far, the oldest time kept in
    // the view, and the entries that were still new when passed (taken over later, they count).
    LogEntry* Next_ = nullptr;
    std::vector<LogEntry*> Leaving_;
    std::optional<DateTime> OldestInView_;
    std::vector<LogEntry*> PassedNew_;
    std::uint64_t RemovalStamp_ = 0;
};

} // namespace kavel::ui
