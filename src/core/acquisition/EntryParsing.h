#pragma once

// Parsing a log line into a queue entry: MakeEntry makes the entry of a line, ParseEntry parses
// the line of an entry made before.

#include "acquisition/EntryQueue.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

class NamePass;
class Server;
class Workspace;

// The settings the parse of a line reads, read by a reader once for a run of lines: looking a
// setting up costs more than parsing a short line.
struct EntrySettings {
    // The lists that classify the access, the name cache and, for the revisit rule, the queue
    // and the revisitors; none parses without them (no classification, no names, no rule).
    Workspace* Space = nullptr;
    bool ResolveNames = false;
    std::int32_t RevisitorAfterMinutes = 0;
    // With ResolveNames: the names come from it without waiting, and a line whose names it
    // gives up on makes no entry (to be parsed again once they are answered). None: the parse
    // waits for each look-up.
    NamePass* Names = nullptr;
    // How long a reader's line waits for its names.
    std::chrono::milliseconds NameDeadline{0};
    // The workspace's options now.
    static EntrySettings Of(Workspace& space);
};

// The kept entry of a line, made in one allocation with its line, access and texts (the
// access' texts slices of the line where they can be): the line parsed by its server's log
// type, a document access given its visitor state by the revisit rule, and the keep period
// applied. None for a line that is no access or is older than the keep period (a W3C
// "#Fields:" directive still takes effect).
std::unique_ptr<LogEntry> MakeEntry(std::string_view line, kavel::Server& server,
                                    const EntrySettings& settings);

// What MakeEntry makes of a line with the revisit rule left out, so that lines can be made on
// another thread while the rule, which depends on the entries before, follows in the order of
// the lines (ApplyRevisitRule below). Names are never looked up.
struct PastVisit {
    std::string Address;
    std::string Host;
    DateTime Time;
};
struct UnvisitedEntry {
    std::unique_ptr<LogEntry> Entry;
    // A document access older than the keep period makes no entry, but still tells that its
    // visitor came back.
    std::optional<PastVisit> Past;
};
UnvisitedEntry MakeUnvisitedEntry(std::string_view line, kavel::Server& server,
                                  const EntrySettings& settings);
// The revisit rule for a line made by MakeUnvisitedEntry, the lines before it made and queued.
void ApplyRevisitRule(UnvisitedEntry& made, const EntrySettings& settings);

// Whether ParseEntry drops an access older than the keep period.
enum class KeepPeriod { Applied, Ignored };
// MakeEntry for an entry that exists already: parses its line and gives it its access and time;
// true when it is to stay. With the keep period ignored, every access stays, whatever its age.
bool ParseEntry(LogEntry& entry, const EntrySettings& settings, KeepPeriod keep = KeepPeriod::Applied);

// Keep-period test against the current local time, or against now (a sweep over many entries
// asks the clock once).
bool IsExpired(const LogEntry& entry);
bool IsExpired(const LogEntry& entry, DateTime now);

// Whether the line would make an entry within the server's keep period, asked without names and
// without any entry memory (the start search's probes).
bool LineWithinKeepPeriod(std::string_view line, Server& server);
// Parses the line only so that settings.Names asks for its addresses; nothing else is decided
// (the visitor state is not, so the revisitors stay as they are). A directive line is left
// alone: it takes effect when the line's turn comes.
void AskNamesOfLine(std::string_view line, Server& server, const EntrySettings& settings);

} // namespace kavel
