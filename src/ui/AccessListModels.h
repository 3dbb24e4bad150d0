#pragma once

#include "ui/Icon.h"

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kavel {
class LogEntry;
class ReaderRegistry;
class Workspace;
enum class ListHandle : std::uint8_t;
enum class EntryCell : std::uint8_t;
// platform/DateTime.h pulls in <compare>, which moc cannot parse.
struct DateTime;
} // namespace kavel

namespace kavel::ui {

// The three lists of the main window as table models over queue entries: a row is a few
// bytes that refer to its LogEntry, and the cells are made when a view asks for them, so a
// list of a hundred thousand accesses costs no widget item per row.
//
// Rows are added in batches: Add* puts a row into a pending buffer and Publish hands the
// buffer to the views in as few notifications as possible (one insertion at the top for rows
// that arrive in time order). A list with pending rows shows only its published rows.

// Cell image of a row, as an Icon role; Qt::DecorationRole gives the image itself.
inline constexpr int IconRole = Qt::UserRole + 1;
// Header roles for the default widths: a typical wide cell of the column, and whether its
// cells start with an image. A column is never made narrower than this cell.
inline constexpr int WidthSampleRole = Qt::UserRole + 2;
inline constexpr int WidthSampleIconRole = Qt::UserRole + 3;
// What the row's colour tells: a RowColour (ListItemDelegate.h) as an integer.
inline constexpr int OutcomeRole = Qt::UserRole + 4;

// The raw log lines, the last added on top ("Rohformat"). A row shows the line of its entry;
// it is no reference for the actions (the entry's row in the accesses list is).
class RawLinesModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    // Shows the lines of the workspace's entries.
    explicit RawLinesModel(Workspace& space, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Add(const LogEntry& entry);
    void Publish();
    void Clear();
    // Removes the published rows of the entries for which leaving holds; how many went.
    std::size_t RemoveRowsIf(const std::function<bool(const LogEntry&)>& leaving);
    // Room for this many rows in all, so that a rebuild grows the rows only once.
    void Reserve(std::size_t rows);
    void ShrinkToFit() { Lines_.shrink_to_fit(); }
    // Published and pending rows.
    std::size_t Size() const { return Lines_.size() + Pending_.size(); }
    const LogEntry* EntryAt(int row) const;

private:
    Workspace& Space_;
    // In insertion order; display row r is Lines_[size - 1 - r].
    std::vector<const LogEntry*> Lines_;
    std::vector<const LogEntry*> Pending_;
};

// Rows kept oldest first by their entries' Time, shown newest first. Rows of equal time keep
// the order in which they came, the later one shown above. Adding in time order costs
// nothing but the append; an older row is put in place by binary search.
template <class Row>
class TimeOrderedRows {
public:
    std::size_t Size() const { return Rows_.size(); }
    bool Empty() const { return Rows_.empty(); }
    // Display row r (0 = newest).
    const Row& At(int row) const { return Rows_[Rows_.size() - 1 - static_cast<std::size_t>(row)]; }
    Row& At(int row) { return Rows_[Rows_.size() - 1 - static_cast<std::size_t>(row)]; }
    std::vector<Row>& Storage() { return Rows_; }
    const std::vector<Row>& Storage() const { return Rows_; }

private:
    std::vector<Row> Rows_;
};

struct AccessRow {
    LogEntry* Entry;
    std::int32_t Number;
    // The row's place among the texts of the column sorted by (see PrepareCompare); in what
    // would be padding.
    std::uint32_t SortKey = NoSortKey;
    static constexpr std::uint32_t NoSortKey = 0xFFFFFFFFu;
};

// The description is made again when a view asks for it: the detection depends on the access
// alone, and a row stays as small as a pointer and the code.
struct ExceptionRow {
    LogEntry* Entry;
    std::int32_t Code;
    Icon Image;
};

// What the accesses and the exceptions lists share: published rows in time order and a batch
// of pending rows that Publish hands to the views in as few notifications as possible.
template <class RowType>
class TimeOrderedListModel : public QAbstractTableModel {
public:
    using Row = RowType;
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(Rows_.Size());
    }
    void Publish();
    // Gives back the room of a reservation that the rows did not fill.
    void ShrinkToFit() { Rows_.Storage().shrink_to_fit(); }
    // Removes the published rows of the entries for which leaving holds (an access row lets go
    // of its entry's ListItem); how many went.
    std::size_t RemoveRowsIf(const std::function<bool(const LogEntry&)>& leaving);
    // Published rows plus pending ones.
    std::size_t Size() const { return Rows_.Size() + Pending_.size(); }

protected:
    // Called for each row about to go, before it is removed.
    virtual void ReleaseRow(Row&) {}
    // The published display row, or none.
    const Row* RowAt(int row) const {
        if (row < 0 || static_cast<std::size_t>(row) >= Rows_.Size())
            return nullptr;
        return &Rows_.At(row);
    }
    // Every row gone, published and pending, with the room they took; inside a model reset.
    void DropRows() {
        Rows_.Storage().clear();
        Rows_.Storage().shrink_to_fit();
        Pending_.clear();
    }

    TimeOrderedRows<Row> Rows_;
    std::vector<Row> Pending_;
};

extern template class TimeOrderedListModel<AccessRow>;
extern template class TimeOrderedListModel<ExceptionRow>;

// The accesses ("Zugriffe", ListViewLog). While a row exists its entry's ListItem is this
// model's handle (RowOf finds the row); ListItem is cleared when the row goes.
class AccessListModel final : public TimeOrderedListModel<AccessRow> {
    Q_OBJECT

public:
    enum Column {
        ColumnVisitor,
        ColumnNumber,
        ColumnTime,
        ColumnHost,
        ColumnUser,
        ColumnMethod,
        ColumnPage,
        ColumnStatus,
        ColumnReferer,
        ColumnUserAgent,
        // The server's name; the window hides it while one server is listed.
        ColumnServer,
        ColumnCount
    };
    static const std::vector<int>& DefaultWidths();
    // The cell a column shows, for the quick filter; none for the image and "Nr.".
    static std::optional<EntryCell> CellOfColumn(int column);

    explicit AccessListModel(Workspace& space, QObject* parent = nullptr);
    ~AccessListModel() override;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A row for the entry with the "Nr." number (0: empty, the realtime view); the entry's
    // ListItem becomes this model. Shown after Publish.
    void Add(LogEntry& entry, std::int32_t number);
    void Reserve(std::size_t rows);
    // Removes every row and clears the ListItem of their entries.
    void Clear();
    // Removes one published row and clears its entry's ListItem.
    void RemoveRow(int row);

    // The "Nr." of the next row is Size() + 1.
    LogEntry* EntryAt(int row) const;
    std::int32_t NumberAt(int row) const;
    // The published row of the entry, or -1.
    int RowOf(const LogEntry* entry) const;
    // Whether the entry's ListItem says that it has a row here.
    bool HasRow(const LogEntry& entry) const;
    // The order of two published rows by a column, for a sort by its header: <0, 0 or >0. Texts
    // compare ignoring ASCII case, numbers and times by value, images by their index.
    int CompareRows(int column, int rowA, int rowB) const;
    // Before a sort by a text column: each row's rank among the column's texts, found in one
    // pass in the rows' order, so that the sort compares numbers and reads no line again.
    // Rows added later compare by their texts.
    void PrepareCompare(int column);

protected:
    void ReleaseRow(Row& row) override;

private:
    // Clears the ListItem of every entry that has a row here.
    void ReleaseListItems();

    Workspace& Space_;
    // The column whose ranks the rows' SortKeys hold, or -1.
    int SortKeyColumn_ = -1;
    // What the entries with a row here keep as their ListItem.
    const ListHandle Handle_;
};

// The exceptions ("Ausnahmen", ListViewLogExceptions): suspicious requests with the code,
// image and description of the detection. Rows refer to their entries; entries do not refer
// back.
class ExceptionListModel final : public TimeOrderedListModel<ExceptionRow> {
    Q_OBJECT

public:
    enum Column { ColumnImage, ColumnCode, ColumnServer, ColumnTime, ColumnDescription, ColumnCount };
    static const std::vector<int>& DefaultWidths();
    // The cell a column shows, for the quick filter; none for the image.
    static std::optional<EntryCell> CellOfColumn(int column);

    explicit ExceptionListModel(Workspace& space, QObject* parent = nullptr);

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Add(LogEntry& entry, std::int32_t code, Icon image);
    void Clear();

    LogEntry* EntryAt(int row) const;
    std::int32_t CodeAt(int row) const;

private:
    Workspace& Space_;
};

// The hover text of an accesses row, line by line: the access, the W3C block for W3C servers
// and the monitoring sentence when the server has a reader. The lines are the bytes the log and
// the definitions hold; none when the entry has no access or no server.
std::vector<std::string> InfoTipLines(const LogEntry& entry, const ReaderRegistry& readers);
// The same as a tool tip: every line shown as plain text, control characters made visible.
QString InfoTip(const LogEntry& entry, const ReaderRegistry& readers);

// "Angefordert am": the locale's short date, a blank and its long time.
QString EntryTimeText(DateTime time);

} // namespace kavel::ui
