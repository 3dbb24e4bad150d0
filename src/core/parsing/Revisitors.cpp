#include "parsing/Revisitors.h"

#include "acquisition/DefinitionFile.h"
#include "acquisition/PoolSystem.h"
#include "acquisition/Queue.h"
#include "config/MainConfig.h"
#include "platform/Paths.h"

#include <atomic>
#include <functional>
#include <shared_mutex>

namespace kavel {

// Entries are owned one by one so that their addresses never move. Every document access
// asks for its address, so the look-up is an open-addressing table of hashes and entry
// pointers: one probe touches one cache line, and only a matching hash reads the entry.
// Look-ups share the lock, so parsers do not wait for each other; only an append takes it
// alone.
struct TRevisitorList::TState {
    struct TSlot {
        std::size_t Hash = 0;
        const TRevisitor* Item = nullptr;
    };

    mutable std::shared_mutex Lock;
    std::vector<std::unique_ptr<TRevisitor>> Items;
    std::vector<TSlot> Table = std::vector<TSlot>(16);
    std::atomic<bool> Loaded{false};

    static std::size_t HashOf(std::string_view address) { return std::hash<std::string_view>{}(address); }

    const TRevisitor* FindLocked(std::string_view address, std::size_t hash) const {
        const std::size_t mask = Table.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const TSlot& slot = Table[i];
            if (!slot.Item)
                return nullptr;
            if (slot.Hash == hash && slot.Item->Address == address)
                return slot.Item;
        }
    }

    void InsertLocked(const TRevisitor* item, std::size_t hash) {
        const std::size_t mask = Table.size() - 1;
        std::size_t i = hash & mask;
        while (Table[i].Item)
            i = (i + 1) & mask;
        Table[i] = {hash, item};
    }

    void GrowLocked() {
        std::vector<TSlot> old(Table.size() * 2);
        old.swap(Table);
        for (const TSlot& slot : old)
            if (slot.Item)
                InsertLocked(slot.Item, slot.Hash);
    }
};

TRevisitorList::TRevisitorList()
    : State_(std::make_unique<TState>()) {}

TRevisitorList::~TRevisitorList() = default;

const TRevisitor* TRevisitorList::Find(std::string_view address) const {
    const std::size_t hash = TState::HashOf(address);
    std::shared_lock lock(State_->Lock);
    return State_->FindLocked(address, hash);
}

const TRevisitor* TRevisitorList::Add(std::string_view address, std::string_view hostName) {
    const std::size_t hash = TState::HashOf(address);
    std::unique_lock lock(State_->Lock);
    if (State_->FindLocked(address, hash))
        return nullptr;
    if ((State_->Items.size() + 1) * 2 > State_->Table.size())
        State_->GrowLocked();
    auto& item = State_->Items.emplace_back(
        std::make_unique<TRevisitor>(TRevisitor{std::string(address), std::string(hostName)}));
    State_->InsertLocked(item.get(), hash);
    return item.get();
}

void TRevisitorList::Clear() {
    std::unique_lock lock(State_->Lock);
    State_->Table.assign(16, {});
    State_->Items.clear();
}

std::vector<TRevisitor> TRevisitorList::Items() const {
    std::shared_lock lock(State_->Lock);
    std::vector<TRevisitor> items;
    items.reserve(State_->Items.size());
    for (const auto& item : State_->Items)
        items.push_back(*item);
    return items;
}

std::size_t TRevisitorList::Count() const {
    std::shared_lock lock(State_->Lock);
    return State_->Items.size();
}

bool TRevisitorList::Loaded() const {
    return State_->Loaded.load(std::memory_order_acquire);
}

void TRevisitorList::SetLoaded(bool loaded) {
    State_->Loaded.store(loaded, std::memory_order_release);
}

TRevisitorList& Revisitors() {
    static TRevisitorList list;
    return list;
}

const TRevisitor* FindRevisitor(std::string_view address) {
    return Revisitors().Find(address);
}

bool IsRevisitor(std::string_view address) {
    return Revisitors().Contains(address);
}

const TRevisitor* AddRevisitor(std::string_view address, std::string_view hostName) {
    return Revisitors().Add(address, hostName);
}

namespace {

// The rule with the threshold asked for only when a queued access has to be measured.
template <class Threshold>
void RevisitRule(TFilter& record, const TQueue& entry, const TEntryQueue& queue, TRevisitorList& revisitors,
                 Threshold threshold) {
    if (revisitors.Contains(record.Address())) {
        record.VisitorState = 2;
        return;
    }
    // The walk back through the host's earlier accesses ends at the first one that makes the
    // visitor a revisitor, so the outcome depends only on whether such an access exists:
    // one of a revisitor, or one whose distance exceeds the threshold, and the distance is
    // largest at the earliest or the latest of them.
    bool revisit = false;
    {
        // Held while the summary is read so that the main thread cannot change the chain.
        const auto lock = queue.ReadLock();
        if (const std::optional<TEntryQueue::THostSummary> summary = queue.HostSummary(record.HostName())) {
            record.VisitorState = 1;
            if (summary->AnyRevisitor) {
                revisit = true;
            } else {
                const std::int64_t t = threshold();
                revisit = WholeMinutesBetween(summary->Earliest, entry.Time) > t ||
                          WholeMinutesBetween(summary->Latest, entry.Time) > t;
            }
        }
    }
    if (!revisit)
        return;
    record.VisitorState = 2;
    if (!record.Address().empty() && !record.HostName().empty())
        revisitors.Add(record.Address(), record.HostName());
}

} // namespace

void ApplyRevisitRule(TFilter& record, const TQueue& entry, const TEntryQueue& queue,
                      TRevisitorList& revisitors, std::int32_t thresholdMinutes) {
    RevisitRule(record, entry, queue, revisitors, [thresholdMinutes] { return thresholdMinutes; });
}

void ApplyRevisitRule(TFilter& record, const TQueue& entry) {
    RevisitRule(record, entry, EntryQueue(), Revisitors(), [] { return OptionTimeRevisitorAfterMinutes(); });
}

TRevisitorLoad RevisitorsFromLines(const std::vector<std::string>& lines, TRevisitorList& list) {
    TRevisitorLoad result;
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty() && line[0] == '#')
            continue;
        ExtractStrings(';', line, tokens);
        // A malformed line is skipped rather than ending the reading: the file is rewritten
        // from the list at the end, and the entries after the line would be lost.
        if (tokens.size() < 2) {
            if (!result.FirstMalformedLine)
                result.FirstMalformedLine = i + 1;
            ++result.Malformed;
            continue;
        }
        if (list.Add(tokens[0], tokens[1]))
            ++result.Added;
    }
    return result;
}

namespace {

// Addresses and host names come from log lines. One holding a separator, a quote or a line
// end would not read back as written, and as a malformed line it would end the reading of
// every entry after it; such an entry is left out of the file.
bool ReadsBack(const TRevisitor& item) {
    const auto clean = [](std::string_view text) {
        return !text.empty() && text.find_first_of(";\"'\r\n") == std::string_view::npos;
    };
    return clean(item.Address) && clean(item.HostName) && item.Address[0] != '#';
}

} // namespace

std::string RevisitorsFileText(const std::vector<TRevisitor>& items) {
    std::string text = DefinitionFileHeader("Revisitors", true);
    text += "\r\n";
    for (const TRevisitor& item : items) {
        if (!ReadsBack(item))
            continue;
        text += item.Address;
        text += ';';
        text += item.HostName;
        text += "\r\n";
    }
    return text;
}

TRevisitorLoad LoadRevisitors(const std::filesystem::path& file, TRevisitorList& list) {
    std::optional<std::vector<std::string>> lines = ReadDefinitionLines(file);
    list.SetLoaded(true);
    if (!lines)
        return {};
    list.Clear();
    TRevisitorLoad result = RevisitorsFromLines(*lines, list);
    result.FileFound = true;
    return result;
}

void SaveRevisitors(const std::filesystem::path& file, const TRevisitorList& list) {
    WriteFileAtomically(file, RevisitorsFileText(list.Items()));
}

TRevisitorLoad LoadRevisitors() {
    return LoadRevisitors(platform::Paths::DefinitionFile(".revisitors"), Revisitors());
}

bool SaveRevisitors() {
    if (!Revisitors().Loaded())
        return false;
    SaveRevisitors(platform::Paths::DefinitionFile(".revisitors"), Revisitors());
    return true;
}

} // namespace kavel
