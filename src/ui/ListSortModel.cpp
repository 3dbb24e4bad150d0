#include "ui/ListSortModel.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

namespace kavel::ui {
namespace {

// Rows sorted in one piece before the pieces are merged: a few milliseconds each.
constexpr std::size_t FirstRunWidth = 4096;

} // namespace

ListSortModel::ListSortModel(QObject* parent)
    : QAbstractProxyModel(parent) {}

ListSortModel::~ListSortModel() = default;

void ListSortModel::SetSource(QAbstractItemModel* source, CompareRows compare) {
    if (QAbstractItemModel* old = sourceModel())
        disconnect(old, nullptr, this, nullptr);
    beginResetModel();
    Compare_ = std::move(compare);
    setSourceModel(source);
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &ListSortModel::OnAboutToReset);
    connect(source, &QAbstractItemModel::modelReset, this, &ListSortModel::OnReset);
    connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this, &ListSortModel::OnAboutToInsert);
    connect(source, &QAbstractItemModel::rowsInserted, this, &ListSortModel::OnInserted);
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ListSortModel::OnAboutToRemove);
    connect(source, &QAbstractItemModel::rowsRemoved, this, &ListSortModel::OnRemoved);
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, &ListSortModel::OnAboutToChangeLayout);
    connect(source, &QAbstractItemModel::layoutChanged, this, &ListSortModel::OnLayoutChanged);
    connect(source, &QAbstractItemModel::dataChanged, this, &ListSortModel::OnDataChanged);
    connect(source, &QAbstractItemModel::headerDataChanged, this, &ListSortModel::OnHeaderChanged);
    Column_ = -1;
    Phase_ = Phase::Idle;
    Rows_.clear();
    ++Generation_;
    endResetModel();
}

void ListSortModel::SetSort(int column, Qt::SortOrder order) {
    Column_ = column;
    Order_ = order;
    if (column >= 0 && sourceModel() != nullptr) {
        Start();
        return;
    }
    beginResetModel();
    Phase_ = Phase::Idle;
    ++Generation_;
    Rows_.clear();
    Rows_.shrink_to_fit();
    Work_ = {};
    Merged_ = {};
    endResetModel();
    Q_EMIT Sorted();
}

int ListSortModel::SourceRowOf(Position position) const {
    return sourceModel()->rowCount() - 1 - position;
}

bool ListSortModel::Before(Position a, Position b) const {
    int result = Compare_ ? Compare_(Column_, SourceRowOf(a), SourceRowOf(b)) : 0;
    if (Order_ == Qt::DescendingOrder)
        result = -result;
    if (result != 0)
        return result < 0;
    // Equal keys keep the source's order: the newer row, at the higher position, first.
    return a > b;
}

void ListSortModel::Start() {
    ++Generation_;
    if (Prepare_ && Column_ >= 0)
        Prepare_(Column_);
    const int rows = sourceModel()->rowCount();
    beginResetModel();
    Rows_.clear();
    Added_.clear();
    if (rows <= DirectLimit_) {
        Rows_.reserve(static_cast<std::size_t>(rows));
        for (Position position = rows - 1; position >= 0; --position)
            Rows_.push_back(position);
        std::sort(Rows_.begin(), Rows_.end(), [this](Position a, Position b) { return Before(a, b); });
        Phase_ = Phase::Idle;
        endResetModel();
        Q_EMIT Sorted();
        return;
    }
    // Meanwhile the rows show in the source's order.
    Phase_ = Phase::Runs;
    endResetModel();
    Work_.clear();
    Work_.reserve(static_cast<std::size_t>(rows));
    for (Position position = rows - 1; position >= 0; --position)
        Work_.push_back(position);
    SortedRows_ = rows;
    RunWidth_ = FirstRunWidth;
    MergeAt_ = 0;
    QTimer::singleShot(0, this, [this, generation = Generation_] { Slice(generation); });
}

void ListSortModel::Slice(std::uint64_t generation) {
    if (generation != Generation_ || Phase_ == Phase::Idle)
        return;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(SliceMs_);
    const auto before = [this](Position a, Position b) { return Before(a, b); };
    const std::size_t size = Work_.size();
    if (Phase_ == Phase::Runs) {
        while (MergeAt_ < size) {
            const std::size_t end = std::min(MergeAt_ + RunWidth_, size);
            std::sort(Work_.begin() + static_cast<std::ptrdiff_t>(MergeAt_),
                      Work_.begin() + static_cast<std::ptrdiff_t>(end), before);
            MergeAt_ = end;
            if (Clock::now() >= deadline)
                break;
        }
        if (MergeAt_ >= size) {
            Phase_ = Phase::Merge;
            Merged_.resize(size);
            MergeAt_ = 0;
            Left_ = 0;
            Right_ = std::min(RunWidth_, size);
        }
    } else {
        for (std::size_t step = 1;; ++step) {
            if (RunWidth_ >= size) {
                Finish();
                return;
            }
            const std::size_t middle = std::min(MergeAt_ + RunWidth_, size);
            const std::size_t end = std::min(MergeAt_ + 2 * RunWidth_, size);
            const std::size_t out = MergeAt_ + (Left_ - MergeAt_) + (Right_ - middle);
            if (Left_ < middle && (Right_ >= end || !before(Work_[Right_], Work_[Left_])))
                Merged_[out] = Work_[Left_++];
            else if (Right_ < end)
                Merged_[out] = Work_[Right_++];
            if (Left_ >= middle && Right_ >= end) {
                // The pair is merged: on to the next, or to the next width.
                MergeAt_ = end;
                if (MergeAt_ >= size) {
                    Work_.swap(Merged_);
                    RunWidth_ *= 2;
                    MergeAt_ = 0;
                }
                Left_ = MergeAt_;
                Right_ = std::min(MergeAt_ + RunWidth_, size);
            }
            if (step % 4096 == 0 && Clock::now() >= deadline)
                break;
        }
    }
    QTimer::singleShot(0, this, [this, generation] { Slice(generation); });
}

void ListSortModel::Finish() {
    const auto before = [this](Position a, Position b) { return Before(a, b); };
    std::sort(Added_.begin(), Added_.end(), before);
    beginResetModel();
    Rows_.clear();
    Rows_.reserve(Work_.size() + Added_.size());
    std::merge(Work_.begin(), Work_.end(), Added_.begin(), Added_.end(), std::back_inserter(Rows_), before);
    Phase_ = Phase::Idle;
    Work_ = {};
    Merged_ = {};
    Added_ = {};
    endResetModel();
    Q_EMIT Sorted();
}

std::size_t ListSortModel::PlaceOf(Position position) const {
    const auto it = std::upper_bound(Rows_.begin(), Rows_.end(), position,
                                     [this](Position a, Position b) { return Before(a, b); });
    return static_cast<std::size_t>(it - Rows_.begin());
}

QModelIndex ListSortModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex ListSortModel::parent(const QModelIndex&) const {
    return {};
}

int ListSortModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || sourceModel() == nullptr)
        return 0;
    return Ordered() ? static_cast<int>(Rows_.size()) : sourceModel()->rowCount();
}

int ListSortModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid() || sourceModel() == nullptr)
        return 0;
    return sourceModel()->columnCount();
}

bool ListSortModel::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && rowCount() > 0;
}

QModelIndex ListSortModel::mapToSource(const QModelIndex& proxyIndex) const {
    if (!proxyIndex.isValid() || sourceModel() == nullptr)
        return {};
    int row = proxyIndex.row();
    if (Ordered()) {
        if (row >= static_cast<int>(Rows_.size()))
            return {};
        row = SourceRowOf(Rows_[static_cast<std::size_t>(row)]);
    }
    return sourceModel()->index(row, proxyIndex.column());
}

QModelIndex ListSortModel::mapFromSource(const QModelIndex& sourceIndex) const {
    if (!sourceIndex.isValid())
        return {};
    if (!Ordered())
        return index(sourceIndex.row(), sourceIndex.column());
    const Position position = sourceModel()->rowCount() - 1 - sourceIndex.row();
    const auto it = std::find(Rows_.begin(), Rows_.end(), position);
    if (it == Rows_.end())
        return {};
    return index(static_cast<int>(it - Rows_.begin()), sourceIndex.column());
}

void ListSortModel::OnAboutToReset() {
    beginResetModel();
}

void ListSortModel::OnReset() {
    Rows_.clear();
    Phase_ = Phase::Idle;
    ++Generation_;
    endResetModel();
    if (Column_ >= 0)
        Start();
}

void ListSortModel::OnAboutToChangeLayout() {
    // A sorted (or sorting) list keeps positions that the change makes stale: it sorts anew.
    if (Column_ >= 0) {
        OnAboutToReset();
        return;
    }
    Q_EMIT layoutAboutToBeChanged();
    Layout_.Remember(*this, persistentIndexList());
}

void ListSortModel::OnLayoutChanged() {
    if (!Layout_.Pending()) {
        OnReset();
        return;
    }
    const auto [from, to] = Layout_.Moved(*this);
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged();
}

void ListSortModel::OnAboutToInsert(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    RowsBefore_ = sourceModel()->rowCount();
    if (!Ordered())
        beginInsertRows({}, first, last);
}

void ListSortModel::OnInserted(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    const Position boundary = RowsBefore_ - first;
    if (!Ordered()) {
        endInsertRows();
        if (Sorting()) {
            if (first == 0) {
                for (Position position = boundary; position < boundary + count; ++position)
                    Added_.push_back(position);
            } else {
                // Rows in the middle move the positions being sorted: sorted again.
                Start();
            }
        }
        return;
    }
    if (first > 0)
        for (Position& position : Rows_)
            if (position >= boundary)
                position += count;
    for (Position position = boundary; position < boundary + count; ++position) {
        const auto at = static_cast<int>(PlaceOf(position));
        beginInsertRows({}, at, at);
        Rows_.insert(Rows_.begin() + at, position);
        endInsertRows();
    }
}

void ListSortModel::OnAboutToRemove(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    RowsBefore_ = sourceModel()->rowCount();
    if (!Ordered())
        beginRemoveRows({}, first, last);
}

void ListSortModel::OnRemoved(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    if (!Ordered()) {
        endRemoveRows();
        if (Sorting())
            Start();
        return;
    }
    const Position low = RowsBefore_ - 1 - last;
    const Position high = RowsBefore_ - 1 - first;
    for (int at = static_cast<int>(Rows_.size()) - 1; at >= 0; --at) {
        const Position position = Rows_[static_cast<std::size_t>(at)];
        if (position < low || position > high)
            continue;
        beginRemoveRows({}, at, at);
        Rows_.erase(Rows_.begin() + at);
        endRemoveRows();
    }
    for (Position& position : Rows_)
        if (position > high)
            position -= count;
}

void ListSortModel::OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                  const QList<int>& roles) {
    if (rowCount() == 0)
        return;
    if (!Ordered()) {
        Q_EMIT dataChanged(index(topLeft.row(), topLeft.column()),
                           index(bottomRight.row(), bottomRight.column()), roles);
        return;
    }
    Q_EMIT dataChanged(index(0, topLeft.column()), index(rowCount() - 1, bottomRight.column()), roles);
}

void ListSortModel::OnHeaderChanged(Qt::Orientation orientation, int first, int last) {
    if (orientation == Qt::Horizontal)
        Q_EMIT headerDataChanged(orientation, first, last);
}

} // namespace kavel::ui
