#include "ui/AccessLists.h"

#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "parsing/SuspiciousRequests.h"

#include <algorithm>
#include <vector>

namespace kavel::ui {

AccessLists::AccessLists(Workspace& space)
    : Space_(space)
    , Raw_(space)
    , Log_(space)
    , Exceptions_(space) {
    PublishTimer_.setSingleShot(true);
    PublishTimer_.callOnTimeout(&PublishTimer_, [this] { Publish(); });
}

void AccessLists::ClearLists() {
    NewUpdate();
    ++RemovalStamp_;
    if (Hooks_.ResetTransferTotals)
        Hooks_.ResetTransferTotals();
    // The rows and their references go before any entry is freed.
    Raw_.Clear();
    Log_.Clear();
    Exceptions_.Clear();
    EntryQueue& queue = Space_.Entries();
    for (LogEntry* entry = queue.First(); entry != nullptr;) {
        LogEntry* next = queue.Next(entry);
        if (IsExpired(*entry)) {
            if (Hooks_.EntryRemoved)
                Hooks_.EntryRemoved(*entry);
            queue.Remove(entry);
        }
        entry = next;
    }
    if (Hooks_.ClearUseMeter)
        Hooks_.ClearUseMeter();
}

bool AccessLists::CheckExceptions(LogEntry& entry) {
    // A queued access keeps what the rules read of its texts, so that rebuilding the lists reads
    // no line; one made otherwise is read in queue order, one block after the other.
    if (entry.Access() != nullptr && entry.Access()->RequestFacts() == 0)
        CheckPin_.Reach(entry);
    const SuspicionCheck check = CheckSuspiciousCode(entry.Access(), Space_.Spiders());
    if (check.Code == suspicion_code::None)
        return false;
    Exceptions_.Add(entry, check.Code, IconOf(check.Kind));
    return true;
}

void AccessLists::AddEntryToLists(LogEntry& entry, RowPlacement placement) {
    AddEntryToLists(entry, placement, Space_.Filters().Current());
}

void AccessLists::AddEntryToLists(LogEntry& entry, RowPlacement placement,
                                  const DisplayFilterSettings& filters) {
    if (IsHiddenBy(filters, entry)) {
        entry.ListItem = ListHandle::None;
        if (Hooks_.MarkUseMeter)
            Hooks_.MarkUseMeter(entry.Time, true);
        entry.DisplayState = DisplayState::Hidden;
    } else {
        if (Hooks_.MarkUseMeter)
            Hooks_.MarkUseMeter(entry.Time, false);
        entry.DisplayState = DisplayState::Shown;
        const std::int32_t number =
            placement == RowPlacement::Top ? static_cast<std::int32_t>(Log_.Size() + 1) : 0;
        Log_.Add(entry, number);
    }
    Raw_.Add(entry);
}

void AccessLists::Publish() {
    PublishTimer_.stop();
    LastPublish_ = std::chrono::steady_clock::now();
    Raw_.Publish();
    Log_.Publish();
    Exceptions_.Publish();
    // A node shows its server's count once per publish, not once per notification: its text is
    // the same when it is set for the last entry only.
    std::vector<Server*> servers;
    servers.swap(NewServers_);
    if (Hooks_.MarkServerNew)
        for (Server* server : servers)
            Hooks_.MarkServerNew(*server);
    if (Hooks_.Published)
        Hooks_.Published();
}

void AccessLists::PublishSoon() {
    const auto since = std::chrono::steady_clock::now() - LastPublish_;
    if (since >= PublishInterval_) {
        Publish();
        return;
    }
    if (!PublishTimer_.isActive())
        PublishTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(PublishInterval_ - since));
}

void AccessLists::AppendEntries(LogEntry* first) {
    Fill(first);
    Publish();
}

void AccessLists::Fill(LogEntry* first) {
    ++FillDepth_;
    struct Leave {
        int& Depth;
        ~Leave() { --Depth; }
    } leave{FillDepth_};
    EntryQueue& queue = Space_.Entries();
    if (Hooks_.ProgressStart)
        Hooks_.ProgressStart(queue.Count());
    const std::uint64_t stamp = NewUpdate();
    int position = 0;
    auto lastEvents = std::chrono::steady_clock::now();
    // Read once, and again after the window processed messages: looking the switches up for
    // every entry cost a take-over of the log's history more than adding its rows.
    DisplayFilterSettings filters = Space_.Filters().Current();
    for (LogEntry* entry = first; entry != nullptr;) {
        ++position;
        if (UpdateStamp_ != stamp)
            break;
        if (CurrentServer_ != nullptr && entry->Server != CurrentServer_) {
            entry->DisplayState = DisplayState::NotShown;
        } else {
            CheckExceptions(*entry);
            AddEntryToLists(*entry, RowPlacement::Top, filters);
            if (Hooks_.AddToTransferTotals)
                Hooks_.AddToTransferTotals(*entry);
        }
        if (entry->IsNew.load()) {
            if (entry->Server != nullptr &&
                std::find(NewServers_.begin(), NewServers_.end(), entry->Server) == NewServers_.end())
                NewServers_.push_back(entry->Server);
            entry->IsNew.store(false);
        }
        if (position % 10 == 0 && Hooks_.ProcessEvents) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastEvents >= EventInterval_) {
                if (Hooks_.Progress)
                    Hooks_.Progress(position);
                // Published before the window processes messages, which may delete a server.
                Publish();
                Hooks_.ProcessEvents();
                lastEvents = std::chrono::steady_clock::now();
                filters = Space_.Filters().Current();
                // A newer update may have freed entries: this one must not be touched again.
                if (UpdateStamp_ != stamp)
                    break;
            }
        }
        entry = queue.Next(entry);
    }
    if (Hooks_.Progress)
        Hooks_.Progress(position);
}

void AccessLists::TakeOverEntries(LogEntry& first) {
    if (Hooks_.RealtimeMode && Hooks_.RealtimeMode() && Hooks_.BuildRealtimeView) {
        Hooks_.BuildRealtimeView();
        return;
    }
    Fill(&first);
    PublishSoon();
}

void AccessLists::Rebuild() {
    ClearLists();
    if (Hooks_.RealtimeMode && Hooks_.RealtimeMode() && Hooks_.BuildRealtimeView) {
        Hooks_.BuildRealtimeView();
    } else {
        // Every entry has a raw row and at most one access row: the rows grow once.
        const auto count = static_cast<std::size_t>(std::max(Space_.Entries().Count(), 0));
        Raw_.Reserve(count);
        Log_.Reserve(count);
        Fill(Space_.Entries().First());
    }
    Publish();
    Raw_.ShrinkToFit();
    Log_.ShrinkToFit();
}

void AccessLists::ForgetServer(Server& server) {
    ClearLists();
    ++RemovalStamp_;
    EntryQueue& queue = Space_.Entries();
    for (LogEntry* entry = queue.First(); entry != nullptr;) {
        LogEntry* next = queue.Next(entry);
        if (entry->Server == &server) {
            if (Hooks_.EntryRemoved)
                Hooks_.EntryRemoved(*entry);
            queue.Remove(entry);
        }
        entry = next;
    }
    NewServers_.erase(std::remove(NewServers_.begin(), NewServers_.end(), &server), NewServers_.end());
    if (CurrentServer_ == &server)
        CurrentServer_ = nullptr;
}

} // namespace kavel::ui

namespace kavel::ui {

void AccessLists::RemoveEntries(const std::vector<LogEntry*>& leaving) {
    if (leaving.empty())
        return;
    Publish();
    // Rows exist only for entries that are hidden or shown: marked as not shown, the leaving
    // entries are told from the others by one look at each row.
    for (LogEntry* entry : leaving)
        entry->DisplayState = DisplayState::NotShown;
    const auto isLeaving = [](const LogEntry& entry) { return entry.DisplayState == DisplayState::NotShown; };
    Raw_.RemoveRowsIf(isLeaving);
    Log_.RemoveRowsIf(isLeaving);
    Exceptions_.RemoveRowsIf(isLeaving);
    EntryQueue& queue = Space_.Entries();
    for (LogEntry* entry : leaving) {
        if (Hooks_.EntryRemoved)
            Hooks_.EntryRemoved(*entry);
        queue.Remove(entry);
    }
}

} // namespace kavel::ui
