#pragma once

#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <string_view>

namespace kavel {

class EntryQueue;
class LogEntry;
class RevisitorList;

// The revisit rule: sets VisitorState of a document record and may list its address as a
// revisitor. Reads the process-wide entry queue under its shared lock; the threshold is the
// option TimeRevisitorAfterMinutes. entry is the record's entry, not yet in the queue.
void ApplyRevisitRule(AccessRecord& record, const LogEntry& entry);
// The same rule against a given queue, list and threshold (tests, benchmarks).
void ApplyRevisitRule(AccessRecord& record, const LogEntry& entry, const EntryQueue& queue,
                      RevisitorList& revisitors, std::int32_t thresholdMinutes);
// The rule for an access at time whose entry is not made yet.
void ApplyRevisitRule(AccessRecord& record, DateTime time);
// The same with the threshold read by the caller once for a run of lines.
void ApplyRevisitRule(AccessRecord& record, DateTime time, std::int32_t thresholdMinutes);
// The rule for an access that is not kept (older than the keep period): it still tells that its
// visitor came back, and may list its address.
void ApplyRevisitRule(std::string_view address, std::string_view host, DateTime time,
                      std::int32_t thresholdMinutes);

} // namespace kavel
