#pragma once

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// The forms a list is written in.
enum class TableFormat {
    // RFC 4180: fields separated by commas, a field with a comma, a double quote or a line break
    // in double quotes (its quotes doubled), lines ending in CR LF, a header line first. A field
    // that a spreadsheet would take for a formula (starting with "=", "+", "-", "@", a tab or a
    // CR; a lone "-" excepted) gets a leading apostrophe: log texts come from strangers.
    Csv,
    // JSON Lines: one object per row, the column names as keys and the texts as strings, in
    // column order; no header.
    JsonLines,
    // For the clipboard: a header line, tab-separated fields, lines ending in LF. Tabs and line
    // breaks inside a field become blanks, so that each row stays one line.
    Tsv,
};

// Writes the rows of a table of UTF-8 texts (ill-formed UTF-8 in JSON becomes U+FFFD).
class TableWriter {
public:
    TableWriter(TableFormat format, std::vector<std::string> columns);

    // What stands before the first row: the header line (none for JSON Lines).
    void AppendStart(std::string& out) const;
    // One row; cells beyond the columns are ignored, missing cells are empty.
    void AppendRow(std::string& out, std::span<const std::string_view> cells) const;

private:
    void AppendLine(std::string& out, std::span<const std::string_view> cells) const;

    TableFormat Format_;
    std::vector<std::string> Columns_;
};

// Writes the table to file, replacing it as a whole (a temporary file renamed into place):
// nextRow fills cells with the next row's texts and returns false after the last. Throws
// std::system_error when the file cannot be written; the old file then stays as it was.
void ExportTable(const std::filesystem::path& file, TableFormat format, std::vector<std::string> columns,
                 const std::function<bool(std::vector<std::string_view>& cells)>& nextRow);

} // namespace kavel
