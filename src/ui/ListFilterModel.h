#pragma once

#include "ui/PassThroughLayout.h"

#include <QAbstractProxyModel>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kavel {
class EntryMatcher;
class LogEntry;
class SpiderList;
class TextPattern;
enum class EntryCell : std::uint8_t;
} // namespace kavel

namespace kavel::ui {

// The quick filter over one list: shows the rows of the list (the source) whose cells match a
// pattern, or every row with the matching ones known ("mark only"), for the count, the marks
// and the way from one match to the next. The source's own rows, numbers and order stay as
// they are.
//
// A new filter is applied in slices from the newest row down, each short enough to keep the
// window responsive; the rows found so far are shown at once, and a newer filter ends the pass.
// Rows that the source adds meanwhile are tested as they come. The matches are kept as 4-byte
// positions counted from the oldest row, which rows added on top leave unchanged.
class ListFilterModel final : public QAbstractProxyModel {
    Q_OBJECT

public:
    // The entry of a source row.
    using EntryOfRow = std::function<const LogEntry*(int sourceRow)>;
    // The cell that a source column shows; none for a column without text to search (images,
    // the arrival number).
    using CellOfColumn = std::function<std::optional<EntryCell>(int column)>;

    struct Filter {
        // None or empty: no filter.
        std::shared_ptr<const TextPattern> Pattern;
        // The one column searched; -1: every column with text that is not hidden.
        int Column = -1;
        // Every row stays; the matches are only marked.
        bool MarkOnly = false;
    };

    // The spiders list decides the new-spider exception in the searched cells; it must outlive
    // the model.
    explicit ListFilterModel(const SpiderList& spiders, QObject* parent = nullptr);
    ~ListFilterModel() override;

    void SetSource(QAbstractItemModel* source, EntryOfRow entryOf, CellOfColumn cellOf);
    // Starts applying the filter (ending a pass still running).
    void SetFilter(Filter filter);
    const Filter& CurrentFilter() const { return Filter_; }
    const SpiderList& Spiders() const { return Spiders_; }
    // Source columns left out of "every column" (hidden ones); a new pass when it changes what
    // is searched.
    void SetHiddenColumns(std::vector<int> columns);
    // Rows tested per check of the clock, and the time a slice may take.
    void SetSliceTime(int milliseconds) { SliceMs_ = milliseconds; }

    // A pattern is set.
    bool Active() const;
    // Rows are hidden: a pattern and not mark only.
    bool Hiding() const;
    // A pass is under way; ProgressChanged tells how far.
    bool Running() const { return Cursor_ >= 0; }
    // The matching rows found so far, and the rows of the list.
    int MatchCount() const { return static_cast<int>(Matches_.size()); }
    int SourceRowCount() const;
    // Whether the source row is a match (false while a pass has not reached it).
    bool SourceRowMatches(int sourceRow) const;
    // The next matching source row below (or above, backwards) the given one; -1 from the top
    // or bottom edge as given by from = -1; -1 when there is none.
    int NextMatch(int fromSourceRow, bool backwards) const;
    // The cell searched in this source column, none when the column is not searched.
    std::optional<EntryCell> SearchedCell(int column) const;
    // The cell that the source column shows, searched or not.
    std::optional<EntryCell> CellOf(int column) const;
    const TextPattern* Pattern() const { return Filter_.Pattern.get(); }
    const LogEntry* EntryAt(int proxyRow) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

Q_SIGNALS:
    // A pass went on: rows tested of all rows.
    void ProgressChanged(int done, int total);
    // The pass ended, or the match count or the row count changed.
    void CountsChanged();

private:
    // Positions from the oldest row: the source's bottom row is 0.
    using Position = std::int32_t;

    void Restart();
    // Forgets the matches and starts a pass from the top row (none without a pattern); a pass
    // still under way ends.
    void BeginPass();
    // The pass goes on at the event loop's next turn.
    void ScheduleSlice();
    void RunSlice(std::uint64_t generation);
    bool Test(int sourceRow);
    void RebuildMatcher();
    Position PositionOf(int sourceRow) const;
    int SourceRowOf(Position position) const;

    void OnAboutToReset();
    void OnReset();
    void OnAboutToInsert(const QModelIndex& parent, int first, int last);
    void OnInserted(const QModelIndex& parent, int first, int last);
    void OnAboutToRemove(const QModelIndex& parent, int first, int last);
    void OnRemoved(const QModelIndex& parent, int first, int last);
    void OnAboutToChangeLayout();
    void OnLayoutChanged();
    void OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);
    void OnHeaderChanged(Qt::Orientation orientation, int first, int last);

    EntryOfRow EntryOf_;
    CellOfColumn CellOf_;
    const SpiderList& Spiders_;
    Filter Filter_;
    std::vector<int> HiddenColumns_;
    std::unique_ptr<EntryMatcher> Matcher_;
    // Matching positions, ascending: the last is the top row shown.
    std::vector<Position> Matches_;
    // The next position a pass tests (going down); -1 when no pass runs.
    Position Cursor_ = -1;
    // Source rows before the change that OnAboutTo* saw.
    int RowsBefore_ = 0;
    std::uint64_t Generation_ = 0;
    int SliceMs_ = 15;
    PassThroughLayout Layout_;
};

} // namespace kavel::ui
