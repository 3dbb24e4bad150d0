#include "ui/ListFilterModel.h"

#include "acquisition/EntryCells.h"
#include "base/TextPattern.h"

#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>

namespace kavel::ui {

ListFilterModel::ListFilterModel(const SpiderList& spiders, QObject* parent)
    : QAbstractProxyModel(parent)
    , Spiders_(spiders) {}

ListFilterModel::~ListFilterModel() = default;

void ListFilterModel::SetSource(QAbstractItemModel* source, EntryOfRow entryOf, CellOfColumn cellOf) {
    if (QAbstractItemModel* old = sourceModel())
        disconnect(old, nullptr, this, nullptr);
    beginResetModel();
    EntryOf_ = std::move(entryOf);
    CellOf_ = std::move(cellOf);
    setSourceModel(source);
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &ListFilterModel::OnAboutToReset);
    connect(source, &QAbstractItemModel::modelReset, this, &ListFilterModel::OnReset);
    connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this, &ListFilterModel::OnAboutToInsert);
    connect(source, &QAbstractItemModel::rowsInserted, this, &ListFilterModel::OnInserted);
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ListFilterModel::OnAboutToRemove);
    connect(source, &QAbstractItemModel::rowsRemoved, this, &ListFilterModel::OnRemoved);
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this,
            &ListFilterModel::OnAboutToChangeLayout);
    connect(source, &QAbstractItemModel::layoutChanged, this, &ListFilterModel::OnLayoutChanged);
    connect(source, &QAbstractItemModel::dataChanged, this, &ListFilterModel::OnDataChanged);
    connect(source, &QAbstractItemModel::headerDataChanged, this, &ListFilterModel::OnHeaderChanged);
    RebuildMatcher();
    BeginPass();
    endResetModel();
    ScheduleSlice();
    Q_EMIT CountsChanged();
}

bool ListFilterModel::Active() const {
    return Filter_.Pattern && !Filter_.Pattern->Empty() && sourceModel() != nullptr;
}

bool ListFilterModel::Hiding() const {
    return Active() && !Filter_.MarkOnly;
}

int ListFilterModel::SourceRowCount() const {
    return sourceModel() ? sourceModel()->rowCount() : 0;
}

void ListFilterModel::SetFilter(Filter filter) {
    const bool wasHiding = Hiding();
    Filter_ = std::move(filter);
    if (!wasHiding && !Hiding()) {
        // The rows stay: only the marks and the matches change.
        RebuildMatcher();
        BeginPass();
        if (rowCount() > 0)
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        ScheduleSlice();
        Q_EMIT CountsChanged();
        return;
    }
    Restart();
}

void ListFilterModel::SetHiddenColumns(std::vector<int> columns) {
    std::sort(columns.begin(), columns.end());
    if (columns == HiddenColumns_)
        return;
    HiddenColumns_ = std::move(columns);
    if (Active() && Filter_.Column < 0)
        SetFilter(Filter_);
}

void ListFilterModel::Restart() {
    beginResetModel();
    RebuildMatcher();
    BeginPass();
    endResetModel();
    ScheduleSlice();
    Q_EMIT CountsChanged();
}

std::optional<EntryCell> ListFilterModel::SearchedCell(int column) const {
    if (!Active() || !CellOf_)
        return std::nullopt;
    if (Filter_.Column >= 0)
        return column == Filter_.Column ? CellOf_(column) : std::nullopt;
    if (std::binary_search(HiddenColumns_.begin(), HiddenColumns_.end(), column))
        return std::nullopt;
    return CellOf_(column);
}

std::optional<EntryCell> ListFilterModel::CellOf(int column) const {
    return CellOf_ ? CellOf_(column) : std::nullopt;
}

void ListFilterModel::RebuildMatcher() {
    Matcher_.reset();
    if (!Active())
        return;
    std::vector<EntryCell> cells;
    for (int column = 0, columns = sourceModel()->columnCount(); column < columns; ++column)
        if (const auto cell = SearchedCell(column))
            cells.push_back(*cell);
    Matcher_ = std::make_unique<EntryMatcher>(*Filter_.Pattern, cells, Spiders_);
}

void ListFilterModel::BeginPass() {
    Matches_.clear();
    Cursor_ = Active() ? SourceRowCount() - 1 : -1;
    ++Generation_;
}

void ListFilterModel::ScheduleSlice() {
    if (Running())
        QTimer::singleShot(0, this, [this, generation = Generation_] { RunSlice(generation); });
}

ListFilterModel::Position ListFilterModel::PositionOf(int sourceRow) const {
    return SourceRowCount() - 1 - sourceRow;
}

int ListFilterModel::SourceRowOf(Position position) const {
    return SourceRowCount() - 1 - position;
}

bool ListFilterModel::Test(int sourceRow) {
    const LogEntry* entry = EntryOf_ ? EntryOf_(sourceRow) : nullptr;
    return entry != nullptr && Matcher_ && Matcher_->Matches(*entry);
}

void ListFilterModel::RunSlice(std::uint64_t generation) {
    if (generation != Generation_ || !Running())
        return;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(SliceMs_);
    // Found going down, so in descending order: all below the matches found before.
    std::vector<Position> found;
    // Rows ahead whose memory is asked for: their heads first, their bodies once the heads
    // are there. The entries looked up ahead wait in a ring until their test.
    constexpr Position HeadAhead = 16;
    constexpr Position BodyAhead = 8;
    const int rows = SourceRowCount();
    const auto entryAt = [this, rows](Position position) {
        return position >= 0 && EntryOf_ ? EntryOf_(rows - 1 - position) : nullptr;
    };
    std::array<const LogEntry*, HeadAhead> ahead{};
    const auto slot = [&ahead](Position position) -> const LogEntry*& {
        return ahead[static_cast<std::size_t>(position) % ahead.size()];
    };
    for (Position position = Cursor_; position > Cursor_ - HeadAhead && position >= 0; --position) {
        slot(position) = entryAt(position);
        EntryMatcher::PrefetchHead(slot(position));
        if (position > Cursor_ - BodyAhead)
            EntryMatcher::PrefetchBody(slot(position));
    }
    for (int tested = 1; Cursor_ >= 0; ++tested) {
        const LogEntry* entry = slot(Cursor_);
        if (Cursor_ >= HeadAhead) {
            slot(Cursor_ - HeadAhead) = entryAt(Cursor_ - HeadAhead);
            EntryMatcher::PrefetchHead(slot(Cursor_ - HeadAhead));
        }
        if (Cursor_ >= BodyAhead)
            EntryMatcher::PrefetchBody(slot(Cursor_ - BodyAhead));
        if (entry != nullptr && Matcher_ && Matcher_->Matches(*entry))
            found.push_back(Cursor_);
        --Cursor_;
        if (tested % 256 == 0 && Clock::now() >= deadline)
            break;
    }
    if (!found.empty()) {
        const int before = MatchCount();
        const int added = static_cast<int>(found.size());
        if (Hiding())
            beginInsertRows({}, before, before + added - 1);
        Matches_.insert(Matches_.begin(), found.rbegin(), found.rend());
        if (Hiding())
            endInsertRows();
        else
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    }
    const int total = SourceRowCount();
    Q_EMIT ProgressChanged(total - 1 - Cursor_, total);
    Q_EMIT CountsChanged();
    ScheduleSlice();
}

bool ListFilterModel::SourceRowMatches(int sourceRow) const {
    if (!Active() || sourceRow < 0 || sourceRow >= SourceRowCount())
        return false;
    return std::binary_search(Matches_.begin(), Matches_.end(), PositionOf(sourceRow));
}

int ListFilterModel::NextMatch(int fromSourceRow, bool backwards) const {
    if (Matches_.empty())
        return -1;
    const int rows = SourceRowCount();
    if (!backwards) {
        // Down the list: the largest position below the start.
        const Position start = fromSourceRow < 0 ? rows : PositionOf(fromSourceRow);
        const auto it = std::lower_bound(Matches_.begin(), Matches_.end(), start);
        return it == Matches_.begin() ? -1 : SourceRowOf(*std::prev(it));
    }
    const Position start = fromSourceRow < 0 ? -1 : PositionOf(fromSourceRow);
    const auto it = std::upper_bound(Matches_.begin(), Matches_.end(), start);
    return it == Matches_.end() ? -1 : SourceRowOf(*it);
}

const LogEntry* ListFilterModel::EntryAt(int proxyRow) const {
    const QModelIndex source = mapToSource(index(proxyRow, 0));
    return source.isValid() && EntryOf_ ? EntryOf_(source.row()) : nullptr;
}

QModelIndex ListFilterModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex ListFilterModel::parent(const QModelIndex&) const {
    return {};
}

int ListFilterModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return Hiding() ? MatchCount() : SourceRowCount();
}

int ListFilterModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid() || sourceModel() == nullptr)
        return 0;
    return sourceModel()->columnCount();
}

bool ListFilterModel::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && rowCount() > 0;
}

QModelIndex ListFilterModel::mapToSource(const QModelIndex& proxyIndex) const {
    if (!proxyIndex.isValid() || sourceModel() == nullptr)
        return {};
    int row = proxyIndex.row();
    if (Hiding()) {
        if (row >= MatchCount())
            return {};
        row = SourceRowOf(Matches_[Matches_.size() - 1 - static_cast<std::size_t>(row)]);
    }
    return sourceModel()->index(row, proxyIndex.column());
}

QModelIndex ListFilterModel::mapFromSource(const QModelIndex& sourceIndex) const {
    if (!sourceIndex.isValid())
        return {};
    if (!Hiding())
        return index(sourceIndex.row(), sourceIndex.column());
    const Position position = PositionOf(sourceIndex.row());
    const auto it = std::lower_bound(Matches_.begin(), Matches_.end(), position);
    if (it == Matches_.end() || *it != position)
        return {};
    return index(MatchCount() - 1 - static_cast<int>(it - Matches_.begin()), sourceIndex.column());
}

void ListFilterModel::OnAboutToReset() {
    beginResetModel();
}

void ListFilterModel::OnReset() {
    BeginPass();
    endResetModel();
    ScheduleSlice();
    Q_EMIT CountsChanged();
}

void ListFilterModel::OnAboutToChangeLayout() {
    // Hidden rows leave no place for a persistent index to follow: those lists start over.
    if (Hiding()) {
        beginResetModel();
        return;
    }
    Q_EMIT layoutAboutToBeChanged();
    Layout_.Remember(*this, persistentIndexList());
}

void ListFilterModel::OnLayoutChanged() {
    if (!Layout_.Pending()) {
        OnReset();
        return;
    }
    const auto [from, to] = Layout_.Moved(*this);
    changePersistentIndexList(from, to);
    // Every row stays, marked or not; the marks are looked for again.
    if (Active())
        BeginPass();
    Q_EMIT layoutChanged();
    ScheduleSlice();
    Q_EMIT CountsChanged();
}

void ListFilterModel::OnAboutToInsert(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    RowsBefore_ = SourceRowCount();
    if (!Hiding())
        beginInsertRows({}, first, last);
}

void ListFilterModel::OnInserted(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    // The new rows take the positions from boundary on; the rows above them move up.
    const Position boundary = RowsBefore_ - first;
    const auto above = std::lower_bound(Matches_.begin(), Matches_.end(), boundary);
    for (auto it = above; it != Matches_.end(); ++it)
        *it += count;
    std::vector<Position> found;
    if (Cursor_ >= boundary) {
        // Below the pass: it tests them when it gets there.
        Cursor_ += count;
    } else if (Active()) {
        for (int row = last; row >= first; --row)
            if (Test(row))
                found.push_back(PositionOf(row));
    }
    const auto at = static_cast<int>(above - Matches_.begin());
    if (Hiding()) {
        if (!found.empty()) {
            const int before = MatchCount();
            beginInsertRows({}, before - at, before - at + static_cast<int>(found.size()) - 1);
            Matches_.insert(Matches_.begin() + at, found.begin(), found.end());
            endInsertRows();
        }
    } else {
        Matches_.insert(Matches_.begin() + at, found.begin(), found.end());
        endInsertRows();
    }
    Q_EMIT CountsChanged();
}

void ListFilterModel::OnAboutToRemove(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    RowsBefore_ = SourceRowCount();
    if (!Hiding()) {
        beginRemoveRows({}, first, last);
        return;
    }
    const Position low = RowsBefore_ - 1 - last;
    const Position high = RowsBefore_ - 1 - first;
    const auto from = std::lower_bound(Matches_.begin(), Matches_.end(), low);
    const auto to = std::upper_bound(Matches_.begin(), Matches_.end(), high);
    if (from != to) {
        const int matches = MatchCount();
        beginRemoveRows({}, matches - static_cast<int>(to - Matches_.begin()),
                        matches - 1 - static_cast<int>(from - Matches_.begin()));
    }
}

void ListFilterModel::OnRemoved(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    const Position low = RowsBefore_ - 1 - last;
    const Position high = RowsBefore_ - 1 - first;
    const auto from = std::lower_bound(Matches_.begin(), Matches_.end(), low);
    const auto to = std::upper_bound(Matches_.begin(), Matches_.end(), high);
    const bool removedShown = Hiding() && from != to;
    const auto rest = Matches_.erase(from, to);
    for (auto it = rest; it != Matches_.end(); ++it)
        *it -= count;
    if (Cursor_ > high)
        Cursor_ -= count;
    else if (Cursor_ >= low)
        Cursor_ = low - 1;
    if (!Hiding() || removedShown)
        endRemoveRows();
    Q_EMIT CountsChanged();
}

void ListFilterModel::OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                    const QList<int>& roles) {
    if (rowCount() == 0)
        return;
    if (!Hiding()) {
        Q_EMIT dataChanged(mapFromSource(topLeft), mapFromSource(bottomRight), roles);
        return;
    }
    Q_EMIT dataChanged(index(0, topLeft.column()), index(rowCount() - 1, bottomRight.column()), roles);
}

void ListFilterModel::OnHeaderChanged(Qt::Orientation orientation, int first, int last) {
    if (orientation == Qt::Horizontal)
        Q_EMIT headerDataChanged(orientation, first, last);
}

} // namespace kavel::ui
