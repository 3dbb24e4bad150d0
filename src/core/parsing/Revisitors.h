#pragma once

#include "parsing/Filter.h"

namespace kavel {

class TQueue;

// The revisit rule: sets VisitorState of a document record and may list its address.
void ApplyRevisitRule(TFilter& record, const TQueue& entry);

} // namespace kavel
