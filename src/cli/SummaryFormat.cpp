#include "SummaryFormat.h"

#include "EntryFormat.h"
#include "ImageNumbers.h"

#include <cstdio>
#include <vector>

namespace kavel::cli {

namespace {

constexpr std::string_view ClassNames[StatusClassCount] = {"1xx", "2xx", "3xx", "4xx", "5xx", "other"};

std::string JsonKey(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
        if (c == ' ')
            c = '_';
    }
    return key;
}

double Share(std::int64_t count, std::int64_t total) {
    return total > 0 ? static_cast<double>(count) / static_cast<double>(total) : 0.0;
}

std::string Fixed(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The totals after the counts, in both forms.
struct TotalLine {
    std::string_view Name;
    std::int64_t Value;
};

std::vector<TotalLine> TotalLines(const SummaryTotals& totals) {
    return {{"visitors", totals.Visitors}, {"bytes", totals.Bytes}, {"errors", totals.Errors}};
}

} // namespace

std::string_view PanelName(SummaryPanel panel) {
    switch (panel) {
    case SummaryPanel::Status:
        return "status codes";
    case SummaryPanel::Pages:
        return "pages";
    case SummaryPanel::Documents:
        return "documents";
    case SummaryPanel::NotFound:
        return "pages not found";
    case SummaryPanel::Clients:
        return "client addresses";
    case SummaryPanel::Referers:
        return "referring sites";
    case SummaryPanel::Agents:
        return "user agents";
    case SummaryPanel::Spiders:
        return "spiders";
    case SummaryPanel::Exceptions:
        return "exceptions";
    }
    return "?";
}

std::string FormatSummaryText(std::span<const NamedCount> counts, const AccessSummary& summary,
                              std::size_t top, bool panels) {
    std::string text;
    const auto line = [&text](std::string_view name, std::int64_t value) {
        text += name;
        text += '\t';
        text += std::to_string(value);
        text += '\n';
    };
    for (const NamedCount& count : counts)
        line(count.Name, count.Value);
    if (!panels)
        return text;
    const SummaryTotals& totals = summary.Totals();
    for (const TotalLine& total : TotalLines(totals))
        line(total.Name, total.Value);
    for (std::size_t i = 0; i < StatusClassCount; ++i)
        line("status " + std::string(ClassNames[i]), totals.ByClass[i]);
    for (const SummaryPanel panel : AllSummaryPanels) {
        text += '\n';
        text += PanelName(panel);
        text += '\t';
        text += std::to_string(summary.Distinct(panel));
        text += '\n';
        const std::int64_t sum = summary.PanelTotal(panel);
        for (const PanelRow& row : summary.Top(panel, top)) {
            text += '\t';
            text += std::to_string(row.Count);
            text += '\t';
            text += Fixed("%.1f%%", 100.0 * Share(row.Count, sum));
            text += '\t';
            AppendEscaped(text, PanelRowLabel(panel, row.Number, row.Text));
            text += '\n';
        }
    }
    return text;
}

std::string FormatSummaryJson(std::span<const NamedCount> counts, const AccessSummary& summary,
                              std::size_t top) {
    JsonBuilder json;
    for (const NamedCount& count : counts)
        json.Number(JsonKey(count.Name), count.Value);
    const SummaryTotals& totals = summary.Totals();
    for (const TotalLine& total : TotalLines(totals))
        json.Number(total.Name, total.Value);
    JsonBuilder classes;
    for (std::size_t i = 0; i < StatusClassCount; ++i)
        classes.Number(ClassNames[i], totals.ByClass[i]);
    json.Raw("status_classes", classes.Take());

    JsonBuilder panels;
    for (const SummaryPanel panel : AllSummaryPanels) {
        const std::int64_t sum = summary.PanelTotal(panel);
        std::string rows = "[";
        for (const PanelRow& row : summary.Top(panel, top)) {
            if (rows.size() > 1)
                rows += ',';
            JsonBuilder item;
            if (IsNumberPanel(panel)) {
                // Agent groups keep the image numbers summaries have always printed.
                item.Number("key", panel == SummaryPanel::Agents
                                       ? ImageNumber(static_cast<AgentGroup>(row.Number))
                                       : row.Number);
                item.Text("label", PanelRowLabel(panel, row.Number, row.Text));
            } else {
                item.Text("key", row.Text);
            }
            item.Number("count", row.Count);
            item.Raw("share", Fixed("%.4f", Share(row.Count, sum)));
            rows += item.Take();
        }
        rows += ']';
        JsonBuilder body;
        body.Number("distinct", static_cast<std::int64_t>(summary.Distinct(panel)));
        body.Number("total", sum);
        body.Raw("rows", rows);
        panels.Raw(JsonKey(PanelName(panel)), body.Take());
    }
    json.Raw("panels", panels.Take());
    return json.Take();
}

} // namespace kavel::cli
