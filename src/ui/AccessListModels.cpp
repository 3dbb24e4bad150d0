#include "ui/AccessListModels.h"

#include "acquisition/EntryCells.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "config/AppSettings.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/LocaleFormat.h"
#include "ui/DisplayText.h"
#include "ui/IconSet.h"

#include <algorithm>
#include <unordered_map>

namespace kavel::ui {
namespace {

// More rows out of time order than this in one batch are merged in one reset of the model
// instead of one insertion each (a rebuild after a second reader delivered its history).
constexpr std::size_t MaxSingleInsertions = 64;

template <class Row>
bool EarlierRow(const Row& a, const Row& b) {
    return a.Entry->Time < b.Entry->Time;
}

// A rebuild's batch may be large; its room is given back instead of staying with the list.
template <class Row>
void EmptyPending(std::vector<Row>& pending) {
    constexpr std::size_t KeptCapacity = 1024;
    pending.clear();
    if (pending.capacity() > KeptCapacity)
        std::vector<Row>().swap(pending);
}

// Moves the pending rows into rows (oldest first, shown reversed), telling the model's views
// in as few notifications as possible. begin(first)/end() bracket one insertion of display
// rows first..first+count-1; resetBegin/resetEnd bracket a reset.
template <class Row, class Insert, class Reset>
void PublishInTimeOrder(std::vector<Row>& rows, std::vector<Row>& pending, const Insert& insert,
                        const Reset& reset) {
    if (pending.empty())
        return;
    if (!std::is_sorted(pending.begin(), pending.end(), EarlierRow<Row>))
        std::stable_sort(pending.begin(), pending.end(), EarlierRow<Row>);
    // Pending rows older than the newest published row go into the middle.
    std::size_t outOfOrder = 0;
    if (!rows.empty()) {
        const DateTime newest = rows.back().Entry->Time;
        while (outOfOrder < pending.size() && pending[outOfOrder].Entry->Time < newest)
            ++outOfOrder;
    }
    if (outOfOrder > MaxSingleInsertions) {
        reset([&] {
            // In place, so that a reservation made for a rebuild holds. Stable: of equal times
            // the published rows stay below the new ones.
            const auto published = static_cast<std::ptrdiff_t>(rows.size());
            rows.insert(rows.end(), std::make_move_iterator(pending.begin()),
                        std::make_move_iterator(pending.end()));
            std::inplace_merge(rows.begin(), rows.begin() + published, rows.end(), EarlierRow<Row>);
        });
        EmptyPending(pending);
        return;
    }
    for (std::size_t i = 0; i < outOfOrder; ++i) {
        const auto at = std::upper_bound(rows.begin(), rows.end(), pending[i], EarlierRow<Row>);
        const std::size_t position = static_cast<std::size_t>(at - rows.begin());
        const int display = static_cast<int>(rows.size() - position);
        insert(display, 1, [&] {
            rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(position), std::move(pending[i]));
        });
    }
    const std::size_t tail = pending.size() - outOfOrder;
    if (tail > 0) {
        insert(0, static_cast<int>(tail), [&] {
            rows.insert(rows.end(),
                        std::make_move_iterator(pending.begin() + static_cast<std::ptrdiff_t>(outOfOrder)),
                        std::make_move_iterator(pending.end()));
        });
    }
    EmptyPending(pending);
}

// More runs of neighbouring rows than this leave in one change of the layout instead of one
// removal each: entries of servers with different keep periods interleave.
constexpr std::size_t MaxSingleRemovals = 16;

// Removes the rows whose entries leave from rows (oldest first, shown reversed), telling the
// model's views in as few notifications as possible: remove(first, last, change) brackets the
// removal of display rows first..last; relayout(change, newRowOf) brackets a change of the
// layout, newRowOf giving a display row's row afterwards (-1 when it went), so that selections
// and the rows a view holds on screen stay with their entries. release runs for each leaving
// row before it goes. Room that more than three quarters of the rows no longer need goes back.
template <class Row, class EntryOf, class Release, class Remove, class Relayout>
std::size_t RemoveLeavingRows(std::vector<Row>& rows, const std::function<bool(const LogEntry&)>& leaving,
                              const EntryOf& entryOf, const Release& release, const Remove& remove,
                              const Relayout& relayout) {
    // Runs of leaving rows as [begin, end) in storage order.
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::size_t count = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!leaving(entryOf(rows[i])))
            continue;
        ++count;
        if (!runs.empty() && runs.back().second == i)
            runs.back().second = i + 1;
        else
            runs.emplace_back(i, i + 1);
    }
    if (runs.empty())
        return 0;
    if (runs.size() > MaxSingleRemovals) {
        // The rows removed up to the end of each run, for mapping the rows that stay.
        std::vector<std::size_t> removedThrough(runs.size());
        std::size_t removed = 0;
        for (std::size_t r = 0; r < runs.size(); ++r) {
            removed += runs[r].second - runs[r].first;
            removedThrough[r] = removed;
        }
        const std::size_t oldSize = rows.size();
        const std::size_t newSize = oldSize - count;
        const auto newRowOf = [&](int displayRow) {
            if (displayRow < 0 || static_cast<std::size_t>(displayRow) >= oldSize)
                return -1;
            const std::size_t i = oldSize - 1 - static_cast<std::size_t>(displayRow);
            // The first run that ends after i: i lies in it or before it.
            const auto run = std::upper_bound(runs.begin(), runs.end(), i,
                                              [](std::size_t at, const auto& r) { return at < r.second; });
            if (run != runs.end() && i >= run->first)
                return -1;
            const auto index = static_cast<std::size_t>(run - runs.begin());
            const std::size_t before = index == 0 ? 0 : removedThrough[index - 1];
            return static_cast<int>(newSize - 1 - (i - before));
        };
        relayout(
            [&] {
                for (Row& row : rows)
                    if (leaving(entryOf(row)))
                        release(row);
                std::erase_if(rows, [&](const Row& row) { return leaving(entryOf(row)); });
            },
            newRowOf);
    } else {
        // From the newest run down: a removal leaves the display rows above it where they are.
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            const auto [begin, end] = *run;
            const int first = static_cast<int>(rows.size() - end);
            const int last = static_cast<int>(rows.size() - 1 - begin);
            remove(first, last, [&] {
                for (std::size_t i = begin; i < end; ++i)
                    release(rows[i]);
                rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(begin),
                           rows.begin() + static_cast<std::ptrdiff_t>(end));
            });
        }
    }
    constexpr std::size_t KeptCapacity = 1024;
    if (rows.capacity() > KeptCapacity && rows.size() < rows.capacity() / 4)
        rows.shrink_to_fit();
    return count;
}

// The persistent indexes (selections, the rows a view holds on screen) at the rows newRowOf
// gives them after a change of the layout; an index whose row went becomes invalid.
template <class Model, class NewRowOf>
QModelIndexList MovedIndexes(const Model& model, const QModelIndexList& before, const NewRowOf& newRowOf) {
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const int row = newRowOf(index.row());
        after.push_back(row < 0 ? QModelIndex() : model.index(row, index.column()));
    }
    return after;
}

// A row is a reference to its entry and a number: a million rows stay within 16 MB.
static_assert(sizeof(AccessListModel::Row) <= 16);
static_assert(sizeof(ExceptionListModel::Row) <= 16);

// The shown text of an entry's cell, made where the quick filter and kavel-cli make it.
QString CellText(const LogEntry& entry, EntryCell cell, const SpiderList& spiders) {
    // Made anew for each cell: its time cache must not outlive a change of the locale's format.
    EntryTexts texts(spiders);
    const std::string_view text = texts.Text(entry, cell);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant OutcomeCell(const LogEntry& entry, const SpiderList& spiders) {
    return static_cast<int>(OutcomeOf(entry, spiders));
}

QVariant IconCell(Icon icon, int role) {
    if (icon == Icon::None)
        return {};
    if (role == IconRole)
        return IconIndex(icon);
    return IconFor(icon);
}

QVariant HeaderText(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A date with two-digit day and month and a time late in the day: as wide as the column gets.
QString WidestTimeText() {
    return EntryTimeText(DateTime{DaysFromCivil(2024, 12, 28) * MsPerDay + 23 * MsPerHour + 58 * MsPerMinute +
                                  58 * MsPerSecond});
}

std::string Thousands(std::int64_t value) {
    return platform::CurrentLocaleFormat().Thousands(value);
}

} // namespace

template <class RowType>
void TimeOrderedListModel<RowType>::Publish() {
    PublishInTimeOrder(
        Rows_.Storage(), Pending_,
        [this](int first, int count, const auto& change) {
            beginInsertRows({}, first, first + count - 1);
            change();
            endInsertRows();
        },
        [this](const auto& change) {
            beginResetModel();
            change();
            endResetModel();
        });
}

template <class RowType>
std::size_t TimeOrderedListModel<RowType>::RemoveRowsIf(const std::function<bool(const LogEntry&)>& leaving) {
    return RemoveLeavingRows(
        Rows_.Storage(), leaving, [](const Row& row) -> const LogEntry& { return *row.Entry; },
        [this](Row& row) { ReleaseRow(row); },
        [this](int first, int last, const auto& change) {
            beginRemoveRows({}, first, last);
            change();
            endRemoveRows();
        },
        [this](const auto& change, const auto& newRowOf) {
            Q_EMIT layoutAboutToBeChanged();
            const QModelIndexList before = persistentIndexList();
            change();
            changePersistentIndexList(before, MovedIndexes(*this, before, newRowOf));
            Q_EMIT layoutChanged();
        });
}

template class TimeOrderedListModel<AccessRow>;
template class TimeOrderedListModel<ExceptionRow>;

QString EntryTimeText(DateTime time) {
    return QString::fromStdString(platform::FormatDateTime(time));
}

// ---------------------------------------------------------------------------------------------
// RawLinesModel

RawLinesModel::RawLinesModel(Workspace& space, QObject* parent)
    : QAbstractTableModel(parent)
    , Space_(space) {}

int RawLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Lines_.size());
}

int RawLinesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

const LogEntry* RawLinesModel::EntryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= Lines_.size())
        return nullptr;
    return Lines_[Lines_.size() - 1 - static_cast<std::size_t>(row)];
}

QVariant RawLinesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (role == OutcomeRole) {
        const LogEntry* entry = EntryAt(index.row());
        return entry ? OutcomeCell(*entry, Space_.Spiders()) : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        // The server the line came from, which the line itself does not say.
        const LogEntry* entry = EntryAt(index.row());
        if (entry == nullptr || entry->Server == nullptr)
            return {};
        return ToolTipText(QStringLiteral("Server: ") +
                           CellText(*entry, EntryCell::Server, Space_.Spiders()));
    }
    if (role != Qt::DisplayRole)
        return {};
    const LogEntry* entry = EntryAt(index.row());
    return entry ? CellText(*entry, EntryCell::Line, Space_.Spiders()) : QVariant();
}

QVariant RawLinesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return HeaderText("Protokollzeile");
    return {};
}

void RawLinesModel::Add(const LogEntry& entry) {
    Pending_.push_back(&entry);
}

void RawLinesModel::Reserve(std::size_t rows) {
    Lines_.reserve(rows);
}

void RawLinesModel::Publish() {
    if (Pending_.empty())
        return;
    beginInsertRows({}, 0, static_cast<int>(Pending_.size()) - 1);
    Lines_.insert(Lines_.end(), Pending_.begin(), Pending_.end());
    EmptyPending(Pending_);
    endInsertRows();
}

std::size_t RawLinesModel::RemoveRowsIf(const std::function<bool(const LogEntry&)>& leaving) {
    return RemoveLeavingRows(
        Lines_, leaving, [](const LogEntry* entry) -> const LogEntry& { return *entry; },
        [](const LogEntry*) {},
        [this](int first, int last, const auto& change) {
            beginRemoveRows({}, first, last);
            change();
            endRemoveRows();
        },
        [this](const auto& change, const auto& newRowOf) {
            Q_EMIT layoutAboutToBeChanged();
            const QModelIndexList before = persistentIndexList();
            change();
            changePersistentIndexList(before, MovedIndexes(*this, before, newRowOf));
            Q_EMIT layoutChanged();
        });
}

void RawLinesModel::Clear() {
    beginResetModel();
    Lines_.clear();
    Lines_.shrink_to_fit();
    Pending_.clear();
    endResetModel();
}

// ---------------------------------------------------------------------------------------------
// AccessListModel

const std::vector<int>& AccessListModel::DefaultWidths() {
    static const std::vector<int> widths = {20, 30, 120, 130, 60, 60, 200, 50, 200, 200, 120};
    return widths;
}

AccessListModel::AccessListModel(Workspace& space, QObject* parent)
    : TimeOrderedListModel(parent)
    , Space_(space)
    , Handle_(space.Entries().Lists().Take()) {}

AccessListModel::~AccessListModel() {
    // The entries outlive the lists only at the end of the program; none may name this list.
    ReleaseListItems();
    Space_.Entries().Lists().Give(Handle_);
}

void AccessListModel::ReleaseListItems() {
    for (const Row& row : Rows_.Storage())
        if (row.Entry->ListItem == Handle_)
            row.Entry->ListItem = ListHandle::None;
    for (const Row& row : Pending_)
        if (row.Entry->ListItem == Handle_)
            row.Entry->ListItem = ListHandle::None;
}

void AccessListModel::ReleaseRow(Row& row) {
    if (row.Entry->ListItem == Handle_)
        row.Entry->ListItem = ListHandle::None;
}

int AccessListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

bool AccessListModel::HasRow(const LogEntry& entry) const {
    return entry.ListItem == Handle_;
}

LogEntry* AccessListModel::EntryAt(int row) const {
    const Row* found = RowAt(row);
    return found ? found->Entry : nullptr;
}

std::int32_t AccessListModel::NumberAt(int row) const {
    const Row* found = RowAt(row);
    return found ? found->Number : 0;
}

int AccessListModel::RowOf(const LogEntry* entry) const {
    if (entry == nullptr || entry->ListItem != Handle_)
        return -1;
    const std::vector<Row>& rows = Rows_.Storage();
    const Row probe{const_cast<LogEntry*>(entry), 0};
    auto [from, to] = std::equal_range(rows.begin(), rows.end(), probe, EarlierRow<Row>);
    for (auto it = from; it != to; ++it)
        if (it->Entry == entry)
            return static_cast<int>(rows.size() - 1 - static_cast<std::size_t>(it - rows.begin()));
    return -1;
}

int AccessListModel::CompareRows(int column, int rowA, int rowB) const {
    const Row& a = Rows_.At(rowA);
    const Row& b = Rows_.At(rowB);
    const auto order = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (column == ColumnNumber)
        return order(a.Number, b.Number);
    if (column == ColumnTime)
        return order(a.Entry->Time.Ms, b.Entry->Time.Ms);
    if (column == ColumnServer) {
        if (a.Entry->Server == b.Entry->Server)
            return 0;
        const std::string nameA = a.Entry->Server ? a.Entry->Server->Name() : std::string();
        const std::string nameB = b.Entry->Server ? b.Entry->Server->Name() : std::string();
        return CompareAsciiIgnoreCase(nameA, nameB);
    }
    const AccessRecord* x = a.Entry->Access();
    const AccessRecord* y = b.Entry->Access();
    if (x == nullptr || y == nullptr)
        return order(x != nullptr, y != nullptr);
    if (column == SortKeyColumn_ && a.SortKey != AccessRow::NoSortKey && b.SortKey != AccessRow::NoSortKey)
        return order(a.SortKey, b.SortKey);
    const LinePin pinA(*a.Entry);
    const LinePin pinB(*b.Entry);
    switch (column) {
    case ColumnVisitor:
        return order(IconIndex(IconOf(x->Visitor())), IconIndex(IconOf(y->Visitor())));
    case ColumnHost:
        return CompareAsciiIgnoreCase(x->HostName(), y->HostName());
    case ColumnUser:
        return CompareAsciiIgnoreCase(x->User(), y->User());
    case ColumnMethod:
        return CompareAsciiIgnoreCase(x->Method(), y->Method());
    case ColumnPage:
        return CompareAsciiIgnoreCase(x->Page(), y->Page());
    case ColumnStatus:
        return order(x->Status, y->Status);
    case ColumnReferer:
        return CompareAsciiIgnoreCase(x->Referer(), y->Referer());
    case ColumnUserAgent:
        return CompareAsciiIgnoreCase(x->UserAgent(), y->UserAgent());
    default:
        return 0;
    }
}

namespace {

// The text of a sortable text column, or none for the other columns.
std::optional<std::string_view> SortText(const AccessRecord& access, int column) {
    switch (column) {
    case AccessListModel::ColumnHost:
        return access.HostName();
    case AccessListModel::ColumnUser:
        return access.User();
    case AccessListModel::ColumnMethod:
        return access.Method();
    case AccessListModel::ColumnPage:
        return access.Page();
    case AccessListModel::ColumnReferer:
        return access.Referer();
    case AccessListModel::ColumnUserAgent:
        return access.UserAgent();
    default:
        return std::nullopt;
    }
}

} // namespace

void AccessListModel::PrepareCompare(int column) {
    SortKeyColumn_ = -1;
    std::vector<Row>& rows = Rows_.Storage();
    // Distinct texts first: a column holds far fewer of them than rows, and a text seen before
    // is found without a copy.
    std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> ids;
    std::vector<const std::string*> texts;
    LinePin pin;
    for (Row& row : rows) {
        row.SortKey = AccessRow::NoSortKey;
        const AccessRecord* access = row.Entry->Access();
        if (access == nullptr)
            continue;
        pin.Reach(*row.Entry);
        const std::optional<std::string_view> text = SortText(*access, column);
        if (!text)
            return;
        auto position = ids.find(*text);
        if (position == ids.end()) {
            position = ids.emplace(std::string(*text), static_cast<std::uint32_t>(texts.size())).first;
            texts.push_back(&position->first);
        }
        row.SortKey = position->second;
    }
    std::vector<std::uint32_t> order(texts.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&texts](std::uint32_t x, std::uint32_t y) {
        return CompareAsciiIgnoreCase(*texts[x], *texts[y]) < 0;
    });
    // Texts equal but for case share their rank, as their comparison gives 0.
    std::vector<std::uint32_t> rank(texts.size());
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && CompareAsciiIgnoreCase(*texts[order[i - 1]], *texts[order[i]]) != 0)
            ++next;
        rank[order[i]] = next;
    }
    for (Row& row : rows)
        if (row.SortKey != AccessRow::NoSortKey)
            row.SortKey = rank[row.SortKey];
    SortKeyColumn_ = column;
}

QVariant AccessListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const Row& row = Rows_.At(index.row());
    const LogEntry& entry = *row.Entry;
    const AccessRecord* access = entry.Access();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (column == ColumnNumber)
            return row.Number > 0 ? QString::number(row.Number) : QString();
        if (const auto cell = CellOfColumn(column))
            return CellText(entry, *cell, Space_.Spiders());
        return {};
    case OutcomeRole:
        return OutcomeCell(entry, Space_.Spiders());
    case Qt::DecorationRole:
    case IconRole:
        if (access == nullptr)
            return {};
        switch (column) {
        case ColumnVisitor:
            return IconCell(IconOf(access->Visitor()), role);
        case ColumnStatus:
            return IconCell(StatusIcon(access->HasErrorStatus()), role);
        case ColumnUserAgent: {
            // The browser image is told by the user agent, a slice of the line.
            const LinePin pin(entry);
            return IconCell(IconOf(access->Browser()), role);
        }
        default:
            return {};
        }
    case Qt::TextAlignmentRole:
        if (column == ColumnNumber)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    case Qt::ToolTipRole: {
        const SettingsStore* styles = Space_.Styles();
        if (styles == nullptr || !styles->Bool("ShowInfoTips"))
            return {};
        const QString tip = InfoTip(entry, Space_.Readers());
        if (tip.isEmpty())
            return {};
        return tip;
    }
    default:
        return {};
    }
}

QVariant AccessListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && section == ColumnNumber)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role == WidthSampleIconRole)
        return section == ColumnStatus || section == ColumnUserAgent;
    if (role == WidthSampleRole) {
        switch (section) {
        case ColumnNumber:
            return QStringLiteral("888888");
        case ColumnTime:
            return WidestTimeText();
        case ColumnMethod:
            return QStringLiteral("OPTIONS");
        case ColumnStatus:
            return QStringLiteral("304 Not Modified");
        default:
            return {};
        }
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColumnVisitor:
        return QString();
    case ColumnNumber:
        return HeaderText("Nr.");
    case ColumnTime:
        return HeaderText("Angefordert am");
    case ColumnHost:
        return HeaderText("Absenderadresse");
    case ColumnUser:
        return HeaderText("Benutzer");
    case ColumnMethod:
        return HeaderText("Methode");
    case ColumnPage:
        return HeaderText("Seite");
    case ColumnStatus:
        return HeaderText("Code");
    case ColumnReferer:
        return HeaderText("Referenzseite");
    case ColumnUserAgent:
        return HeaderText("User Agent");
    case ColumnServer:
        return HeaderText("Server");
    default:
        return {};
    }
}

std::optional<EntryCell> AccessListModel::CellOfColumn(int column) {
    switch (column) {
    case ColumnTime:
        return EntryCell::Time;
    case ColumnHost:
        return EntryCell::Host;
    case ColumnUser:
        return EntryCell::User;
    case ColumnMethod:
        return EntryCell::Method;
    case ColumnPage:
        return EntryCell::Page;
    case ColumnStatus:
        return EntryCell::Status;
    case ColumnReferer:
        return EntryCell::Referer;
    case ColumnUserAgent:
        return EntryCell::UserAgent;
    case ColumnServer:
        return EntryCell::Server;
    default:
        return std::nullopt;
    }
}

void AccessListModel::Add(LogEntry& entry, std::int32_t number) {
    Pending_.push_back(Row{&entry, number});
    entry.ListItem = Handle_;
}

void AccessListModel::Reserve(std::size_t rows) {
    Rows_.Storage().reserve(rows);
}

void AccessListModel::Clear() {
    beginResetModel();
    ReleaseListItems();
    DropRows();
    endResetModel();
}

void AccessListModel::RemoveRow(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= Rows_.Size())
        return;
    std::vector<Row>& rows = Rows_.Storage();
    const std::size_t position = rows.size() - 1 - static_cast<std::size_t>(row);
    beginRemoveRows({}, row, row);
    if (rows[position].Entry->ListItem == Handle_)
        rows[position].Entry->ListItem = ListHandle::None;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(position));
    endRemoveRows();
}

// ---------------------------------------------------------------------------------------------
// ExceptionListModel

const std::vector<int>& ExceptionListModel::DefaultWidths() {
    static const std::vector<int> widths = {20, 40, 120, 120, 300};
    return widths;
}

ExceptionListModel::ExceptionListModel(Workspace& space, QObject* parent)
    : TimeOrderedListModel(parent)
    , Space_(space) {}

int ExceptionListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

LogEntry* ExceptionListModel::EntryAt(int row) const {
    const Row* found = RowAt(row);
    return found ? found->Entry : nullptr;
}

std::int32_t ExceptionListModel::CodeAt(int row) const {
    const Row* found = RowAt(row);
    return found ? found->Code : suspicion_code::None;
}

QVariant ExceptionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const Row& row = Rows_.At(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (const auto cell = CellOfColumn(column))
            return CellText(*row.Entry, *cell, Space_.Spiders());
        return QString();
    case OutcomeRole:
        return OutcomeCell(*row.Entry, Space_.Spiders());
    case Qt::DecorationRole:
    case IconRole:
        return column == ColumnImage ? IconCell(row.Image, role) : QVariant();
    case Qt::TextAlignmentRole:
        if (column == ColumnCode)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    default:
        return {};
    }
}

QVariant ExceptionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && section == ColumnCode)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role == WidthSampleRole && section == ColumnTime)
        return WidestTimeText();
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColumnImage:
        return HeaderText(" ");
    case ColumnCode:
        return HeaderText("Code");
    case ColumnServer:
        return HeaderText("Servername");
    case ColumnTime:
        return HeaderText("Angefordert am");
    case ColumnDescription:
        return HeaderText("Beschreibung");
    default:
        return {};
    }
}

std::optional<EntryCell> ExceptionListModel::CellOfColumn(int column) {
    switch (column) {
    case ColumnCode:
        return EntryCell::ExceptionCode;
    case ColumnServer:
        return EntryCell::Server;
    case ColumnTime:
        return EntryCell::Time;
    case ColumnDescription:
        return EntryCell::Description;
    default:
        return std::nullopt;
    }
}

void ExceptionListModel::Add(LogEntry& entry, std::int32_t code, Icon image) {
    Pending_.push_back(Row{&entry, code, image});
}

void ExceptionListModel::Clear() {
    beginResetModel();
    DropRows();
    endResetModel();
}

// ---------------------------------------------------------------------------------------------
// Hover text

std::vector<std::string> InfoTipLines(const LogEntry& entry, const ReaderRegistry& readers) {
    const AccessRecord* access = entry.Access();
    const Server* server = entry.Server;
    if (access == nullptr || server == nullptr)
        return {};
    const LinePin pin(entry);
    std::vector<std::string> lines;
    const auto line = [&lines](std::string_view label, std::string_view value) {
        std::string& text = lines.emplace_back(label);
        text.append(value);
    };
    {
        std::string& call = lines.emplace_back("Aufruf: ");
        call.append(access->Method());
        call += ' ';
        call.append(access->Page());
        call += " (" + std::to_string(access->Status) + ")";
    }
    line("Referenzseite: ", access->Referer());
    {
        std::string& from = lines.emplace_back("Von Adresse: ");
        from.append(access->HostName());
        from += " (";
        from.append(access->Address());
        from += ")";
    }
    line("F\xC3\xBCr Server: ", server->Name());
    line("Angefordert am: ", platform::FormatDateTime(entry.Time));
    line("Von Benutzer: ", access->User());
    line("\xC3\x9C"
         "bertragen: ",
         Thousands(access->Bytes) + " Bytes");
    line("User Agent: ", access->UserAgent());
    if (server->LogType() == LogFormat::W3c && access->Kind() == LogFormat::W3c) {
        const auto& w3c = static_cast<const W3cRecord&>(*access);
        lines.emplace_back("___");
        line("Dienstname: ", w3c.SiteName());
        line("Protokoll-Unterstatus: ", std::to_string(w3c.SubStatus));
        line("Win32-Status: ", std::to_string(w3c.Win32Status));
        line("Empfangen: ", Thousands(w3c.BytesReceived) + " Bytes");
        line("Aufnahmezeit: ", Thousands(w3c.TimeTaken) + " Millisekunden");
        line("Cookies: ", w3c.Cookie());
    }
    if (const LogReader* reader = readers.ReaderOf(*server)) {
        lines.emplace_back("___");
        std::string& sentence = lines.emplace_back("Die zust\xC3\xA4ndige \xC3\x9C"
                                                   "berwachung ist ");
        sentence += reader->Suspended() || reader->Paused() ? "suspendiert." : "aktiv.";
        sentence += " Status \"" + reader->State() + "\".";
    }
    return lines;
}

QString InfoTip(const LogEntry& entry, const ReaderRegistry& readers) {
    const std::vector<std::string> lines = InfoTipLines(entry, readers);
    if (lines.empty())
        return {};
    // Each line on its own: control bytes from the log inside a line become visible symbols,
    // while the breaks between the lines stay breaks.
    QString plain;
    for (const std::string& line : lines) {
        if (!plain.isEmpty())
            plain += QLatin1Char('\n');
        plain += DisplayText(line);
    }
    return ToolTipText(plain);
}

} // namespace kavel::ui
