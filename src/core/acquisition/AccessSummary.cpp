#include "acquisition/AccessSummary.h"

#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "parsing/AccessRecord.h"
#include "parsing/SpiderList.h"
#include "parsing/SuspiciousRequests.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace kavel {

namespace {

// Where a hash goes in a table of 2^(64 - shift) slots: the hash's high bits after a
// multiplication, so that hashes whose low bits agree still spread.
inline std::size_t Home(std::uint64_t hash, unsigned shift) {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift);
}

// An open-addressed table of counts (linear probing, deletion by shifting the following slots
// back, so no slot is ever marked deleted): a look-up mostly reads one slot. A count of 0 marks
// an empty slot; a key whose count falls to 0 leaves. The table shrinks again when most of its
// keys left. Slot provides Count, HashOf() and Reset().
template <class Slot>
class FlatTable {
public:
    FlatTable() = default;
    FlatTable(FlatTable&&) noexcept = default;
    FlatTable& operator=(FlatTable&&) noexcept = default;

    std::size_t Size() const { return Size_; }
    std::int64_t Total() const { return Total_; }

    // The slot holding a key that same() accepts among those with the hash, else the empty slot
    // where it would go; none when the table has no slots yet.
    template <class Same>
    Slot* Find(std::uint64_t hash, Same&& same) {
        if (Slots_.empty())
            return nullptr;
        const std::size_t mask = Slots_.size() - 1;
        for (std::size_t i = Home(hash, Shift_);; i = (i + 1) & mask) {
            Slot& slot = Slots_[i];
            if (slot.Count == 0 || (slot.HashOf() == hash && same(slot)))
                return &slot;
        }
    }
    template <class Same>
    const Slot* Find(std::uint64_t hash, Same&& same) const {
        return const_cast<FlatTable*>(this)->Find(hash, std::forward<Same>(same));
    }

    // An empty slot for a new key with the hash, the table grown first when it is full enough.
    template <class Same>
    Slot& Insert(std::uint64_t hash, Same&& same) {
        if ((Size_ + 1) * 10 > Slots_.size() * 7)
            Rehash(Slots_.empty() ? 16 : Slots_.size() * 2);
        ++Size_;
        return *Find(hash, std::forward<Same>(same));
    }

    void Added(std::int64_t delta) { Total_ += delta; }

    // Empties the slot (already Reset) and closes the gap.
    void Erase(Slot& erased) {
        const std::size_t mask = Slots_.size() - 1;
        std::size_t hole = static_cast<std::size_t>(&erased - Slots_.data());
        for (std::size_t j = (hole + 1) & mask; Slots_[j].Count != 0; j = (j + 1) & mask) {
            const std::size_t home = Home(Slots_[j].HashOf(), Shift_);
            const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (!stays) {
                Slots_[hole] = Slots_[j];
                hole = j;
            }
        }
        Slots_[hole] = Slot{};
        --Size_;
        if (Slots_.size() > 64 && Size_ * 8 < Slots_.size())
            Rehash(Slots_.size() / 2);
    }

    template <class Visit>
    void ForEach(Visit&& visit) const {
        for (const Slot& slot : Slots_)
            if (slot.Count != 0)
                visit(slot);
    }
    template <class Visit>
    void ForEachMutable(Visit&& visit) {
        for (Slot& slot : Slots_)
            if (slot.Count != 0)
                visit(slot);
    }
    void Clear() {
        Slots_.clear();
        Slots_.shrink_to_fit();
        Size_ = 0;
        Total_ = 0;
    }

private:
    void Rehash(std::size_t capacity) {
        std::vector<Slot> old = std::move(Slots_);
        Slots_.assign(capacity, Slot{});
        unsigned bits = 0;
        while ((std::size_t{1} << bits) < capacity)
            ++bits;
        Shift_ = 64 - bits;
        const std::size_t mask = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.Count == 0)
                continue;
            std::size_t i = Home(slot.HashOf(), Shift_);
            while (Slots_[i].Count != 0)
                i = (i + 1) & mask;
            Slots_[i] = slot;
        }
    }

    std::vector<Slot> Slots_;
    unsigned Shift_ = 64;
    std::size_t Size_ = 0;
    std::int64_t Total_ = 0;
};

// Counts by text. A key is copied once, when it is first counted, into its slot when it is short
// and else into an allocation of its own, and the copy goes when its count falls to 0: the
// entries it came from may leave the queue meanwhile. With fold, keys that differ only in the
// case of ASCII letters are one key (host names); the first spelling counted is kept.
class TextTally {
public:
    explicit TextTally(bool fold = false)
        : Fold_(fold) {}
    ~TextTally() { FreeKeys(); }
    TextTally(TextTally&&) noexcept = default;
    TextTally& operator=(TextTally&&) = delete;
    TextTally(const TextTally&) = delete;
    TextTally& operator=(const TextTally&) = delete;

    void Change(std::string_view key, int delta) {
        const std::uint64_t hash = HashOf(key);
        const auto same = [this, key](const Slot& slot) { return Same(slot, key); };
        if (Slot* slot = Table_.Find(hash, same); slot != nullptr && slot->Count != 0) {
            slot->Count += delta;
            Table_.Added(delta);
            if (slot->Count <= 0) {
                Table_.Added(-slot->Count);
                slot->Reset();
                Table_.Erase(*slot);
            }
            return;
        }
        // Subtracting what is not counted changes nothing.
        if (delta <= 0)
            return;
        Slot& slot = Table_.Insert(hash, same);
        slot.Hash = hash;
        slot.Count = delta;
        slot.Size = static_cast<std::uint32_t>(key.size());
        char* bytes = slot.Inline;
        if (key.size() > Slot::InlineBytes) {
            slot.Heap = new char[key.size()];
            bytes = slot.Heap;
        }
        std::memcpy(bytes, key.data(), key.size());
        Table_.Added(delta);
    }

    std::int64_t CountOf(std::string_view key) const {
        const Slot* slot = Table_.Find(HashOf(key), [this, key](const Slot& s) { return Same(s, key); });
        return slot == nullptr ? 0 : slot->Count;
    }
    std::size_t Distinct() const { return Table_.Size(); }
    std::int64_t Total() const { return Table_.Total(); }
    void Clear() {
        FreeKeys();
        Table_.Clear();
    }
    template <class Visit>
    void ForEach(Visit&& visit) const {
        Table_.ForEach([&visit](const Slot& slot) { visit(slot.Key(), slot.Count); });
    }

private:
    struct Slot {
        static constexpr std::size_t InlineBytes = 16;
        std::uint64_t Hash = 0;
        std::int64_t Count = 0;
        std::uint32_t Size = 0;
        union {
            char Inline[InlineBytes];
            char* Heap;
        };
        Slot()
            : Heap(nullptr) {}
        std::uint64_t HashOf() const { return Hash; }
        std::string_view Key() const { return {Size > InlineBytes ? Heap : Inline, Size}; }
        void Reset() {
            if (Size > InlineBytes)
                delete[] Heap;
            Size = 0;
            Count = 0;
        }
    };

    std::uint64_t HashOf(std::string_view key) const {
        return Fold_ ? FoldedHash<AsciiLower>{}(key) : std::hash<std::string_view>{}(key);
    }
    bool Same(const Slot& slot, std::string_view key) const {
        if (slot.Size != key.size())
            return false;
        return Fold_ ? FoldedEqual<AsciiLower>{}(slot.Key(), key) : slot.Key() == key;
    }
    void FreeKeys() {
        Table_.ForEachMutable([](Slot& slot) { slot.Reset(); });
    }

    FlatTable<Slot> Table_;
    bool Fold_;
};

class NumberTally {
public:
    void Change(std::int32_t key, int delta) {
        const std::uint64_t hash = HashOf(key);
        const auto same = [key](const Slot& slot) { return slot.Key == key; };
        if (Slot* slot = Table_.Find(hash, same); slot != nullptr && slot->Count != 0) {
            slot->Count += delta;
            Table_.Added(delta);
            if (slot->Count <= 0) {
                Table_.Added(-slot->Count);
                slot->Count = 0;
                Table_.Erase(*slot);
            }
            return;
        }
        if (delta <= 0)
            return;
        Slot& slot = Table_.Insert(hash, same);
        slot.Key = key;
        slot.Count = delta;
        Table_.Added(delta);
    }
    std::int64_t CountOf(std::int32_t key) const {
        const Slot* slot = Table_.Find(HashOf(key), [key](const Slot& s) { return s.Key == key; });
        return slot == nullptr ? 0 : slot->Count;
    }
    std::size_t Distinct() const { return Table_.Size(); }
    std::int64_t Total() const { return Table_.Total(); }
    void Clear() { Table_.Clear(); }
    template <class Visit>
    void ForEach(Visit&& visit) const {
        Table_.ForEach([&visit](const Slot& slot) { visit(slot.Key, slot.Count); });
    }

private:
    struct Slot {
        std::int64_t Count = 0;
        std::int32_t Key = 0;
        std::uint64_t HashOf() const { return NumberTally::HashOf(Key); }
    };
    static std::uint64_t HashOf(std::int32_t key) { return static_cast<std::uint32_t>(key); }

    FlatTable<Slot> Table_;
};

// The spider-list entry of a spider's host name, remembered for the hosts seen: the list is
// searched from its start for every look-up. Entries are only appended to the list during a
// run, so a host that matched an entry keeps matching that entry.
class SpiderNames {
public:
    std::string_view Of(const SpiderList& spiders, std::string_view hostName) {
        const auto found = Names_.find(hostName);
        if (found != Names_.end())
            return found->second;
        if (Names_.size() >= Limit)
            Names_.clear();
        const std::optional<Spider> spider = spiders.Find(hostName);
        std::string name = spider && !spider->NoSpider ? spider->Name : std::string(hostName);
        return Names_.emplace(std::string(hostName), std::move(name)).first->second;
    }
    void Clear() { Names_.clear(); }

private:
    static constexpr std::size_t Limit = 4096;
    std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> Names_;
};

// The browser of the user agents seen, remembered: a few thousand agents make up most
// accesses, and a look-up costs less than reading the agent for every browser's name.
class AgentBrowsers {
public:
    BrowserKind Of(const AccessRecord& access) {
        const std::string_view agent = access.UserAgent();
        const auto found = Browsers_.find(agent);
        if (found != Browsers_.end())
            return found->second;
        if (Browsers_.size() >= Limit)
            Browsers_.clear();
        const BrowserKind browser = access.Browser();
        Browsers_.emplace(std::string(agent), browser);
        return browser;
    }

private:
    static constexpr std::size_t Limit = 4096;
    std::unordered_map<std::string, BrowserKind, TextHash, std::equal_to<>> Browsers_;
};

// The number of an access' row in the agents panel.
std::int32_t AgentKey(bool isSpider, BrowserKind browser) {
    return static_cast<std::int32_t>(AgentGroupOf(isSpider, browser));
}

constexpr std::string_view ExecutableKindNames[] = {"EXE", "COM", "DLL", "BAT", "VBS", "CMD"};

bool IsSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

} // namespace

struct AccessSummary::Tables {
    NumberTally Status;
    TextTally Pages;
    TextTally Documents;
    TextTally NotFound;
    TextTally Clients;
    TextTally Referers{true};
    NumberTally Agents;
    TextTally Spiders;
    NumberTally Exceptions;
    TextTally Visitors;
    std::unordered_map<std::int64_t, MinuteCounts> Minutes;
    SpiderNames SpiderNameOf;
    AgentBrowsers AgentBrowserOf;
    // Server names folded to lower case, read once per server until Clear: the local-referer
    // test of an entry must decide alike when the entry is subtracted.
    std::unordered_map<const Server*, std::string> ServerNames;

    const TextTally* Text(SummaryPanel panel) const {
        switch (panel) {
        case SummaryPanel::Pages:
            return &Pages;
        case SummaryPanel::Documents:
            return &Documents;
        case SummaryPanel::NotFound:
            return &NotFound;
        case SummaryPanel::Clients:
            return &Clients;
        case SummaryPanel::Referers:
            return &Referers;
        case SummaryPanel::Spiders:
            return &Spiders;
        default:
            return nullptr;
        }
    }
    const NumberTally* Number(SummaryPanel panel) const {
        switch (panel) {
        case SummaryPanel::Status:
            return &Status;
        case SummaryPanel::Agents:
            return &Agents;
        case SummaryPanel::Exceptions:
            return &Exceptions;
        default:
            return nullptr;
        }
    }
};

bool IsNumberPanel(SummaryPanel panel) {
    return panel == SummaryPanel::Status || panel == SummaryPanel::Agents ||
           panel == SummaryPanel::Exceptions;
}

std::string_view ReferringHost(std::string_view referer) {
    std::string_view rest = referer;
    const std::size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos && scheme > 0 &&
        std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(scheme), IsSchemeChar)) {
        rest.remove_prefix(scheme + 3);
    }
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string_view::npos ? authority : authority.substr(0, close + 1);
    }
    return authority.substr(0, authority.find(':'));
}

AgentGroup AgentGroupOf(bool isSpider, BrowserKind browser) {
    if (isSpider)
        return AgentGroup::Spider;
    switch (browser) {
    case BrowserKind::Msie:
        return AgentGroup::Msie;
    case BrowserKind::Firefox:
        return AgentGroup::Firefox;
    case BrowserKind::Opera:
        return AgentGroup::Opera;
    case BrowserKind::Safari:
        return AgentGroup::Safari;
    case BrowserKind::Neon:
        return AgentGroup::Neon;
    case BrowserKind::Other:
        break;
    }
    return AgentGroup::Other;
}

std::string PanelRowLabel(SummaryPanel panel, std::int32_t number, std::string_view text) {
    const auto statusLabel = [](std::int32_t code) {
        std::string label = std::to_string(code);
        label += ' ';
        label += StatusText(code);
        return label;
    };
    switch (panel) {
    case SummaryPanel::Status:
        return statusLabel(number);
    case SummaryPanel::Exceptions:
        if (number >= suspicion_code::Executable &&
            number < suspicion_code::Executable + static_cast<std::int32_t>(std::size(ExecutableKindNames))) {
            std::string label = "Ausf\xC3\xBChrbare ";
            label += ExecutableKindNames[number - suspicion_code::Executable];
            label += " Datei";
            return label;
        }
        switch (number) {
        case suspicion_code::ParentPath:
            return "Pfad mit ../";
        case suspicion_code::MethodPut:
            return "PUT Methode";
        case suspicion_code::MethodDelete:
            return "DELETE Methode";
        case suspicion_code::NewSpider:
            return "Neue unbekannte Suchmaschine";
        default:
            return statusLabel(number);
        }
    case SummaryPanel::Agents:
        switch (static_cast<AgentGroup>(number)) {
        case AgentGroup::Spider:
            return "Suchmaschinen";
        case AgentGroup::Firefox:
            return "Firefox";
        case AgentGroup::Opera:
            return "Opera";
        case AgentGroup::Msie:
            return "MSIE";
        case AgentGroup::Safari:
            return "Safari";
        case AgentGroup::Neon:
            return "Neon";
        default:
            return "Andere";
        }
    default:
        return std::string(text);
    }
}

StatusClass StatusClassOf(std::int32_t status) {
    switch (status / 100) {
    case 1:
        return StatusClass::Informational;
    case 2:
        return StatusClass::Success;
    case 3:
        return StatusClass::Redirection;
    case 4:
        return StatusClass::ClientError;
    case 5:
        return StatusClass::ServerError;
    default:
        return StatusClass::Other;
    }
}

std::int64_t MinuteOfTime(DateTime time) {
    const std::int64_t ms = time.Ms;
    return ms >= 0 ? ms / MsPerMinute : -((-ms + MsPerMinute - 1) / MsPerMinute);
}

AccessSummary::AccessSummary(const SpiderList& spiders)
    : Spiders_(&spiders)
    , Tables_(std::make_unique<Tables>()) {}
AccessSummary::~AccessSummary() = default;
AccessSummary::AccessSummary(AccessSummary&&) noexcept = default;
AccessSummary& AccessSummary::operator=(AccessSummary&&) noexcept = default;

std::string_view AccessSummary::LowerServerName(const Server* server) {
    if (server == nullptr)
        return {};
    auto [position, inserted] = Tables_->ServerNames.try_emplace(server);
    if (inserted)
        position->second = AsciiLowerCase(server->Name());
    return position->second;
}

void AccessSummary::Add(const LogEntry& entry) {
    Apply(entry, 1);
}

void AccessSummary::Subtract(const LogEntry& entry) {
    Apply(entry, -1);
}

void AccessSummary::Apply(const LogEntry& entry, int delta) {
    const AccessRecord* access = entry.Access();
    if (access == nullptr)
        return;
    Pin_.Reach(entry);
    Tables& t = *Tables_;
    const std::int32_t status = access->Status;
    const bool error = status >= 400;

    Totals_.Accesses += delta;
    Totals_.Documents += access->IsDocument ? delta : 0;
    Totals_.Bytes += delta * access->Bytes;
    Totals_.Errors += error ? delta : 0;
    Totals_.ByClass[static_cast<std::size_t>(StatusClassOf(status))] += delta;

    t.Status.Change(status, delta);
    const std::string_view page = access->PageWithoutQuery();
    t.Pages.Change(page, delta);
    if (access->IsDocument)
        t.Documents.Change(page, delta);
    if (status == 404)
        t.NotFound.Change(page, delta);
    t.Clients.Change(access->HostName(), delta);
    t.Visitors.Change(access->Address(), delta);
    Totals_.Visitors = static_cast<std::int64_t>(t.Visitors.Distinct());

    const std::string_view referer = access->Referer();
    if (!IsLocalReferer(referer, LowerServerName(entry.Server))) {
        const std::string_view host = ReferringHost(referer);
        if (!host.empty())
            t.Referers.Change(host, delta);
    }
    t.Agents.Change(AgentKey(access->IsSpider, t.AgentBrowserOf.Of(*access)), delta);
    if (access->IsSpider)
        t.Spiders.Change(t.SpiderNameOf.Of(*Spiders_, access->HostName()), delta);
    const std::int32_t code = CheckSuspiciousCode(access, *Spiders_).Code;
    if (code != suspicion_code::None)
        t.Exceptions.Change(code, delta);

    const std::int64_t minute = MinuteOfTime(entry.Time);
    if (delta > 0) {
        MinuteCounts& counts = t.Minutes[minute];
        counts.Accesses += 1;
        counts.Errors += error ? 1 : 0;
    } else if (const auto found = t.Minutes.find(minute); found != t.Minutes.end()) {
        MinuteCounts& counts = found->second;
        counts.Accesses -= counts.Accesses > 0 ? 1 : 0;
        counts.Errors -= error && counts.Errors > 0 ? 1 : 0;
        if (counts.Accesses == 0)
            t.Minutes.erase(found);
    }
}

bool AccessSummary::HasKey(const LogEntry& entry, SummaryPanel panel, std::int32_t number,
                           std::string_view text) {
    const AccessRecord* access = entry.Access();
    if (access == nullptr)
        return false;
    Pin_.Reach(entry);
    switch (panel) {
    case SummaryPanel::Status:
        return access->Status == number;
    case SummaryPanel::Pages:
        return access->PageWithoutQuery() == text;
    case SummaryPanel::Documents:
        return access->IsDocument && access->PageWithoutQuery() == text;
    case SummaryPanel::NotFound:
        return access->Status == 404 && access->PageWithoutQuery() == text;
    case SummaryPanel::Clients:
        return access->HostName() == text;
    case SummaryPanel::Referers: {
        const std::string_view referer = access->Referer();
        if (IsLocalReferer(referer, LowerServerName(entry.Server)))
            return false;
        const std::string_view host = ReferringHost(referer);
        return !host.empty() && EqualsAsciiIgnoreCase(host, text);
    }
    case SummaryPanel::Agents:
        return AgentKey(access->IsSpider, Tables_->AgentBrowserOf.Of(*access)) == number;
    case SummaryPanel::Spiders:
        return access->IsSpider && Tables_->SpiderNameOf.Of(*Spiders_, access->HostName()) == text;
    case SummaryPanel::Exceptions:
        return CheckSuspiciousCode(access, *Spiders_).Code == number;
    }
    return false;
}

void AccessSummary::Clear() {
    Totals_ = SummaryTotals{};
    Tables_ = std::make_unique<Tables>();
}

std::size_t AccessSummary::Distinct(SummaryPanel panel) const {
    if (const NumberTally* numbers = Tables_->Number(panel))
        return numbers->Distinct();
    return Tables_->Text(panel)->Distinct();
}

std::int64_t AccessSummary::PanelTotal(SummaryPanel panel) const {
    if (const NumberTally* numbers = Tables_->Number(panel))
        return numbers->Total();
    return Tables_->Text(panel)->Total();
}

std::int64_t AccessSummary::CountOf(SummaryPanel panel, std::int32_t number, std::string_view text) const {
    if (const NumberTally* numbers = Tables_->Number(panel))
        return numbers->CountOf(number);
    return Tables_->Text(panel)->CountOf(text);
}

std::vector<PanelRow> AccessSummary::Top(SummaryPanel panel, std::size_t limit) const {
    std::vector<PanelRow> rows;
    rows.reserve(Distinct(panel));
    if (const NumberTally* numbers = Tables_->Number(panel)) {
        numbers->ForEach([&rows](std::int32_t key, std::int64_t count) { rows.push_back({key, {}, count}); });
    } else {
        Tables_->Text(panel)->ForEach([&rows](std::string_view key, std::int64_t count) {
            rows.push_back({0, key, count});
        });
    }
    const auto higher = [](const PanelRow& a, const PanelRow& b) {
        if (a.Count != b.Count)
            return a.Count > b.Count;
        if (a.Number != b.Number)
            return a.Number < b.Number;
        return a.Text < b.Text;
    };
    if (limit == 0 || limit >= rows.size()) {
        std::sort(rows.begin(), rows.end(), higher);
    } else {
        std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(limit), rows.end(),
                          higher);
        rows.resize(limit);
    }
    return rows;
}

MinuteCounts AccessSummary::AtMinute(std::int64_t minute) const {
    const auto found = Tables_->Minutes.find(minute);
    return found == Tables_->Minutes.end() ? MinuteCounts{} : found->second;
}

std::vector<MinuteCounts> AccessSummary::Minutes(std::int64_t first, std::int64_t last) const {
    std::vector<MinuteCounts> series;
    if (last < first)
        return series;
    series.reserve(static_cast<std::size_t>(last - first + 1));
    for (std::int64_t minute = first; minute <= last; ++minute)
        series.push_back(AtMinute(minute));
    return series;
}

std::optional<std::pair<std::int64_t, std::int64_t>> AccessSummary::MinuteRange() const {
    if (Tables_->Minutes.empty())
        return std::nullopt;
    std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
    std::int64_t latest = std::numeric_limits<std::int64_t>::min();
    for (const auto& [minute, counts] : Tables_->Minutes) {
        earliest = std::min(earliest, minute);
        latest = std::max(latest, minute);
    }
    return std::make_pair(earliest, latest);
}

} // namespace kavel
