#include "acquisition/RevisitRule.h"

#include "acquisition/EntryQueue.h"
#include "parsing/RevisitorList.h"

#include <optional>
#include <string_view>

namespace kavel {

namespace {

// The rule with the threshold asked for only when a queued access has to be measured: the
// visitor state of an access of host from address at time, none while the host is new.
template <class Threshold>
std::optional<VisitorKind> RevisitState(std::string_view address, std::string_view host, DateTime time,
                                        const EntryQueue& queue, RevisitorList& revisitors,
                                        Threshold threshold) {
    if (revisitors.Contains(address))
        return VisitorKind::Revisitor;
    // The walk back through the host's earlier accesses ends at the first one that makes the
    // visitor a revisitor, so the outcome depends only on whether such an access exists:
    // one of a revisitor, or one whose distance exceeds the threshold, and the distance is
    // largest at the earliest or the latest of them.
    bool revisit = false;
    {
        // Held while the summary is read so that the main thread cannot change the chain.
        const auto lock = queue.ReadLock();
        const std::optional<EntryQueue::HostSummary> summary = queue.SummaryOf(host);
        if (!summary)
            return std::nullopt;
        if (summary->AnyRevisitor) {
            revisit = true;
        } else {
            const std::int64_t t = threshold();
            revisit = WholeMinutesBetween(summary->Earliest, time) > t ||
                      WholeMinutesBetween(summary->Latest, time) > t;
        }
    }
    if (!revisit)
        return VisitorKind::Known;
    if (!address.empty() && !host.empty())
        revisitors.Add(address, host);
    return VisitorKind::Revisitor;
}

template <class Threshold>
void RevisitRule(AccessRecord& record, DateTime time, const EntryQueue& queue, RevisitorList& revisitors,
                 Threshold threshold) {
    if (const std::optional<VisitorKind> state =
            RevisitState(record.Address(), record.HostName(), time, queue, revisitors, threshold))
        record.VisitorState = *state;
}

} // namespace

void ApplyRevisitRule(AccessRecord& record, DateTime time, const EntryQueue& queue, RevisitorList& revisitors,
                      std::int32_t thresholdMinutes) {
    RevisitRule(record, time, queue, revisitors, [thresholdMinutes] { return thresholdMinutes; });
}

void ApplyRevisitRule(AccessRecord& record, const LogEntry& entry, const EntryQueue& queue,
                      RevisitorList& revisitors, std::int32_t thresholdMinutes) {
    ApplyRevisitRule(record, entry.Time, queue, revisitors, thresholdMinutes);
}

void ApplyRevisitRule(std::string_view address, std::string_view host, DateTime time, const EntryQueue& queue,
                      RevisitorList& revisitors, std::int32_t thresholdMinutes) {
    RevisitState(address, host, time, queue, revisitors, [thresholdMinutes] { return thresholdMinutes; });
}

} // namespace kavel
