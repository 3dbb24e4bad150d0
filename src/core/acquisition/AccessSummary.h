#pragma once

#include "base/LineBlocks.h"
#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavel {

class LogEntry;
class Server;
class SpiderList;

// The top lists of the overview, each a count of accesses by one key.
enum class SummaryPanel : std::uint8_t {
    Status,     // status code
    Pages,      // page without its query, every access
    Documents,  // page without its query, document accesses only
    NotFound,   // page without its query, accesses answered 404
    Clients,    // host name: the resolved name, or the address
    Referers,   // host of the referring page; local referring pages are left out
    Agents,     // the agent group: the browser of the user agent, or spiders
    Spiders,    // the spider-list entry that made the access a spider's
    Exceptions, // the code of the suspicious-request rules
};
inline constexpr std::size_t SummaryPanelCount = 9;
inline constexpr std::array<SummaryPanel, SummaryPanelCount> AllSummaryPanels = {
    SummaryPanel::Status,   SummaryPanel::Pages,   SummaryPanel::Documents,
    SummaryPanel::NotFound, SummaryPanel::Clients, SummaryPanel::Referers,
    SummaryPanel::Agents,   SummaryPanel::Spiders, SummaryPanel::Exceptions};

// Whether a panel's key is a number (status, exception code, agent group) or a text of the log.
bool IsNumberPanel(SummaryPanel panel);

// The host of a referring page: what follows "scheme://" (or the start) up to the first "/",
// "?" or "#", without a "user@" part and a ":port"; an IPv6 literal keeps its brackets. Empty
// when there is none.
std::string_view ReferringHost(std::string_view referer);

// The groups of the agents panel: spiders, and the other accesses by browser. A row's number is
// the group's value.
enum class AgentGroup : std::uint8_t { Spider, Msie, Firefox, Opera, Other, Safari, Neon };
// The agent group of an access: spiders for a spider, else its browser's.
AgentGroup AgentGroupOf(bool isSpider, BrowserKind browser);

// What a row of a panel shows: "404 Not Found" for a status, the kind of an exception code, the
// name of an agent group; a text key as it is.
std::string PanelRowLabel(SummaryPanel panel, std::int32_t number, std::string_view text);

// Counts of accesses by class of their status.
enum class StatusClass : std::uint8_t {
    Informational,
    Success,
    Redirection,
    ClientError,
    ServerError,
    Other
};
inline constexpr std::size_t StatusClassCount = 6;
StatusClass StatusClassOf(std::int32_t status);

struct SummaryTotals {
    std::int64_t Accesses = 0;
    std::int64_t Documents = 0;
    // Distinct client addresses (as logged).
    std::int64_t Visitors = 0;
    std::int64_t Bytes = 0;
    // Accesses answered 400 or above.
    std::int64_t Errors = 0;
    std::array<std::int64_t, StatusClassCount> ByClass{};
    bool operator==(const SummaryTotals&) const = default;
};

// Accesses and errors (status 400 or above) in one minute of the clock.
struct MinuteCounts {
    std::uint32_t Accesses = 0;
    std::uint32_t Errors = 0;
    bool operator==(const MinuteCounts&) const = default;
};

// The clock minute of a time: minutes since the epoch of local time, rounded down.
std::int64_t MinuteOfTime(DateTime time);

// One row of a panel. Text is a view of the summary's own copy of the key: valid until the
// summary next changes.
struct PanelRow {
    std::int32_t Number = 0;
    std::string_view Text;
    std::int64_t Count = 0;
};

// Counts of accesses for the overview: totals, the panels and a series per minute. Adding and
// subtracting an entry costs a few hash look-ups whatever the number of entries counted;
// memory grows with the distinct keys, each text key held once as the summary's own copy, so
// an entry may leave the queue while its key is still counted by others. Subtract must be
// given an entry that was added: the keys are derived again from the entry the same way, so
// nothing the derivation reads may change in between (a server's name is read once per
// server and kept until Clear). Not thread-safe; the entries are read only.
class AccessSummary {
public:
    // The spiders list names the spiders and decides the new-spider exception; it must outlive
    // the summary.
    explicit AccessSummary(const SpiderList& spiders);
    ~AccessSummary();
    AccessSummary(AccessSummary&&) noexcept;
    AccessSummary& operator=(AccessSummary&&) noexcept;
    AccessSummary(const AccessSummary&) = delete;
    AccessSummary& operator=(const AccessSummary&) = delete;

    void Add(const LogEntry& entry);
    void Subtract(const LogEntry& entry);
    void Clear();

    const SummaryTotals& Totals() const { return Totals_; }
    // The number of distinct keys of a panel, and the sum of its counts (what a share is of).
    std::size_t Distinct(SummaryPanel panel) const;
    std::int64_t PanelTotal(SummaryPanel panel) const;
    // The rows with the highest counts, at most limit of them (0: all), highest first; equal
    // counts in the order of their keys.
    std::vector<PanelRow> Top(SummaryPanel panel, std::size_t limit) const;
    // The count of one key, 0 when it is not counted (a number panel reads number, a text
    // panel text).
    std::int64_t CountOf(SummaryPanel panel, std::int32_t number, std::string_view text) const;

    // Whether the entry's access is counted under the key in the panel, decided as Add keys it:
    // the way from a row of a panel to the accesses behind it.
    bool HasKey(const LogEntry& entry, SummaryPanel panel, std::int32_t number, std::string_view text);

    // The counts of the clock minutes from first to last (both included), oldest first.
    std::vector<MinuteCounts> Minutes(std::int64_t first, std::int64_t last) const;
    MinuteCounts AtMinute(std::int64_t minute) const;
    // The earliest and latest minute with a count, none when nothing is counted.
    std::optional<std::pair<std::int64_t, std::int64_t>> MinuteRange() const;

private:
    struct Tables;
    void Apply(const LogEntry& entry, int delta);
    std::string_view LowerServerName(const Server* server);

    const SpiderList* Spiders_;
    SummaryTotals Totals_;
    std::unique_ptr<Tables> Tables_;
    // Entries come and go in queue order: the block of the last one stays readable.
    LinePin Pin_;
};

} // namespace kavel
