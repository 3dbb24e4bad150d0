#pragma once

#include "ui/PassThroughLayout.h"

#include <QAbstractProxyModel>
#include <cstdint>
#include <functional>
#include <vector>

namespace kavel::ui {

// The rows of a list (the source) in the order of one column, or in the source's own order (time
// order). The source's rows, numbers and order stay as they are; this keeps a 4-byte position
// per row while a column order is chosen.
//
// A long list is sorted in slices, each short enough to keep the window responsive: meanwhile
// the rows are shown in the source's order. Rows that the source adds later take their place in
// the chosen order as they come. Rows that compare equal keep the source's order.
class ListSortModel final : public QAbstractProxyModel {
    Q_OBJECT

public:
    // Compares two source rows by a source column: <0, 0 or >0.
    using CompareRows = std::function<int(int column, int sourceRowA, int sourceRowB)>;

    explicit ListSortModel(QObject* parent = nullptr);
    ~ListSortModel() override;

    void SetSource(QAbstractItemModel* source, CompareRows compare);
    // Called with the column before each sort, so that the comparison may make its keys once.
    void SetPrepare(std::function<void(int column)> prepare) { Prepare_ = std::move(prepare); }
    // The column order, or the source's order for column -1.
    void SetSort(int column, Qt::SortOrder order);
    int SortColumn() const { return Column_; }
    Qt::SortOrder SortOrder() const { return Order_; }
    // A sort is under way; the rows are shown in the source's order until it ends.
    bool Sorting() const { return Phase_ != Phase::Idle; }
    // Rows a slice may sort at once before it checks the clock, and the time it may take.
    void SetSliceTime(int milliseconds) { SliceMs_ = milliseconds; }
    // Lists up to this many rows are sorted at once, without slices.
    void SetDirectLimit(int rows) { DirectLimit_ = rows; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

Q_SIGNALS:
    // A sort ended and its order is shown.
    void Sorted();

private:
    // Positions from the oldest row: the source's bottom row is 0, so rows added on top leave
    // the positions of the others alone.
    using Position = std::int32_t;
    enum class Phase { Idle, Runs, Merge };

    bool Ordered() const { return Column_ >= 0 && Phase_ == Phase::Idle; }
    // Whether a goes before b in the chosen order.
    bool Before(Position a, Position b) const;
    int SourceRowOf(Position position) const;
    void Start();
    void Slice(std::uint64_t generation);
    void Finish();
    // The index in Rows_ where a row at the position goes.
    std::size_t PlaceOf(Position position) const;

    void OnAboutToReset();
    void OnReset();
    void OnAboutToChangeLayout();
    void OnLayoutChanged();
    void OnAboutToInsert(const QModelIndex& parent, int first, int last);
    void OnInserted(const QModelIndex& parent, int first, int last);
    void OnAboutToRemove(const QModelIndex& parent, int first, int last);
    void OnRemoved(const QModelIndex& parent, int first, int last);
    void OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);
    void OnHeaderChanged(Qt::Orientation orientation, int first, int last);

    CompareRows Compare_;
    std::function<void(int column)> Prepare_;
    int Column_ = -1;
    Qt::SortOrder Order_ = Qt::AscendingOrder;
    // In the chosen order while Ordered().
    std::vector<Position> Rows_;
    // A sort under way: the positions, sorted in runs of RunWidth_ and then merged pairwise
    // into Merged_ (the merge of one pair may span several slices).
    Phase Phase_ = Phase::Idle;
    std::vector<Position> Work_;
    std::vector<Position> Merged_;
    std::size_t RunWidth_ = 0;
    std::size_t MergeAt_ = 0;
    std::size_t Left_ = 0;
    std::size_t Right_ = 0;
    // Rows the source had when the sort began; rows added on top later wait in Added_.
    int SortedRows_ = 0;
    std::vector<Position> Added_;
    std::uint64_t Generation_ = 0;
    PassThroughLayout Layout_;
    int RowsBefore_ = 0;
    int SliceMs_ = 15;
    int DirectLimit_ = 20000;
};

} // namespace kavel::ui
