#include "ui/ListExport.h"

#include "acquisition/EntryCells.h"
#include "acquisition/EntryQueue.h"
#include "base/LineBlocks.h"
#include "base/ShownText.h"
#include "ui/ListFilterModel.h"

#include <QAbstractProxyModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>
#include <optional>

namespace kavel::ui {
namespace {

std::string Utf8(const QString& text) {
    return text.toStdString();
}

// The quick filter under the view's model: the model itself, or the source of a sort above it.
const ListFilterModel* FilterUnder(const QAbstractItemModel* model) {
    while (model != nullptr) {
        if (const auto* filter = qobject_cast<const ListFilterModel*>(model))
            return filter;
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model);
        model = proxy != nullptr ? proxy->sourceModel() : nullptr;
    }
    return nullptr;
}

// The entry of a row of the view's model, through the models above the filter.
const LogEntry* EntryOfRow(const QAbstractItemModel* model, const ListFilterModel* filter, int row) {
    if (filter == nullptr)
        return nullptr;
    QModelIndex index = model->index(row, 0);
    while (index.isValid() && index.model() != filter) {
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model());
        if (proxy == nullptr)
            return nullptr;
        index = proxy->mapToSource(index);
    }
    return index.isValid() ? filter->EntryAt(index.row()) : nullptr;
}

// The texts of one row of the view's model, column by column; cells the core makes come from
// there, the others (the arrival number) from the model.
class RowTexts {
public:
    RowTexts(const QTableView& view, const std::vector<ListColumn>& columns)
        : Model_(view.model())
        , Filter_(FilterUnder(view.model()))
        , Columns_(columns)
        , Texts_(columns.size()) {
        if (Filter_ != nullptr)
            Cells_.emplace(Filter_->Spiders());
    }

    const std::vector<std::string_view>& Row(int row) {
        const LogEntry* entry = EntryOfRow(Model_, Filter_, row);
        Views_.clear();
        for (std::size_t i = 0; i < Columns_.size(); ++i) {
            std::string& text = Texts_[i];
            text.clear();
            const int column = Columns_[i].Column;
            const auto cell = Filter_ ? Filter_->CellOf(column) : std::nullopt;
            if (entry != nullptr && cell)
                Cells_->AppendText(text, *entry, *cell);
            else
                text = Utf8(Model_->index(row, column).data(Qt::DisplayRole).toString());
            Views_.push_back(text);
        }
        return Views_;
    }

private:
    const QAbstractItemModel* Model_;
    const ListFilterModel* Filter_;
    const std::vector<ListColumn>& Columns_;
    // Where the filter is: the cells it makes, as it makes them.
    std::optional<EntryTexts> Cells_;
    std::vector<std::string> Texts_;
    std::vector<std::string_view> Views_;
};

std::vector<std::string> Headers(const std::vector<ListColumn>& columns) {
    std::vector<std::string> headers;
    for (const ListColumn& column : columns)
        headers.push_back(Utf8(column.Header));
    return headers;
}

bool IsRawList(const QTableView& view, const std::vector<ListColumn>& columns) {
    const ListFilterModel* filter = FilterUnder(view.model());
    return filter != nullptr && columns.size() == 1 && filter->CellOf(columns[0].Column) == EntryCell::Line;
}

} // namespace

std::vector<ListColumn> TextColumns(const QTableView& view) {
    std::vector<ListColumn> columns;
    const QAbstractItemModel* model = view.model();
    const QHeaderView* header = view.horizontalHeader();
    if (model == nullptr)
        return columns;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (view.isColumnHidden(column))
            continue;
        QString name = model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().trimmed();
        if (name.isEmpty())
            continue;
        columns.push_back({column, std::move(name)});
    }
    return columns;
}

QString SelectedRowsText(const QTableView& view) {
    const QItemSelectionModel* selection = view.selectionModel();
    if (selection == nullptr)
        return {};
    std::vector<int> rows;
    for (const QModelIndex& index : selection->selectedRows())
        rows.push_back(index.row());
    if (rows.empty())
        return {};
    std::sort(rows.begin(), rows.end());
    const std::vector<ListColumn> columns = TextColumns(view);
    std::string text;
    if (IsRawList(view, columns)) {
        const ListFilterModel* filter = FilterUnder(view.model());
        for (const int row : rows) {
            if (const LogEntry* entry = EntryOfRow(view.model(), filter, row)) {
                const LinePin pin(*entry);
                AppendLoggedText(text, entry->Line.View());
            }
            text += '\n';
        }
        return QString::fromStdString(text);
    }
    const TableWriter writer(TableFormat::Tsv, Headers(columns));
    writer.AppendStart(text);
    RowTexts texts(view, columns);
    for (const int row : rows)
        writer.AppendRow(text, texts.Row(row));
    return QString::fromStdString(text);
}

void ExportRows(const QTableView& view, const std::filesystem::path& file, TableFormat format) {
    const std::vector<ListColumn> columns = TextColumns(view);
    RowTexts texts(view, columns);
    const int rows = view.model() ? view.model()->rowCount() : 0;
    int next = 0;
    ExportTable(file, format, Headers(columns), [&](std::vector<std::string_view>& cells) {
        if (next >= rows)
            return false;
        const auto& row = texts.Row(next++);
        cells.assign(row.begin(), row.end());
        return true;
    });
}

} // namespace kavel::ui
