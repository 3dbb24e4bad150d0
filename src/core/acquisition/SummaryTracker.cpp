#include "acquisition/SummaryTracker.h"

#include "acquisition/EntryQueue.h"

#include <limits>
#include <utility>

namespace kavel {

DateTime SpanStart(SummarySpan span, DateTime now) {
    switch (span) {
    case SummarySpan::LastHour:
        return DateTime{(MinuteOfTime(now) - 59) * MsPerMinute};
    case SummarySpan::Today: {
        const std::int64_t day = now.Ms >= 0 ? now.Ms / MsPerDay : -((-now.Ms + MsPerDay - 1) / MsPerDay);
        return DateTime{day * MsPerDay};
    }
    case SummarySpan::KeepPeriod:
        break;
    }
    return DateTime{std::numeric_limits<std::int64_t>::min()};
}

SummaryTracker::SummaryTracker(EntryQueue& queue, const SpiderList& spiders)
    : Queue_(queue)
    , Counts_(spiders)
    , Pending_(spiders) {
    BeginRecount();
}

void SummaryTracker::BeginRecount() {
    Recounting_ = true;
    RestartPending_ = true;
    ++Recounts_;
}

void SummaryTracker::Restart(SummaryScope scope, DateTime now) {
    Scope_ = std::move(scope);
    Restart(now);
}

void SummaryTracker::Restart(DateTime now) {
    Start_ = SpanStart(Scope_.Span, now).Ms;
    BeginRecount();
}

bool SummaryTracker::Tick(DateTime now) {
    const std::int64_t start = SpanStart(Scope_.Span, now).Ms;
    if (start == Start_)
        return false;
    Start_ = start;
    BeginRecount();
    return true;
}

bool SummaryTracker::InScope(const LogEntry& entry) const {
    return entry.Access() != nullptr && (Scope_.OnlyServer == nullptr || entry.Server == Scope_.OnlyServer) &&
           entry.Time.Ms >= Start_ && (!Scope_.Admit || Scope_.Admit(entry));
}

bool SummaryTracker::Advance(AccessSummary& summary, std::size_t budget) {
    for (std::size_t looked = 0;; ++looked) {
        const LogEntry* next = Cursor_ == nullptr ? Queue_.First() : Queue_.Next(Cursor_);
        if (next == nullptr)
            return true;
        if (looked == budget)
            return false;
        if (InScope(*next))
            summary.Add(*next);
        Cursor_ = next;
    }
}

void SummaryTracker::CatchUp() {
    if (!Recounting_)
        Advance(Counts_, std::numeric_limits<std::size_t>::max());
}

void SummaryTracker::Forget(const LogEntry& entry) {
    if (Recounting_) {
        RestartPending_ = true;
        Cursor_ = nullptr;
        return;
    }
    // Every entry up to the end has been looked at afterwards, this one included.
    Advance(Counts_, std::numeric_limits<std::size_t>::max());
    if (Cursor_ == &entry)
        Cursor_ = Queue_.Prev(&entry);
    if (InScope(entry))
        Counts_.Subtract(entry);
}

bool SummaryTracker::Step(std::size_t budget) {
    if (!Recounting_)
        return true;
    if (RestartPending_) {
        Pending_.Clear();
        Cursor_ = nullptr;
        RestartPending_ = false;
    }
    if (!Advance(Pending_, budget))
        return false;
    std::swap(Counts_, Pending_);
    Pending_.Clear();
    Recounting_ = false;
    return true;
}

} // namespace kavel
