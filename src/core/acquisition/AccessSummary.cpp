#include "acquisition/AccessSummary.h"

#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/Text.h"
#include "parsing/AccessRecord.h"
#include "parsing/SpiderList.h"
#include "parsing/SuspiciousRequests.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kavel {

namespace {

// Hash and equality of a text tally: exact bytes, or ASCII case folded (host names).
struct TallyHash {
    bool Fold = false;
    std::size_t operator()(std::string_view text) const {
        return Fold ? FoldedHash<AsciiLower>{}(text) : std::hash<std::string_view>{}(text);
    }
};

struct TallyEqual {
    bool Fold = false;
    bool operator()(std::string_view a, std::string_view b) const noexcept {
        return Fold ? FoldedEqual<AsciiLower>{}(a, b) : a == b;
    }
};

// Counts by text. A key is copied once, when it is first counted, and the copy goes when its
// count falls to 0: the entries it came from may leave the queue meanwhile.
class TextTally {
public:
    explicit TextTally(bool fold = false)
        : Map_(0, TallyHash{fold}, TallyEqual{fold}) {}

    void Change(std::string_view key, int delta) {
        const auto found = Map_.find(key);
        if (found != Map_.end()) {
            found->second.Count += delta;
            Total_ += delta;
            if (found->second.Count <= 0) {
                Total_ -= found->second.Count;
                Map_.erase(found);
            }
            return;
        }
        // Subtracting what is not counted changes nothing.
        if (delta <= 0)
            return;
        auto copy = std::unique_ptr<char[]>(new char[key.size() == 0 ? 1 : key.size()]);
        std::memcpy(copy.get(), key.data(), key.size());
        const std::string_view own(copy.get(), key.size());
        Map_.emplace(own, Slot{delta, std::move(copy)});
        Total_ += delta;
    }

    std::int64_t CountOf(std::string_view key) const {
        const auto found = Map_.find(key);
        return found == Map_.end() ? 0 : found->second.Count;
    }
    std::size_t Distinct() const { return Map_.size(); }
    std::int64_t Total() const { return Total_; }
    void Clear() {
        Map_.clear();
        Total_ = 0;
    }
    template <class Visit>
    void ForEach(Visit&& visit) const {
        for (const auto& [key, slot] : Map_)
            visit(key, slot.Count);
    }

private:
    struct Slot {
        std::int64_t Count = 0;
        std::unique_ptr<char[]> Bytes;
    };
    std::unordered_map<std::string_view, Slot, TallyHash, TallyEqual> Map_;
    std::int64_t Total_ = 0;
};

class NumberTally {
public:
    void Change(std::int32_t key, int delta) {
        const auto found = Map_.find(key);
        if (found == Map_.end()) {
            if (delta > 0) {
                Map_.emplace(key, delta);
                Total_ += delta;
            }
            return;
        }
        found->second += delta;
        Total_ += delta;
        if (found->second <= 0) {
            Total_ -= found->second;
            Map_.erase(found);
        }
    }
    std::int64_t CountOf(std::int32_t key) const {
        const auto found = Map_.find(key);
        return found == Map_.end() ? 0 : found->second;
    }
    std::size_t Distinct() const { return Map_.size(); }
    std::int64_t Total() const { return Total_; }
    void Clear() {
        Map_.clear();
        Total_ = 0;
    }
    template <class Visit>
    void ForEach(Visit&& visit) const {
        for (const auto& [key, count] : Map_)
            visit(key, count);
    }

private:
    std::unordered_map<std::int32_t, std::int64_t> Map_;
    std::int64_t Total_ = 0;
};

// The spider-list entry of a spider's host name, remembered for the hosts seen: the list is
// searched from its start for every look-up. Entries are only appended to the list during a
// run, so a host that matched an entry keeps matching that entry.
class SpiderNames {
public:
    std::string_view Of(std::string_view hostName) {
        const auto found = Names_.find(hostName);
        if (found != Names_.end())
            return found->second;
        if (Names_.size() >= Limit)
            Names_.clear();
        const std::optional<Spider> spider = FindSpider(hostName);
        std::string name = spider && !spider->NoSpider ? spider->Name : std::string(hostName);
        return Names_.emplace(std::string(hostName), std::move(name)).first->second;
    }
    void Clear() { Names_.clear(); }

private:
    static constexpr std::size_t Limit = 4096;
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> Names_;
};

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

Icon AgentGroup(bool isSpider, Icon browserImage) {
    return isSpider ? Icon::Spider : browserImage;
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
        switch (static_cast<Icon>(number)) {
        case Icon::Spider:
            return "Suchmaschinen";
        case Icon::BrowserFirefox:
            return "Firefox";
        case Icon::BrowserOpera:
            return "Opera";
        case Icon::BrowserMsie:
            return "MSIE";
        case Icon::BrowserSafari:
            return "Safari";
        case Icon::BrowserNeon:
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

AccessSummary::AccessSummary()
    : Tables_(std::make_unique<Tables>()) {}
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
    const AccessRecord* access = entry.Access.get();
    if (access == nullptr)
        return;
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
    t.Agents.Change(IconIndex(AgentGroup(access->IsSpider, access->BrowserImage())), delta);
    if (access->IsSpider)
        t.Spiders.Change(t.SpiderNameOf.Of(access->HostName()), delta);
    const std::int32_t code = CheckSuspiciousCode(access).Code;
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
