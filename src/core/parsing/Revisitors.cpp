#include "parsing/Revisitors.h"

#include "acquisition/DefinitionFile.h"
#include "acquisition/PoolSystem.h"
#include "acquisition/Queue.h"
#include "config/MainConfig.h"
#include "platform/Paths.h"

#include <atomic>
#include <shared_mutex>
#include <unordered_map>

namespace kavel {

// Entries are owned one by one so that their addresses never move; the map's keys are views
// of the entries' own addresses. Look-ups share the lock, so parsers do not wait for each
// other; only an append takes it alone.
struct TRevisitorList::TState {
    mutable std::shared_mutex Lock;
    std::vector<std::unique_ptr<TRevisitor>> Items;
    std::unordered_map<std::string_view, const TRevisitor*> ByAddress;
    std::atomic<bool> Loaded{false};
};

TRevisitorList::TRevisitorList()
    : State_(std::make_unique<TState>()) {}

TRevisitorList::~TRevisitorList() = default;

const TRevisitor* TRevisitorList::Find(std::string_view address) const {
    std::shared_lock lock(State_->Lock);
    const auto found = State_->ByAddress.find(address);
    return found == State_->ByAddress.end() ? nullptr : found->second;
}

const TRevisitor* TRevisitorList::Add(std::string_view address, std::string_view hostName) {
    std::unique_lock lock(State_->Lock);
    if (State_->ByAddress.find(address) != State_->ByAddress.end())
        return nullptr;
    auto& item = State_->Items.emplace_back(
        std::make_unique<TRevisitor>(TRevisitor{std::string(address), std::string(hostName)}));
    State_->ByAddress.emplace(item->Address, item.get());
    return item.get();
}

void TRevisitorList::Clear() {
    std::unique_lock lock(State_->Lock);
    State_->ByAddress.clear();
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

void ApplyRevisitRule(TFilter& record, const TQueue& entry, const TEntryQueue& queue,
                      TRevisitorList& revisitors, std::int32_t thresholdMinutes) {
    if (revisitors.Contains(record.Address())) {
        record.VisitorState = 2;
        return;
    }
    bool revisit = false;
    {
        // Held for the whole walk so that the main thread cannot free an entry under it.
        const auto lock = queue.ReadLock();
        queue.WalkHostBackward(record.HostName(), [&](const TQueue& earlier) {
            record.VisitorState = 1;
            if (earlier.Access->VisitorState == 2 ||
                WholeMinutesBetween(earlier.Time, entry.Time) > thresholdMinutes) {
                revisit = true;
                return false;
            }
            return true;
        });
    }
    if (!revisit)
        return;
    record.VisitorState = 2;
    if (!record.Address().empty() && !record.HostName().empty())
        revisitors.Add(record.Address(), record.HostName());
}

void ApplyRevisitRule(TFilter& record, const TQueue& entry) {
    ApplyRevisitRule(record, entry, EntryQueue(), Revisitors(), OptionTimeRevisitorAfterMinutes());
}

TRevisitorLoad RevisitorsFromLines(const std::vector<std::string>& lines, TRevisitorList& list) {
    TRevisitorLoad result;
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty() && line[0] == '#')
            continue;
        ExtractStrings(';', line, tokens);
        if (tokens.size() < 2) {
            result.StoppedAtLine = i + 1;
            break;
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
