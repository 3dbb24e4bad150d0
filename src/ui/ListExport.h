#pragma once

#include "base/TableExport.h"

#include <QString>
#include <filesystem>
#include <vector>

class QTableView;

namespace kavel::ui {

// A column of a list as it is copied and exported: the model column and its header.
struct ListColumn {
    int Column = 0;
    QString Header;
};

// The columns that the view shows with text, in their visual order: hidden columns and the
// image columns (no header text) are left out.
std::vector<ListColumn> TextColumns(const QTableView& view);

// The selected rows of the view, in the view's order, as the clipboard gets them: tab-separated
// with a header line. The raw list's rows are the lines as they were logged (valid UTF-8 as it is,
// other bytes read as Windows-1252), one a line and without a header. The view's model is a
// ListFilterModel, or a sort above one.
QString SelectedRowsText(const QTableView& view);

// Writes every row that the view shows now, in its columns, as the window shows the texts, to
// file; the file is replaced only when all was written. Throws std::system_error.
void ExportRows(const QTableView& view, const std::filesystem::path& file, TableFormat format);

} // namespace kavel::ui
