#include "ui/AlertLogModel.h"

#include "acquisition/FiredAlert.h"
#include "platform/LocaleFormat.h"
#include "ui/DisplayText.h"

#include <QHeaderView>
#include <QTableView>

namespace kavel::ui {

AlertLogModel::AlertLogModel(QObject* parent)
    : QAbstractTableModel(parent) {}

void AlertLogModel::Add(const FiredAlert& alert, const QString& summary, const QString& body) {
    Row row;
    row.Id = alert.Id;
    row.Time = alert.Time;
    row.Rule = (alert.Test ? QStringLiteral("Test: ") : QString()) + DisplayText(alert.Rule.Name);
    row.Server = DisplayText(alert.Server);
    row.Count = alert.Count;
    row.Summary = summary;
    row.Body = body;
    beginInsertRows({}, 0, 0);
    Rows_.push_front(std::move(row));
    endInsertRows();
    if (Size() > MaxRows) {
        beginRemoveRows({}, Size() - 1, Size() - 1);
        Rows_.pop_back();
        endRemoveRows();
    }
}

int AlertLogModel::RowOf(std::uint64_t id) const {
    // Recent alerts are at the top, where their results arrive.
    for (std::size_t i = 0; i < Rows_.size(); ++i)
        if (Rows_[i].Id == id)
            return static_cast<int>(i);
    return -1;
}

void AlertLogModel::Changed(int row, int column) {
    const QModelIndex at = index(row, column);
    Q_EMIT dataChanged(at, at);
}

void AlertLogModel::AddDone(std::uint64_t id, const QString& what) {
    const int row = RowOf(id);
    if (row < 0)
        return;
    Rows_[static_cast<std::size_t>(row)].Done.push_back(what);
    Changed(row, Done);
}

void AlertLogModel::SetCommand(std::uint64_t id, const QString& command) {
    const int row = RowOf(id);
    if (row < 0)
        return;
    Rows_[static_cast<std::size_t>(row)].Command = command;
    Changed(row, Done);
}

void AlertLogModel::SetResult(std::uint64_t id, const QString& result, const QStringList& output) {
    const int row = RowOf(id);
    if (row < 0)
        return;
    Row& entry = Rows_[static_cast<std::size_t>(row)];
    entry.Result = result;
    entry.Output = output;
    Changed(row, Result);
}

int AlertLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Size();
}

int AlertLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AlertLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Size())
        return {};
    const Row& row = At(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time:
            return QString::fromStdString(platform::FormatDateTime(row.Time));
        case Rule:
            return row.Rule;
        case Server:
            return row.Server;
        case Count:
            return QString::number(row.Count);
        case Done:
            return row.Done.join(QStringLiteral(", "));
        case Result:
            return row.Output.isEmpty() ? row.Result : row.Result + QStringLiteral(": ") + row.Output.front();
        default:
            return {};
        }
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == Result && !row.Output.isEmpty())
            return ToolTipText(row.Result + QLatin1Char('\n') + row.Output.join(QLatin1Char('\n')));
        if (index.column() == Done && !row.Command.isEmpty())
            return ToolTipText(row.Done.join(QStringLiteral(", ")) + QLatin1Char('\n') + row.Command);
        return ToolTipText(row.Summary + QLatin1Char('\n') + row.Body);
    }
    if (role == Qt::TextAlignmentRole && index.column() == Count)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant AlertLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Time:
        return QStringLiteral("Zeit");
    case Rule:
        return QStringLiteral("Regel");
    case Server:
        return QStringLiteral("Server");
    case Count:
        return QStringLiteral("Anzahl");
    case Done:
        return QStringLiteral("Ausgeführt");
    case Result:
        return QStringLiteral("Ergebnis");
    default:
        return {};
    }
}

void SetAlertLogColumnWidths(QTableView* view) {
    const int digit = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    view->setColumnWidth(AlertLogModel::Time, 19 * digit);
    view->setColumnWidth(AlertLogModel::Rule, 12 * digit);
    view->setColumnWidth(AlertLogModel::Server, 16 * digit);
    view->setColumnWidth(AlertLogModel::Count, 7 * digit);
    view->setColumnWidth(AlertLogModel::Done, 20 * digit);
    view->horizontalHeader()->setStretchLastSection(true);
}

} // namespace kavel::ui
