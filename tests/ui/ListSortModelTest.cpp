#include "ui/ListSortModel.h"

#include "UiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QAbstractTableModel>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kavel::ui {
namespace {

// A list shown newest first whose rows have a key (column 0) and an arrival number (column 1).
class KeyModel final : public QAbstractTableModel {
public:
    struct Row {
        int Key;
        int Number;
    };
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        const Row& row = Rows_[static_cast<std::size_t>(index.row())];
        return index.column() == 0 ? row.Key : row.Number;
    }
    const Row& At(int row) const { return Rows_[static_cast<std::size_t>(row)]; }
    void Insert(int at, const std::vector<int>& keys) {
        beginInsertRows({}, at, at + static_cast<int>(keys.size()) - 1);
        for (std::size_t i = 0; i < keys.size(); ++i)
            Rows_.insert(Rows_.begin() + at + static_cast<std::ptrdiff_t>(i), Row{keys[i], ++Numbers_});
        endInsertRows();
    }
    void Remove(int first, int last) {
        beginRemoveRows({}, first, last);
        Rows_.erase(Rows_.begin() + first, Rows_.begin() + last + 1);
        endRemoveRows();
    }
    // Removes the rows in one layout change.
    void RemoveInOneLayout(const std::vector<int>& rows) {
        Q_EMIT layoutAboutToBeChanged();
        const std::vector<int> newRowOf = test::KeepRowsExcept(Rows_, rows);
        const QModelIndexList before = persistentIndexList();
        changePersistentIndexList(before, test::MovedIndexes(*this, before, newRowOf));
        Q_EMIT layoutChanged();
    }
    void Reset(const std::vector<int>& keys) {
        beginResetModel();
        Rows_.clear();
        for (const int key : keys)
            Rows_.push_back(Row{key, ++Numbers_});
        endResetModel();
    }

private:
    std::vector<Row> Rows_;
    int Numbers_ = 0;
};

class ListSortModelTest : public testing::Test {
protected:
    ListSortModelTest() {
        Sort_.SetSource(&Source_, [this](int column, int a, int b) {
            const KeyModel::Row& x = Source_.At(a);
            const KeyModel::Row& y = Source_.At(b);
            const int left = column == 0 ? x.Key : x.Number;
            const int right = column == 0 ? y.Key : y.Number;
            return left < right ? -1 : left > right ? 1 : 0;
        });
    }
    // (key, number) of the rows top to bottom.
    std::vector<std::pair<int, int>> Shown() const {
        std::vector<std::pair<int, int>> rows;
        for (int row = 0; row < Sort_.rowCount(); ++row)
            rows.emplace_back(Sort_.index(row, 0).data().toInt(), Sort_.index(row, 1).data().toInt());
        return rows;
    }
    // What a sort of the source's rows by key must give: ties in the source's order.
    std::vector<std::pair<int, int>> Expected(Qt::SortOrder order) const {
        std::vector<std::pair<int, int>> rows;
        for (int row = 0; row < Source_.rowCount(); ++row)
            rows.emplace_back(Source_.At(row).Key, Source_.At(row).Number);
        std::stable_sort(rows.begin(), rows.end(), [order](const auto& a, const auto& b) {
            return order == Qt::AscendingOrder ? a.first < b.first : a.first > b.first;
        });
        return rows;
    }
    bool Finish() {
        return test::RunEventLoopUntil([this] { return !Sort_.Sorting(); });
    }

    QApplication& App_ = test::App();
    KeyModel Source_;
    ListSortModel Sort_;
    QAbstractItemModelTester Tester_{&Sort_, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(ListSortModelTest, SortsByAColumnBothWaysAndBackToTheSourcesOrder) {
    Source_.Insert(0, {3, 1, 2, 1, 3});
    Sort_.SetSort(0, Qt::AscendingOrder);
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
    // Equal keys keep the source's order: the newer above.
    EXPECT_EQ(Shown()[0], (std::pair<int, int>{1, 2}));
    Sort_.SetSort(0, Qt::DescendingOrder);
    EXPECT_EQ(Shown(), Expected(Qt::DescendingOrder));
    Sort_.SetSort(-1, Qt::AscendingOrder);
    EXPECT_EQ(Shown(), (std::vector<std::pair<int, int>>{{3, 1}, {1, 2}, {2, 3}, {1, 4}, {3, 5}}));
    EXPECT_EQ(Sort_.mapToSource(Sort_.index(2, 0)).row(), 2);
}

TEST_F(ListSortModelTest, RowsAddedLaterTakeTheirSortedPlace) {
    Source_.Insert(0, {5, 1, 9});
    Sort_.SetSort(0, Qt::AscendingOrder);
    Source_.Insert(0, {4, 10, 0});
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
    Source_.Insert(2, {6, 6});
    Source_.Insert(Source_.rowCount(), {7});
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
    Source_.Remove(1, 3);
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
    for (int row = 0; row < Sort_.rowCount(); ++row)
        EXPECT_EQ(Sort_.mapFromSource(Sort_.mapToSource(Sort_.index(row, 0))).row(), row);
    // A rebuild of the source is sorted again.
    Source_.Reset({2, 8, 2});
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
}

TEST_F(ListSortModelTest, ALongListIsSortedInSlicesWhileRowsArrive) {
    std::mt19937 random(11);
    std::vector<int> keys;
    for (int i = 0; i < 30000; ++i)
        keys.push_back(static_cast<int>(random() % 1000));
    Source_.Insert(0, keys);
    Sort_.SetSliceTime(0);
    QSignalSpy sorted(&Sort_, &ListSortModel::Sorted);
    Sort_.SetSort(0, Qt::DescendingOrder);
    EXPECT_TRUE(Sort_.Sorting());
    // Meanwhile the source's order, and the rows that arrive.
    QCoreApplication::processEvents();
    EXPECT_EQ(Sort_.index(0, 1).data().toInt(), 1);
    Source_.Insert(0, {500, 1001});
    EXPECT_EQ(Sort_.rowCount(), 30002);
    ASSERT_TRUE(Finish());
    EXPECT_EQ(sorted.count(), 1);
    EXPECT_EQ(Shown(), Expected(Qt::DescendingOrder));
    EXPECT_EQ(Shown()[0].first, 1001);

    // A row in the middle while sorting starts the sort again; the result is the same.
    Sort_.SetSort(0, Qt::AscendingOrder);
    QCoreApplication::processEvents();
    Source_.Insert(100, {-1});
    Source_.Remove(5, 6);
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
}

// A layout change of the source keeps the persistent rows of a list in time order; a sorted
// list sorts anew.
TEST_F(ListSortModelTest, ALayoutChangeOfTheSourceKeepsPersistentRowsInTimeOrder) {
    Source_.Insert(0, {5, 4, 3, 2, 1});
    QSignalSpy resets(&Sort_, &QAbstractItemModel::modelReset);
    QPersistentModelIndex held(Sort_.index(3, 0));
    Source_.RemoveInOneLayout({0, 2});
    EXPECT_EQ(held.row(), 1);
    EXPECT_EQ(held.data().toInt(), 2);
    EXPECT_EQ(resets.count(), 0);

    Sort_.SetSort(0, Qt::AscendingOrder);
    ASSERT_TRUE(Finish());
    resets.clear();
    Source_.RemoveInOneLayout({1});
    ASSERT_TRUE(Finish());
    EXPECT_GE(resets.count(), 1);
    EXPECT_EQ(Shown(), Expected(Qt::AscendingOrder));
}

} // namespace
} // namespace kavel::ui
