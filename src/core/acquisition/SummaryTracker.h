#pragma once

#include "acquisition/AccessSummary.h"
#include "platform/DateTime.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

namespace kavel {

class SpiderList;

class EntryQueue;
class LogEntry;
class Server;

// The time span the overview counts: the current clock minute and the 59 before it, today since
// midnight, or everything the queue holds.
enum class SummarySpan : std::uint8_t { LastHour, Today, KeepPeriod };

// The earliest time of the span at now; entries at or after it count (later ones too: a log
// whose clock runs ahead is still counted).
DateTime SpanStart(SummarySpan span, DateTime now);

// Which entries of the queue count: those of one server (none: all), within the span, and
// admitted by a test of the caller's (display filters, quick filter). The test must decide alike
// for an entry as long as the scope stays: give a new scope when what it reads changes.
struct SummaryScope {
    const Server* OnlyServer = nullptr;
    SummarySpan Span = SummarySpan::KeepPeriod;
    std::function<bool(const LogEntry&)> Admit;
};

// Keeps an AccessSummary equal to the counts of the entries in scope, following the queue in
// its order: a cursor marks the last entry looked at. A take-over counts the entries after the
// cursor (CatchUp); an entry leaving the queue is subtracted when it was counted; a new scope, or
// a span that moved on with the clock, recounts from the oldest entry in slices (Step), which
// the caller runs between other work. A recount builds its counts aside and the last complete
// ones stay readable until it ends; a newer recount ends an older one.
//
// Main thread only, as the queue's removals are; readers may append meanwhile.
class SummaryTracker {
public:
    // The spiders list names the spiders counted (AccessSummary).
    SummaryTracker(EntryQueue& queue, const SpiderList& spiders);
    SummaryTracker(const SummaryTracker&) = delete;
    SummaryTracker& operator=(const SummaryTracker&) = delete;

    // A new scope, counted from scratch; now fixes the span's start.
    void Restart(SummaryScope scope, DateTime now);
    // The same scope again (what it reads changed: a server was renamed or deleted).
    void Restart(DateTime now);
    // The span's start at now: a recount when it moved (a new minute for the last hour, a new
    // day for today). True when a recount started.
    bool Tick(DateTime now);

    // Counts the entries appended since the last look (nothing while a recount runs: its
    // slices reach them).
    void CatchUp();
    // Before entry leaves the queue: subtracted when it was counted. While a recount runs, the
    // recount starts over instead (the entry may lie before or after its cursor).
    void Forget(const LogEntry& entry);

    // One slice of a recount: at most budget entries are looked at. True when no recount is
    // left (the counts are complete).
    bool Step(std::size_t budget);
    bool Recounting() const { return Recounting_; }

    // The last complete counts.
    const AccessSummary& Counts() const { return Counts_; }
    const SummaryScope& Scope() const { return Scope_; }
    DateTime Start() const { return DateTime{Start_}; }
    // Whether the entry counts in the current scope.
    bool InScope(const LogEntry& entry) const;
    // Recounts begun, for tests and the window's progress display.
    std::uint64_t Recounts() const { return Recounts_; }

private:
    // Looks at the entries after the cursor, counting those in scope into summary, until the
    // end of the queue or until budget entries were looked at; true at the end.
    bool Advance(AccessSummary& summary, std::size_t budget);
    void BeginRecount();

    EntryQueue& Queue_;
    SummaryScope Scope_;
    std::int64_t Start_ = std::numeric_limits<std::int64_t>::min();
    AccessSummary Counts_;
    AccessSummary Pending_;
    // The last entry looked at; none: the next is the oldest.
    const LogEntry* Cursor_ = nullptr;
    bool Recounting_ = false;
    // A recount must start again from the oldest entry at its next slice.
    bool RestartPending_ = false;
    std::uint64_t Recounts_ = 0;
};

} // namespace kavel
