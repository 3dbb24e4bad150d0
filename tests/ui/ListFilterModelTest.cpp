#include "ui/ListFilterModel.h"

#include "UiTestSupport.h"
#include "acquisition/EntryCells.h"
#include "acquisition/EntryQueue.h"
#include "base/TextPattern.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemModelTester>
#include <QAbstractTableModel>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel::ui {
namespace {

// A list of raw lines, the newest on top, that adds and removes rows anywhere, as the window's
// lists do: column 0 shows the line, column 1 shows nothing to search.
class LinesModel final : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0)
            return {};
        return QString::fromStdString(std::string(Rows_[static_cast<std::size_t>(index.row())]->Line.View()));
    }
    const LogEntry* EntryAt(int row) const {
        return row >= 0 && row < rowCount() ? Rows_[static_cast<std::size_t>(row)] : nullptr;
    }
    // Display rows at..at+lines.size()-1.
    void Insert(int at, const std::vector<std::string>& lines) {
        beginInsertRows({}, at, at + static_cast<int>(lines.size()) - 1);
        std::vector<const LogEntry*> made;
        for (const std::string& line : lines) {
            Entries_.push_back(LogEntry::Make(line, nullptr));
            made.push_back(Entries_.back().get());
        }
        Rows_.insert(Rows_.begin() + at, made.begin(), made.end());
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
    void Reset(const std::vector<std::string>& lines) {
        beginResetModel();
        Rows_.clear();
        for (const std::string& line : lines) {
            Entries_.push_back(LogEntry::Make(line, nullptr));
            Rows_.push_back(Entries_.back().get());
        }
        endResetModel();
    }

private:
    std::vector<std::unique_ptr<LogEntry>> Entries_;
    std::vector<const LogEntry*> Rows_;
};

std::shared_ptr<const TextPattern> Pattern(std::string_view text,
                                           PatternSyntax syntax = PatternSyntax::Text) {
    auto compiled = TextPattern::Compile(text, {syntax, true});
    return std::make_shared<const TextPattern>(std::move(std::get<TextPattern>(compiled)));
}

class ListFilterModelTest : public testing::Test {
protected:
    ListFilterModelTest() {
        test::App();
        Filter_.SetSource(
            &Source_, [this](int row) { return Source_.EntryAt(row); },
            [](int column) -> std::optional<EntryCell> {
                if (column == 0)
                    return EntryCell::Line;
                return std::nullopt;
            });
    }

    // The lines the filter shows, top to bottom.
    std::vector<std::string> Shown() const {
        std::vector<std::string> lines;
        for (int row = 0; row < Filter_.rowCount(); ++row)
            lines.push_back(Filter_.index(row, 0).data().toString().toStdString());
        return lines;
    }
    bool Finish() {
        return test::RunEventLoopUntil([this] { return !Filter_.Running(); });
    }
    void Apply(std::string_view text, bool markOnly = false, int column = -1) {
        Filter_.SetFilter({Pattern(text), column, markOnly});
        ASSERT_TRUE(Finish());
    }

    LinesModel Source_;
    ListFilterModel Filter_{Space().Spiders()};
    // Checks every signal and answer of the filter for consistency while the test runs.
    QAbstractItemModelTester Tester_{&Filter_, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(ListFilterModelTest, ShowsOnlyMatchingRowsInTheirOrder) {
    Source_.Insert(0, {"a1", "b2", "a3", "c4", "a5"});
    EXPECT_EQ(Filter_.rowCount(), 5);
    Apply("a");
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a1", "a3", "a5"}));
    EXPECT_EQ(Filter_.MatchCount(), 3);
    EXPECT_EQ(Filter_.SourceRowCount(), 5);
    EXPECT_EQ(Filter_.mapToSource(Filter_.index(1, 0)).row(), 2);
    EXPECT_EQ(Filter_.mapFromSource(Source_.index(4, 0)).row(), 2);
    EXPECT_FALSE(Filter_.mapFromSource(Source_.index(1, 0)).isValid());
    EXPECT_EQ(Filter_.EntryAt(2), Source_.EntryAt(4));
    // The empty pattern shows everything again.
    Apply("");
    EXPECT_EQ(Filter_.rowCount(), 5);
    EXPECT_FALSE(Filter_.Active());
}

TEST_F(ListFilterModelTest, AColumnWithoutTextFindsNothing) {
    Source_.Insert(0, {"a1", "b2"});
    Apply("a", false, 1);
    EXPECT_EQ(Filter_.rowCount(), 0);
    Apply("a", false, 0);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a1"}));
    // A hidden column is left out of every column.
    Filter_.SetHiddenColumns({0});
    Apply("a");
    EXPECT_EQ(Filter_.rowCount(), 0);
    EXPECT_FALSE(Filter_.SearchedCell(0).has_value());
    Filter_.SetHiddenColumns({});
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a1"}));
}

TEST_F(ListFilterModelTest, ALongListIsFilteredInSlicesFromTheTop) {
    std::vector<std::string> lines;
    for (int i = 0; i < 20000; ++i)
        lines.push_back((i % 2 == 0 ? "even " : "odd ") + std::to_string(i));
    Source_.Insert(0, lines);
    Filter_.SetSliceTime(0);
    QSignalSpy progress(&Filter_, &ListFilterModel::ProgressChanged);
    Filter_.SetFilter({Pattern("even"), -1, false});
    EXPECT_TRUE(Filter_.Running());
    EXPECT_EQ(Filter_.rowCount(), 0);
    // One slice: the top rows are there, the pass goes on.
    QCoreApplication::processEvents();
    EXPECT_GT(Filter_.rowCount(), 0);
    EXPECT_LT(Filter_.rowCount(), 10000);
    EXPECT_EQ(Filter_.index(0, 0).data().toString(), QStringLiteral("even 0"));
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Filter_.rowCount(), 10000);
    EXPECT_EQ(Filter_.index(9999, 0).data().toString(), QStringLiteral("even 19998"));
    EXPECT_GT(progress.count(), 2);
    EXPECT_EQ(progress.last().at(0).toInt(), 20000);
}

TEST_F(ListFilterModelTest, ANewerFilterEndsTheOlderPass) {
    std::vector<std::string> lines;
    for (int i = 0; i < 5000; ++i)
        lines.push_back(i % 3 == 0 ? "x" : "y");
    Source_.Insert(0, lines);
    Filter_.SetSliceTime(0);
    Filter_.SetFilter({Pattern("x"), -1, false});
    QCoreApplication::processEvents();
    Filter_.SetFilter({Pattern("y"), -1, false});
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Filter_.rowCount(), 5000 - 1667);
    for (const std::string& line : Shown())
        ASSERT_EQ(line, "y");
}

TEST_F(ListFilterModelTest, RowsAddedWhileFilteredAreTestedAsTheyCome) {
    Source_.Insert(0, {"a old", "b old"});
    Apply("a");
    Source_.Insert(0, {"a new1", "b new", "a new2"});
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a new1", "a new2", "a old"}));
    // Into the middle (an entry older than the top rows), and at the bottom.
    Source_.Insert(2, {"a middle", "b middle"});
    Source_.Insert(Source_.rowCount(), {"a bottom"});
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a new1", "a middle", "a new2", "a old", "a bottom"}));
    Source_.Remove(1, 3);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a new1", "a new2", "a old", "a bottom"}));
    Source_.Remove(0, Source_.rowCount() - 1);
    EXPECT_EQ(Filter_.rowCount(), 0);
    Source_.Reset({"a reset", "b reset"});
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a reset"}));
}

TEST_F(ListFilterModelTest, RowsAddedDuringAPassAreFoundOnce) {
    std::vector<std::string> lines;
    for (int i = 0; i < 8000; ++i)
        lines.push_back("m" + std::to_string(i));
    Source_.Insert(0, lines);
    Filter_.SetSliceTime(0);
    Filter_.SetFilter({Pattern("m"), -1, false});
    QCoreApplication::processEvents();
    ASSERT_TRUE(Filter_.Running());
    // On top (already passed), in the middle of what the pass has still to test, and removed
    // rows on both sides of it.
    Source_.Insert(0, {"m top"});
    Source_.Insert(6000, {"m deep", "n deep"});
    Source_.Remove(7000, 7001);
    Source_.Remove(1, 1);
    ASSERT_TRUE(Finish());
    std::vector<std::string> expected;
    for (int row = 0; row < Source_.rowCount(); ++row) {
        const std::string line(Source_.EntryAt(row)->Line.View());
        if (line[0] == 'm')
            expected.push_back(line);
    }
    EXPECT_EQ(Shown(), expected);
}

TEST_F(ListFilterModelTest, MarkOnlyKeepsEveryRowAndFindsTheNextMatch) {
    Source_.Insert(0, {"a0", "b1", "a2", "b3", "a4"});
    Apply("a", true);
    EXPECT_EQ(Filter_.rowCount(), 5);
    EXPECT_EQ(Filter_.MatchCount(), 3);
    EXPECT_TRUE(Filter_.SourceRowMatches(2));
    EXPECT_FALSE(Filter_.SourceRowMatches(3));
    struct Step {
        int From;
        bool Backwards;
        int Next;
    };
    const Step steps[] = {{-1, false, 0}, {0, false, 2}, {1, false, 2}, {2, false, 4}, {4, false, -1},
                          {-1, true, 4},  {4, true, 2},  {3, true, 2},  {0, true, -1}};
    for (const Step& step : steps)
        EXPECT_EQ(Filter_.NextMatch(step.From, step.Backwards), step.Next)
            << step.From << " " << step.Backwards;
    // Rows added later count as well.
    Source_.Insert(0, {"a new"});
    EXPECT_EQ(Filter_.MatchCount(), 4);
    EXPECT_EQ(Filter_.NextMatch(-1, false), 0);
    EXPECT_EQ(Filter_.NextMatch(0, false), 1);
    // From mark only to hiding and back.
    Apply("a");
    EXPECT_EQ(Filter_.rowCount(), 4);
    Apply("b", true);
    EXPECT_EQ(Filter_.rowCount(), 6);
    EXPECT_EQ(Filter_.MatchCount(), 2);
}

TEST_F(ListFilterModelTest, RegularExpressionsAndAnEmptyList) {
    Apply("x");
    EXPECT_EQ(Filter_.rowCount(), 0);
    EXPECT_FALSE(Filter_.Running());
    Source_.Insert(0, {"GET /a", "POST /b", "GETX /c"});
    Filter_.SetFilter({Pattern("^(GET|POST) ", PatternSyntax::RegularExpression), -1, false});
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Shown(), (std::vector<std::string>{"GET /a", "POST /b"}));
}

// Expired rows that leave in many runs come as one layout change: without a filter, or with
// one that only marks, the selection and a held view's top row follow their rows; a list that
// hides rows starts over.
TEST_F(ListFilterModelTest, ALayoutChangeOfTheSourceKeepsPersistentRowsUnlessRowsAreHidden) {
    Source_.Insert(0, {"a1", "b2", "a3", "b4", "a5", "b6", "a7"});
    QSignalSpy resets(&Filter_, &QAbstractItemModel::modelReset);
    QPersistentModelIndex held(Filter_.index(4, 0));
    Source_.RemoveInOneLayout({1, 3});
    EXPECT_EQ(held.row(), 2);
    EXPECT_EQ(held.data().toString().toStdString(), "a5");
    EXPECT_EQ(resets.count(), 0);

    Apply("a", true);
    held = Filter_.index(2, 0);
    Source_.RemoveInOneLayout({0});
    EXPECT_EQ(held.row(), 1);
    EXPECT_EQ(held.data().toString().toStdString(), "a5");
    EXPECT_EQ(resets.count(), 0);
    // The marks are looked for again over the rows as they are now.
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Filter_.MatchCount(), 3);
    EXPECT_TRUE(Filter_.SourceRowMatches(1));
    EXPECT_FALSE(Filter_.SourceRowMatches(2));

    Apply("a");
    resets.clear();
    Source_.RemoveInOneLayout({0});
    EXPECT_EQ(resets.count(), 1);
    ASSERT_TRUE(Finish());
    EXPECT_EQ(Shown(), (std::vector<std::string>{"a5", "a7"}));
}

} // namespace
} // namespace kavel::ui
