#pragma once

#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <string_view>

namespace kavel {

class EntryQueue;
class LogEntry;
class RevisitorList;

// The revisit rule: sets VisitorState of a document record at time and may list its address in
// revisitors. Reads the queue under its shared lock, with the threshold in minutes; the
// record's entry is not in the queue yet.
void ApplyRevisitRule(AccessRecord& record, DateTime time, const EntryQueue& queue, RevisitorList& revisitors,
                      std::int32_t thresholdMinutes);
// The same for the record of an entry made but not queued yet.
void ApplyRevisitRule(AccessRecord& record, const LogEntry& entry, const EntryQueue& queue,
                      RevisitorList& revisitors, std::int32_t thresholdMinutes);
// The rule for an access that is not kept (older than the keep period): it still tells that its
// visitor came back, and may list its address.
void ApplyRevisitRule(std::string_view address, std::string_view host, DateTime time, const EntryQueue& queue,
                      RevisitorList& revisitors, std::int32_t thresholdMinutes);

} // namespace kavel
