#pragma once

// The image numbers in kavel-cli's output: the positions of the window's small images, as
// records and summaries have always printed them. Scripts read them; they must not change.

#include "acquisition/AccessSummary.h"
#include "parsing/AccessRecord.h"
#include "parsing/SuspiciousRequests.h"

namespace kavel::cli {

// -1 for an access that marks no visitor (a page element).
int ImageNumber(VisitorMark visitor);
int ImageNumber(BrowserKind browser);
int ImageNumber(SuspicionKind kind);
int ImageNumber(AgentGroup group);
// The image of a failed request (error true) or of a served one.
int StatusImageNumber(bool error);

} // namespace kavel::cli
