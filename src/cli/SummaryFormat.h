#pragma once

#include "acquisition/AccessSummary.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kavel::cli {

// One of the counts that open the summary ("lines read", "accepted", ...).
struct NamedCount {
    std::string_view Name;
    std::int64_t Value;
};

// The panels' names as kavel-cli prints them, in text and (with "_" for blanks) as JSON keys.
std::string_view PanelName(SummaryPanel panel);

// The summary as text: each count as its name, a tab and the number; with top above 0 then the
// totals of the overview in the same form and every panel: a blank line, its name, a tab and
// its number of distinct keys, then one line per row of the top ones (0: all), each a tab, the
// count, a tab, the share of the panel's sum in percent, a tab and the row's label (escaped as
// the fields of a line are).
std::string FormatSummaryText(std::span<const NamedCount> counts, const AccessSummary& summary,
                              std::size_t top, bool panels);

// The summary as one JSON object: the counts, the totals, and per panel its distinct keys, its
// sum and the top rows (key, label for numbered panels, count, share as a fraction).
std::string FormatSummaryJson(std::span<const NamedCount> counts, const AccessSummary& summary,
                              std::size_t top);

} // namespace kavel::cli
