#pragma once

#include "acquisition/DisplayFilters.h"
#include "base/LineBlocks.h"
#include "platform/DateTime.h"
#include "ui/AccessListModels.h"

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace kavel {
class LogEntry;
class Server;
class Workspace;
} // namespace kavel

namespace kavel::ui {

// Where AddEntryToLists puts an access row: the normal view adds on top with a "Nr.", the
// realtime view at the end without one. Both lists keep their time order either way.
enum class RowPlacement { Top, End };

// How the queue entries become rows of the three lists, without the widgets: the
// main window shows the models and supplies the hooks (event processing, progress bar, tree
// nodes, use meter and totals). Main thread only.
//
// Every operation that may free entries (ClearLists, ForgetServer) starts a new update first,
// so that a loop that processed window messages meanwhile ends before it touches an entry again.
class AccessLists {
public:
    struct Hooks {
        // Pending window messages, between batches of a long loop.
        std::function<void()> ProcessEvents;
        // The progress bar of the lists: its maximum, then the position.
        std::function<void(int maximum)> ProgressStart;
        std::function<void(int position)> Progress;
        // MarkServerNodeNew for an entry taken over while it was still new.
        std::function<void(Server& server)> MarkServerNew;
        // A stroke of the use meter (weak for an access hidden by a filter), the
        // transfer totals, and their reset.
        std::function<void(DateTime time, bool weak)> MarkUseMeter;
        std::function<void(const LogEntry& entry)> AddToTransferTotals;
        std::function<void()> ResetTransferTotals;
        std::function<void()> ClearUseMeter;
        // Builds the realtime view; none falls back to the normal view.
        std::function<void()> BuildRealtimeView;
        // Whether realtime mode is on.
        std::function<bool()> RealtimeMode;
        // An entry is about to leave the queue (expired, or its server deleted).
        std::function<void(const LogEntry& entry)> EntryRemoved;
        // The views just got their rows: what else shows the taken-over entries (the status
        // texts) catches up with them here.
        std::function<void()> Published;
    };

    // The lists of the workspace's entries.
    explicit AccessLists(Workspace& space);
    AccessLists(const AccessLists&) = delete;
    AccessLists& operator=(const AccessLists&) = delete;

    Workspace& Space() const { return Space_; }
    void SetHooks(Hooks hooks) { Hooks_ = std::move(hooks); }
    Hooks& GetHooks() { return Hooks_; }

    RawLinesModel& Raw() { return Raw_; }
    AccessListModel& Log() { return Log_; }
    ExceptionListModel& Exceptions() { return Exceptions_; }
    const RawLinesModel& Raw() const { return Raw_; }
    const AccessListModel& Log() const { return Log_; }
    const ExceptionListModel& Exceptions() const { return Exceptions_; }

    // The server whose entries the lists show; none shows all.
    Server* CurrentServer() const { return CurrentServer_; }
    void SetCurrentServer(Server* server) { CurrentServer_ = server; }

    // UpdateStamp: a newer update ends an older loop at its next entry.
    std::uint64_t UpdateStamp() const { return UpdateStamp_; }
    std::uint64_t NewUpdate() { return ++UpdateStamp_; }

    // Totals reset, the rows of all three lists removed (their entries' ListItem cleared),
    // then the expired entries removed from the queue, the use meter cleared.
    void ClearLists();
    // The normal view's take-over of the entries from first on (following Next), shown at once.
    void AppendEntries(LogEntry* first);
    // TakeOverEntries: the realtime view in realtime mode, else AppendEntries, whose rows are
    // shown within the publish interval (PublishSoon).
    void TakeOverEntries(LogEntry& first);
    // One entry into the raw list and, unless a display filter hides it, the accesses list.
    void AddEntryToLists(LogEntry& entry, RowPlacement placement);
    // The same with the filters' settings read by the caller.
    void AddEntryToLists(LogEntry& entry, RowPlacement placement, const DisplayFilterSettings& filters);
    // An exception row for the entry when the detection reports one; true when it did.
    bool CheckExceptions(LogEntry& entry);
    // ClearLists, then the realtime view or AppendEntries from the oldest entry.
    void Rebuild();
    // Hands the rows added since the last call to the views, and marks the nodes of the
    // servers that had new entries among them.
    void Publish();
    // Publish now, unless the views got rows less than the publish interval ago: then at the
    // end of the interval. Readers that notify in a burst cost the views one insertion per
    // interval instead of one per notification.
    void PublishSoon();
    void SetPublishInterval(std::chrono::milliseconds interval) { PublishInterval_ = interval; }
    // Before a server is destroyed (its readers stopped): the rows go, then its entries leave
    // the queue; the server stops being the current one.
    void ForgetServer(Server& server);
    // The entries leave the queue, their rows the lists first (rows still pending are shown
    // before, so that none is left behind); the other rows stay where they are.
    void RemoveEntries(const std::vector<LogEntry*>& leaving);
    // Counts the operations that free entries of others' choosing (ClearLists, ForgetServer):
    // whoever keeps entries across event processing starts over when it changed.
    std::uint64_t RemovalStamp() const { return RemovalStamp_; }
    // Whether a loop that processes window messages between its entries is running.
    bool Filling() const { return FillDepth_ > 0; }

    // How often a long loop lets the window process its messages (checked every 10 entries).
    void SetEventInterval(std::chrono::milliseconds interval) { EventInterval_ = interval; }

private:
    // The rows of the entries from first on, pending until the next Publish.
    void Fill(LogEntry* first);

    Workspace& Space_;
    Hooks Hooks_;
    // Servers with new entries taken over since the last Publish, whose nodes it marks.
    std::vector<Server*> NewServers_;
    RawLinesModel Raw_;
    AccessListModel Log_;
    ExceptionListModel Exceptions_;
    // Keeps the block of the entry checked last readable.
    LinePin CheckPin_;
    Server* CurrentServer_ = nullptr;
    std::uint64_t UpdateStamp_ = 0;
    std::uint64_t RemovalStamp_ = 0;
    int FillDepth_ = 0;
    std::chrono::milliseconds EventInterval_{50};
    std::chrono::milliseconds PublishInterval_{100};
    std::chrono::steady_clock::time_point LastPublish_{};
    QTimer PublishTimer_;
};

} // namespace kavel::ui
