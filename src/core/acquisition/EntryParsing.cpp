#include "acquisition/EntryParsing.h"

#include "acquisition/EntryArena.h"
#include "acquisition/RevisitRule.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "config/AppSettings.h"
#include "net/NamePass.h"
#include "parsing/Parsers.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/Clock.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace kavel {

namespace {

bool IsExpiredAt(const Server* server, DateTime time, DateTime now) {
    if (!server)
        return false;
    const std::int64_t limit = server->TimeDeleteAfter();
    if (server->TimeDeleteAfterUnit() == KeepUnit::Hours)
        return WholeHoursBetween(time, now) >= limit;
    return WholeDaysBetween(time, now) >= limit;
}

bool IsExpiredAt(const Server* server, DateTime time) {
    return IsExpiredAt(server, time, platform::Now());
}

// The access of a line with its time (left alone when the line names none), the revisit rule
// applied unless visitorState is false; none for a line that is no access, and none for a line
// whose names settings.Names gives up on (still being looked up).
std::unique_ptr<AccessRecord> ParseAccess(std::string_view line, Server* server, bool draft,
                                          const EntrySettings& settings, DateTime& time,
                                          bool visitorState = true) {
    if (!line.empty() && line[0] == '#') {
        // A W3C log declares its field order in a directive; the lines after it follow it.
        if (server && server->LogType() == LogFormat::W3c)
            if (std::optional<W3cFieldLayout> layout = ParseW3cDirective(line))
                server->SetW3cLayout(std::make_shared<const W3cFieldLayout>(std::move(*layout)));
        return nullptr;
    }
    if (!line.empty() && line[0] == ' ')
        return nullptr;
    if (!server)
        return nullptr;
    ParseOptions options;
    options.W3cFields = server->W3cFields();
    options.W3cLayout = server->W3cLayout();
    options.TimeZone = server->TimeZone();
    options.ResolveNames = settings.ResolveNames;
    options.Names = settings.Names;
    if (settings.Space != nullptr) {
        options.Lists = &settings.Space->Lists();
        options.Cache = &settings.Space->Names();
    }
    options.Draft = draft;
    ParsedLine parsed;
    switch (server->LogType()) {
    case LogFormat::Ncsa:
        parsed = ParseNcsa(line, options);
        break;
    case LogFormat::W3c:
        parsed = ParseW3c(line, options);
        break;
    default:
        return nullptr;
    }
    if (!parsed.Record)
        return nullptr;
    // Found while the line is at hand, so that lists and counts never read it again for them.
    parsed.Record->SetRequestFacts(FindRequestFacts(*parsed.Record));
    if (parsed.Time)
        time = *parsed.Time;
    // Names are asked for only for a line that is kept; nothing is decided for a line that waits
    // for its names (the rule below remembers a revisitor by its name).
    if (settings.Names != nullptr && settings.Names->HasUnanswered() && !IsExpiredAt(server, time)) {
        settings.Names->AskMissing();
        if (settings.Names->ShouldDefer()) {
            settings.Names->Defer();
            return nullptr;
        }
    }
    // The rule runs before the keep period is applied: an old access still tells that its
    // visitor came back.
    if (visitorState && parsed.Record->IsDocument && settings.Space != nullptr)
        ApplyRevisitRule(*parsed.Record, time, settings.Space->Entries(), settings.Space->Revisitors(),
                         settings.RevisitorAfterMinutes);
    return std::move(parsed.Record);
}

} // namespace

bool ParseEntry(LogEntry& entry, const EntrySettings& settings, KeepPeriod keep) {
    std::unique_ptr<AccessRecord> access = ParseAccess(entry.Line, entry.Server, false, settings, entry.Time);
    if (!access)
        return false;
    entry.SetAccess(std::move(access));
    if (keep == KeepPeriod::Applied && IsExpired(entry)) {
        entry.SetAccess(nullptr);
        return false;
    }
    return true;
}

EntrySettings EntrySettings::Of(Workspace& space) {
    EntrySettings settings;
    const SettingsStore* options = space.Options();
    settings.Space = &space;
    settings.ResolveNames = OptionMiscDnsResolve(options);
    settings.RevisitorAfterMinutes = OptionTimeRevisitorAfterMinutes(options);
    settings.NameDeadline = std::chrono::milliseconds{OptionMiscDnsDeadlineMs(options)};
    return settings;
}

bool LineWithinKeepPeriod(std::string_view line, Server& server) {
    DateTime time = platform::Now();
    const EntrySettings withoutNames;
    const std::unique_ptr<AccessRecord> draft = ParseAccess(line, &server, true, withoutNames, time, false);
    return draft && !IsExpiredAt(&server, time);
}

void AskNamesOfLine(std::string_view line, Server& server, const EntrySettings& settings) {
    if (!settings.ResolveNames || line.empty() || line[0] == '#')
        return;
    DateTime time = platform::Now();
    ParseAccess(line, &server, true, settings, time, false);
}

// The entry of a parsed line: entry and access with its side texts in one allocation, freed by
// the entry's operator delete; the line in the calling thread's line block, or after the access
// when it goes into none.
struct EntryPlacement {
    static std::unique_ptr<LogEntry> Place(std::string_view line, Server& server, const AccessRecord& draft,
                                           DateTime time);
};

std::unique_ptr<LogEntry> EntryPlacement::Place(std::string_view line, Server& server,
                                                const AccessRecord& draft, DateTime time) {
    const std::uint32_t lineSize = LineText::CheckedSize(line.size());
    // The access' texts that are no slices of the line follow it, in its line block where they
    // are compressed with it.
    const std::string_view side = draft.SideTextsFor(line);
    const bool sideWithLine = !side.empty();
    const std::size_t kept = LineText::CheckedSize(line.size() + side.size());
    const BlockLine blockLine = CutBlockLine(kept);
    const bool inBlock = blockLine.Key != nullptr;
    constexpr std::size_t entrySize = LogEntry::AccessOffset;
    static_assert(entrySize == AlignedForEntry(sizeof(LogEntry)), "the access would not follow its entry");
    const std::size_t accessSize = draft.PlacedSize(sideWithLine);
    const std::size_t total = entrySize + accessSize + (inBlock ? 0 : kept);
    char* memory = nullptr;
    try {
        memory = static_cast<char*>(CutPooledEntry(total));
    } catch (...) {
        ReleaseBlockLine(blockLine.Key);
        throw;
    }
    char* lineCopy = inBlock ? blockLine.Bytes : memory + entrySize + accessSize;
    if (!line.empty())
        std::memcpy(lineCopy, line.data(), line.size());
    if (sideWithLine)
        std::memcpy(lineCopy + line.size(), side.data(), side.size());
    const char* lineKey = inBlock ? blockLine.Key : lineCopy;
    std::unique_ptr<LogEntry> entry(::new (memory) LogEntry(LineText::Borrowed(lineKey, lineSize), &server));
    entry->Time = time;
    draft.PlaceCopy(memory + entrySize, inBlock ? entry->Line.KeyAddress() : nullptr, sideWithLine);
    entry->Bits_ = static_cast<std::uint8_t>(entry->Bits_ | LogEntry::AccessPlacedBit);
    return entry;
}

std::unique_ptr<LogEntry> MakeEntry(std::string_view line, Server& server, const EntrySettings& settings) {
    DateTime time = platform::Now();
    const std::unique_ptr<AccessRecord> draft = ParseAccess(line, &server, true, settings, time);
    if (!draft || IsExpiredAt(&server, time))
        return nullptr;
    return EntryPlacement::Place(line, server, *draft, time);
}

UnvisitedEntry MakeUnvisitedEntry(std::string_view line, Server& server, const EntrySettings& settings) {
    UnvisitedEntry made;
    EntrySettings withoutNames = settings;
    withoutNames.ResolveNames = false;
    withoutNames.Names = nullptr;
    DateTime time = platform::Now();
    const std::unique_ptr<AccessRecord> draft = ParseAccess(line, &server, true, withoutNames, time, false);
    if (!draft)
        return made;
    if (!IsExpiredAt(&server, time)) {
        made.Entry = EntryPlacement::Place(line, server, *draft, time);
    } else if (draft->IsDocument) {
        made.Past = PastVisit{std::string(draft->Address()), std::string(draft->HostName()), time};
    }
    return made;
}

void ApplyRevisitRule(UnvisitedEntry& made, const EntrySettings& settings) {
    if (settings.Space == nullptr)
        return;
    EntryQueue& queue = settings.Space->Entries();
    RevisitorList& revisitors = settings.Space->Revisitors();
    if (made.Entry) {
        AccessRecord& access = *made.Entry->Access();
        if (!access.IsDocument)
            return;
        const LinePin pin(*made.Entry);
        ApplyRevisitRule(access, made.Entry->Time, queue, revisitors, settings.RevisitorAfterMinutes);
    } else if (made.Past) {
        ApplyRevisitRule(made.Past->Address, made.Past->Host, made.Past->Time, queue, revisitors,
                         settings.RevisitorAfterMinutes);
    }
}

bool IsExpired(const LogEntry& entry) {
    return IsExpiredAt(entry.Server, entry.Time);
}

bool IsExpired(const LogEntry& entry, DateTime now) {
    return IsExpiredAt(entry.Server, entry.Time, now);
}

} // namespace kavel
