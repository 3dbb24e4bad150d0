#pragma once

#include "base/LineBlocks.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

class LogEntry;
class Server;
class SpiderList;
class TextPattern;

// What a cell of the lists shows of an entry. The window's columns and kavel-cli's --grep take
// their texts from here, so that both find the same accesses.
enum class EntryCell : std::uint8_t {
    Line,          // the raw log line ("Protokollzeile")
    Time,          // "Angefordert am": the locale's short date and long time
    Host,          // "Absenderadresse": the resolved name, or the address
    User,          // "Benutzer"
    Method,        // "Methode"
    Page,          // "Seite", with its query
    Status,        // "Code" of the accesses: the number, a blank, the reason text
    Referer,       // "Referenzseite"
    UserAgent,     // "User Agent"
    Server,        // the server's name ("Server", "Servername")
    ExceptionCode, // "Code" of the exceptions: the code of the suspicion found
    Description,   // "Beschreibung" of the exceptions
};

// The cells an access shows when every server's accesses are listed, in the list's order.
inline constexpr EntryCell AccessCells[] = {EntryCell::Time,    EntryCell::Host,      EntryCell::User,
                                            EntryCell::Method,  EntryCell::Page,      EntryCell::Status,
                                            EntryCell::Referer, EntryCell::UserAgent, EntryCell::Server};

// Makes the shown texts of entries' cells (base/ShownText.h): log bytes as UTF-8 that is safe
// to display. Text gives a view of this object's scratch space, valid until its next call. One
// object per thread. The spiders list (for the new-spider exception) must outlive it.
class EntryTexts {
public:
    explicit EntryTexts(const SpiderList& spiders)
        : Spiders_(&spiders) {}

    std::string_view Text(const LogEntry& entry, EntryCell cell);
    // Appends the shown text of the cell to out.
    void AppendText(std::string& out, const LogEntry& entry, EntryCell cell);
    // Appends what the cell shows, cells taken from the log as their bytes (the line, the
    // access' fields), the others as their shown text.
    void AppendLoggedText(std::string& out, const LogEntry& entry, EntryCell cell);

private:
    template <bool Logged>
    void Append(std::string& out, const LogEntry& entry, EntryCell cell);
    // What the detection reports for the entry, found once for its two exception cells.
    const SuspicionCheck& CheckOf(const LogEntry& entry);
    const std::string& TimeText(DateTime time);
    const std::string& ServerNameText(const Server& server);

    const SpiderList* Spiders_;
    // Keeps the line of the entry asked last readable: the next entry is mostly in the same block.
    LinePin Pin_;
    std::string Scratch_;
    // Log lines come several a second: the time text of the last second asked, and the date
    // text of its day. Kept for the object's life: make a new one when the locale's format
    // changes.
    std::string TimeText_;
    std::string DateText_;
    std::int64_t TimeSecond_ = 0;
    std::int64_t Day_ = 0;
    bool HasTime_ = false;
    // The shown name of the last server asked, while its name stays the same.
    std::string ServerName_;
    std::uint64_t ServerNameRevision_ = 0;
    SuspicionCheck Check_;
    std::uint64_t CheckSerial_ = 0;
    bool HasCheck_ = false;
};

// Whether the pattern occurs in the shown text of one of the entry's cells. An empty pattern
// matches every entry.
bool AnyCellMatches(const TextPattern& pattern, const LogEntry& entry, std::span<const EntryCell> cells,
                    EntryTexts& texts);

// What a row's colour tells at a glance: the class of the status code, or that the access was
// found suspicious (with a status below 400). An error says more than the suspicion, the
// suspicion more than a redirection.
enum class RowOutcome : std::uint8_t { Ordinary, Redirection, Suspicious, ClientError, ServerError };
RowOutcome OutcomeOf(const LogEntry& entry, const SpiderList& spiders);

// AnyCellMatches for many entries: the cells of an entry are joined into one text and searched
// once, which is what makes a filter over a million rows quick. The pattern and the spiders
// list must outlive it.
class EntryMatcher {
public:
    EntryMatcher(const TextPattern& pattern, std::span<const EntryCell> cells, const SpiderList& spiders);

    bool Matches(const LogEntry& entry);
    const TextPattern& Pattern() const { return *Pattern_; }

    // A pass over rows in an order other than the queue's waits for memory more than it
    // matches: these ask for an entry's memory ahead of its test. Its head (the links to its
    // access and line) some rows ahead, then, once the head is there, the rest of it: access,
    // side texts and line lie behind it in one stretch.
    static void PrefetchHead(const LogEntry* entry);
    static void PrefetchBody(const LogEntry* entry);

private:
    const TextPattern* Pattern_;
    std::vector<EntryCell> Cells_;
    EntryTexts Texts_;
    std::string Lines_;
    std::string Scratch_;
};

} // namespace kavel
