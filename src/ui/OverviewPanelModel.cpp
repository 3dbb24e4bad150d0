#include "ui/OverviewPanelModel.h"

#include "platform/LocaleFormat.h"
#include "ui/DisplayText.h"

#include <QPainter>
#include <algorithm>

namespace kavel::ui {

namespace {

QString Thousands(std::int64_t value) {
    return QString::fromStdString(platform::CurrentLocaleFormat().Thousands(value));
}

} // namespace

OverviewPanelModel::OverviewPanelModel(SummaryPanel panel, QString keyHeader, QObject* parent)
    : QAbstractTableModel(parent)
    , Panel_(panel)
    , KeyHeader_(std::move(keyHeader)) {}

void OverviewPanelModel::SetRows(const AccessSummary& counts, std::size_t limit) {
    std::vector<Row> rows;
    for (const PanelRow& row : counts.Top(Panel_, limit))
        rows.push_back({row.Number, std::string(row.Text),
                        DisplayText(PanelRowLabel(Panel_, row.Number, row.Text)), row.Count});
    const bool sameShape = rows.size() == Rows_.size();
    if (!sameShape)
        beginResetModel();
    Rows_ = std::move(rows);
    Total_ = counts.PanelTotal(Panel_);
    SortRows();
    if (!sameShape)
        endResetModel();
    else if (!Rows_.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnTotal - 1));
}

const OverviewPanelModel::Row* OverviewPanelModel::RowAt(int row) const {
    return row >= 0 && row < rowCount() ? &Rows_[static_cast<std::size_t>(row)] : nullptr;
}

int OverviewPanelModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int OverviewPanelModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnTotal;
}

QVariant OverviewPanelModel::data(const QModelIndex& index, int role) const {
    const Row* row = RowAt(index.row());
    if (row == nullptr)
        return {};
    const double share = Total_ > 0 ? static_cast<double>(row->Count) / static_cast<double>(Total_) : 0.0;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColumnKey:
            return row->Label;
        case ColumnCount:
            return Thousands(row->Count);
        case ColumnShare:
            return QStringLiteral("%1 %").arg(QLocale(QLocale::German).toString(100.0 * share, 'f', 1));
        default:
            return {};
        }
    case Qt::ToolTipRole:
        if (index.column() == ColumnKey)
            return ToolTipText(row->Label);
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == ColumnKey ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                           : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case ShareRole:
        return share;
    default:
        return {};
    }
}

QVariant OverviewPanelModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColumnKey:
        return KeyHeader_;
    case ColumnCount:
        return QStringLiteral("Anzahl");
    case ColumnShare:
        return QStringLiteral("Anteil");
    default:
        return {};
    }
}

void OverviewPanelModel::sort(int column, Qt::SortOrder order) {
    Q_EMIT layoutAboutToBeChanged();
    SortColumn_ = column;
    SortOrder_ = order;
    SortRows();
    Q_EMIT layoutChanged();
}

void OverviewPanelModel::SortRows() {
    // Count and share sort alike; equal counts, and the key column, go by the key.
    const bool byKey = SortColumn_ == ColumnKey;
    const bool descending = SortOrder_ == Qt::DescendingOrder;
    const auto keyLess = [](const Row& a, const Row& b) {
        if (a.Number != b.Number)
            return a.Number < b.Number;
        return QString::localeAwareCompare(a.Label, b.Label) < 0;
    };
    std::stable_sort(Rows_.begin(), Rows_.end(), [&](const Row& a, const Row& b) {
        if (!byKey && a.Count != b.Count)
            return descending ? a.Count > b.Count : a.Count < b.Count;
        if (byKey && descending)
            return keyLess(b, a);
        return keyLess(a, b);
    });
}

void ShareBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const double share = std::clamp(index.data(OverviewPanelModel::ShareRole).toDouble(), 0.0, 1.0);
    QRect bar = option.rect.adjusted(2, 3, -2, -3);
    bar.setWidth(static_cast<int>(bar.width() * share));
    if (bar.width() > 0) {
        QColor colour = option.palette.color(QPalette::Highlight);
        colour.setAlpha(90);
        painter->fillRect(bar, colour);
    }
    QStyledItemDelegate::paint(painter, option, index);
}

} // namespace kavel::ui
