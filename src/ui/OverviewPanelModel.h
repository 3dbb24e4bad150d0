#pragma once

#include "acquisition/AccessSummary.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <cstdint>
#include <string>
#include <vector>

namespace kavel::ui {

// One panel of the overview as a table: the key, its count and its share of the panel's total
// (drawn as a bar behind the percentage). The rows are the panel's top rows (or all of them),
// copied from the counts, so the table stays valid while the counts change; a header click
// sorts them by that column.
class OverviewPanelModel final : public QAbstractTableModel {
public:
    enum Column { ColumnKey, ColumnCount, ColumnShare, ColumnTotal };
    // The share of a row, 0 to 1, for the bar.
    static constexpr int ShareRole = Qt::UserRole + 1;

    struct Row {
        std::int32_t Number = 0;
        std::string Text;
        QString Label;
        std::int64_t Count = 0;
    };

    OverviewPanelModel(SummaryPanel panel, QString keyHeader, QObject* parent = nullptr);

    SummaryPanel Panel() const { return Panel_; }
    // Another panel shown by the same table (pages of every request or of documents only).
    void SetPanel(SummaryPanel panel) { Panel_ = panel; }
    // At most limit rows (0: all) with the highest counts, in the order chosen by sort().
    void SetRows(const AccessSummary& counts, std::size_t limit);
    const Row* RowAt(int row) const;
    std::int64_t Total() const { return Total_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    void SortRows();

    SummaryPanel Panel_;
    QString KeyHeader_;
    std::vector<Row> Rows_;
    std::int64_t Total_ = 0;
    int SortColumn_ = ColumnCount;
    Qt::SortOrder SortOrder_ = Qt::DescendingOrder;
};

// Draws the share column as a bar of the row's share behind its percentage.
class ShareBarDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace kavel::ui
