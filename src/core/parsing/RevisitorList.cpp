#include "parsing/RevisitorList.h"

#include "base/DefinitionFile.h"
#include "base/Text.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <shared_mutex>

namespace kavel {

// Entries are owned one by one so that their addresses never move. Every document access
// asks for its address, so the look-up is an open-addressing table of hashes and entry
// pointers: one probe touches one cache line, and only a matching hash reads the entry.
// Look-ups share the lock, so parsers do not wait for each other; only an append takes it
// alone.
struct RevisitorList::State {
    struct Slot {
        std::size_t Hash = 0;
        const Revisitor* Item = nullptr;
    };

    mutable std::shared_mutex Lock;
    std::vector<std::unique_ptr<Revisitor>> Items;
    // Per entry, the line it was read from; empty for entries added during the run.
    std::vector<std::string> SourceLines;
    std::vector<KeptLine> Kept;
    std::vector<Slot> Table = std::vector<Slot>(16);
    std::atomic<bool> Loaded{false};

    static std::size_t HashOf(std::string_view address) { return std::hash<std::string_view>{}(address); }

    const Revisitor* FindLocked(std::string_view address, std::size_t hash) const {
        const std::size_t mask = Table.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = Table[i];
            if (!slot.Item)
                return nullptr;
            if (slot.Hash == hash && slot.Item->Address == address)
                return slot.Item;
        }
    }

    void InsertLocked(const Revisitor* item, std::size_t hash) {
        const std::size_t mask = Table.size() - 1;
        std::size_t i = hash & mask;
        while (Table[i].Item)
            i = (i + 1) & mask;
        Table[i] = {hash, item};
    }

    void GrowLocked() {
        std::vector<Slot> old(Table.size() * 2);
        old.swap(Table);
        for (const Slot& slot : old)
            if (slot.Item)
                InsertLocked(slot.Item, slot.Hash);
    }
};

RevisitorList::RevisitorList()
    : State_(std::make_unique<State>()) {}

RevisitorList::~RevisitorList() = default;

const Revisitor* RevisitorList::Find(std::string_view address) const {
    const std::size_t hash = State::HashOf(address);
    std::shared_lock lock(State_->Lock);
    return State_->FindLocked(address, hash);
}

const Revisitor* RevisitorList::Add(std::string_view address, std::string_view hostName) {
    return AddFromFile(address, hostName, {});
}

const Revisitor* RevisitorList::AddFromFile(std::string_view address, std::string_view hostName,
                                            std::string_view line) {
    const std::size_t hash = State::HashOf(address);
    std::unique_lock lock(State_->Lock);
    if (State_->FindLocked(address, hash))
        return nullptr;
    if ((State_->Items.size() + 1) * 2 > State_->Table.size())
        State_->GrowLocked();
    auto& item = State_->Items.emplace_back(
        std::make_unique<Revisitor>(Revisitor{std::string(address), std::string(hostName)}));
    State_->SourceLines.emplace_back(line);
    State_->InsertLocked(item.get(), hash);
    return item.get();
}

void RevisitorList::KeepLine(std::size_t lineNumber, std::string_view line) {
    std::unique_lock lock(State_->Lock);
    State_->Kept.push_back(KeptLine{State_->Items.size(), lineNumber, std::string(line)});
}

void RevisitorList::Clear() {
    std::unique_lock lock(State_->Lock);
    State_->Table.assign(16, {});
    State_->Items.clear();
    State_->SourceLines.clear();
    State_->Kept.clear();
}

std::vector<Revisitor> RevisitorList::Items() const {
    std::shared_lock lock(State_->Lock);
    std::vector<Revisitor> items;
    items.reserve(State_->Items.size());
    for (const auto& item : State_->Items)
        items.push_back(*item);
    return items;
}

std::size_t RevisitorList::Count() const {
    std::shared_lock lock(State_->Lock);
    return State_->Items.size();
}

bool RevisitorList::Loaded() const {
    return State_->Loaded.load(std::memory_order_acquire);
}

void RevisitorList::SetLoaded(bool loaded) {
    State_->Loaded.store(loaded, std::memory_order_release);
}

RevisitorLoad RevisitorsFromLines(const std::vector<std::string>& lines, RevisitorList& list,
                                  const std::stop_token& stop) {
    RevisitorLoad result;
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if ((i & 0xFFFF) == 0xFFFF)
            ThrowIfStopped(stop);
        if (!line.empty() && line[0] == '#')
            continue;
        ExtractStrings(';', line, tokens);
        // A malformed line does not end the reading, and it stays in the file: the file is
        // rewritten from the list at the end.
        if (tokens.size() < 2) {
            if (!result.FirstMalformedLine)
                result.FirstMalformedLine = i + 1;
            ++result.Malformed;
            list.KeepLine(i + 1, line);
            continue;
        }
        if (list.AddFromFile(tokens[0], tokens[1], line))
            ++result.Added;
        else
            list.KeepLine(i + 1, line);
    }
    return result;
}

namespace {

// Addresses and host names come from log lines. One holding a separator, a quote or a line
// end would not read back as written, and as a malformed line it would end the reading of
// every entry after it; such an entry is left out of the file.
bool ReadsBack(const Revisitor& item) {
    const auto clean = [](std::string_view text) {
        return !text.empty() && text.find_first_of(";\"'\r\n") == std::string_view::npos;
    };
    return clean(item.Address) && clean(item.HostName) && item.Address[0] != '#';
}

} // namespace

std::string RevisitorList::FileLines() const {
    std::shared_lock lock(State_->Lock);
    std::vector<std::string> entryLines;
    entryLines.reserve(State_->Items.size());
    for (std::size_t i = 0; i < State_->Items.size(); ++i) {
        const Revisitor& item = *State_->Items[i];
        if (!State_->SourceLines[i].empty())
            entryLines.push_back(State_->SourceLines[i]);
        else if (ReadsBack(item))
            entryLines.push_back(item.Address + ';' + item.HostName);
    }
    return JoinDefinitionLines({}, entryLines, State_->Kept);
}

std::string RevisitorsFileText(const std::vector<Revisitor>& items) {
    std::string text = DefinitionFileHeader("Revisitors", true);
    text += "\r\n";
    for (const Revisitor& item : items) {
        if (!ReadsBack(item))
            continue;
        text += item.Address;
        text += ';';
        text += item.HostName;
        text += "\r\n";
    }
    return text;
}

RevisitorLoad LoadRevisitors(const std::filesystem::path& file, RevisitorList& list, std::stop_token stop) {
    std::optional<std::vector<std::string>> lines = ReadDefinitionLines(file, stop);
    if (!lines) {
        list.SetLoaded(true);
        return {};
    }
    list.Clear();
    RevisitorLoad result = RevisitorsFromLines(*lines, list, stop);
    list.SetLoaded(true);
    result.FileFound = true;
    return result;
}

void SaveRevisitors(const std::filesystem::path& file, const RevisitorList& list) {
    std::string text = DefinitionFileHeader("Revisitors", true);
    text += "\r\n";
    text += list.FileLines();
    WriteFileAtomically(file, text);
}

} // namespace kavel
