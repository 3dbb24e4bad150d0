#pragma once

#include "platform/DateTime.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>

class QTableView;

namespace kavel {
struct FiredAlert;
}

namespace kavel::ui {

// The alerts raised in this run, newest first: when, which rule on which server, the count,
// what was done (notification and its route, tone, command) and the command's result with its
// first output lines. Shown on the page "Alarme" of the main window and in the alerts dialog.
// Holds at most MaxRows; the oldest go. Main thread only.
class AlertLogModel final : public QAbstractTableModel {
public:
    enum Column { Time, Rule, Server, Count, Done, Result, ColumnCount };
    static constexpr int MaxRows = 1000;

    struct Row {
        std::uint64_t Id = 0;
        DateTime Time;
        QString Rule;
        QString Server;
        std::uint64_t Count = 0;
        // The notification's texts, for the row's tip.
        QString Summary;
        QString Body;
        QStringList Done;
        // The command that ran, for the tip of what was done.
        QString Command;
        QString Result;
        QStringList Output;
    };

    explicit AlertLogModel(QObject* parent = nullptr);

    // A row for the alert at the top, with its display texts.
    void Add(const FiredAlert& alert, const QString& summary, const QString& body);
    // Appends to what was done for the alert ("Meldung (Desktop)", "Signalton", ...).
    void AddDone(std::uint64_t id, const QString& what);
    void SetCommand(std::uint64_t id, const QString& command);
    void SetResult(std::uint64_t id, const QString& result, const QStringList& output = {});

    int Size() const { return static_cast<int>(Rows_.size()); }
    const Row& At(int row) const { return Rows_[static_cast<std::size_t>(row)]; }
    // The row of an alert, or -1 when it is not (or no longer) listed.
    int RowOf(std::uint64_t id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void Changed(int row, int column);

    std::deque<Row> Rows_;
};

// The columns' widths for the view's font; the result takes the rest.
void SetAlertLogColumnWidths(QTableView* view);

} // namespace kavel::ui
