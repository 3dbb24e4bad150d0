#pragma once

#include "parsing/Filter.h"

namespace kavel {

class TQueue;

// Sets IsDocument and, for documents, VisitorState through the revisit rule; entry is the
// record's queue entry (not yet in the queue).
void ClassifyDocument(TFilter& record, const TQueue& entry);
// Sets IsBuddy: the buddies list holds the record's HostName, compared ignoring case.
void ClassifyBuddy(TFilter& record);

} // namespace kavel
