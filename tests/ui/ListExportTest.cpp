#include "ui/ListExport.h"

#include "UiTestSupport.h"
#include "acquisition/EntryCells.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "base/TextPattern.h"
#include "platform/Clock.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"
#include "ui/AccessLists.h"
#include "ui/ListFilterModel.h"

#include <QItemSelectionModel>
#include <QTableView>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel::ui {
namespace {

constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

// The three lists with their filters and views, over entries with texts that need every rule of
// the formats: quotes, commas, a tab and Windows-1252 bytes in the log.
class ListExportTest : public testing::Test {
protected:
    ListExportTest() {
        Space().Entries().Clear();
        Server_.SetName("intranet");
        Server_.SetTimeDeleteAfter(3);
        Queue("10.0.0.1", "/a,b.html", 200, "Mozilla \\\"5\\\"");
        Queue("10.0.0.2", "/M\xE4rz", 404, "Agent\twith tab");
        Queue("10.0.0.3", "/=cmd", 301, "-");
        Lists_.AppendEntries(Space().Entries().First());
        RawFilter_.SetSource(
            &Lists_.Raw(), [this](int row) { return Lists_.Raw().EntryAt(row); },
            [](int column) -> std::optional<EntryCell> {
                return column == 0 ? std::optional<EntryCell>(EntryCell::Line) : std::nullopt;
            });
        LogFilter_.SetSource(
            &Lists_.Log(), [this](int row) { return Lists_.Log().EntryAt(row); },
            &AccessListModel::CellOfColumn);
        RawView_.setModel(&RawFilter_);
        LogView_.setModel(&LogFilter_);
    }
    ~ListExportTest() override {
        Lists_.ClearLists();
        Space().Entries().Clear();
    }

    void Queue(const std::string& address, const std::string& page, int status, const std::string& agent) {
        const std::string line = address + " - - [10/Mar/2024:11:00:0" +
                                 std::to_string(Space().Entries().Count()) + " +0000] \"GET " + page +
                                 " HTTP/1.1\" " + std::to_string(status) + " 512 \"-\" \"" + agent + "\"";
        Space().Entries().Append(MakeEntry(line, Server_, EntrySettings::Of(Space())));
    }
    QApplication& App_ = test::App();
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::ManualClock Clock_{TestNow};
    platform::ScopedClock UseClock_{Clock_};
    Server Server_;
    AccessLists Lists_{Space()};
    ListFilterModel RawFilter_{Space().Spiders()};
    ListFilterModel LogFilter_{Space().Spiders()};
    QTableView RawView_;
    QTableView LogView_;
};

TEST_F(ListExportTest, CopiedRowsAreTabSeparatedWithAHeaderInListOrder) {
    // Rows 2 and 0 selected, in this order: copied top to bottom.
    LogView_.selectionModel()->select(LogFilter_.index(2, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    LogView_.selectionModel()->select(LogFilter_.index(0, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    LogView_.setColumnHidden(AccessListModel::ColumnServer, true);
    const QString text = SelectedRowsText(LogView_);
    const QStringList lines = text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4) << text.toStdString();
    EXPECT_EQ(lines[0],
              QStringLiteral("Nr.\tAngefordert am\tAbsenderadresse\tBenutzer\tMethode\tSeite\tCode\t"
                             "Referenzseite\tUser Agent"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("3\t2024-03-10 11:00:02\t10.0.0.3\t-\tGET\t/=cmd\t301 ")))
        << lines[1].toStdString();
    EXPECT_TRUE(
        lines[2].startsWith(QStringLiteral("1\t2024-03-10 11:00:00\t10.0.0.1\t-\tGET\t/a,b.html\t200 ")))
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], QString());
    for (const QString& line : lines.mid(1, 2))
        EXPECT_EQ(line.count(QLatin1Char('\t')), 8) << line.toStdString();
}

TEST_F(ListExportTest, RawLinesAreCopiedAsTheyWereLogged) {
    RawView_.selectAll();
    const QString text = SelectedRowsText(RawView_);
    const QStringList lines = text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4);
    // The newest on top; the tab stays a tab, the Windows-1252 byte becomes its letter.
    EXPECT_TRUE(lines[1].contains(QStringLiteral("/M\u00E4rz HTTP/1.1")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("Agent\twith tab")));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("10.0.0.1 - - [")));
    // Nothing selected, nothing copied.
    RawView_.clearSelection();
    EXPECT_TRUE(SelectedRowsText(RawView_).isEmpty());
}

TEST_F(ListExportTest, TheExportHoldsTheRowsTheViewShowsNow) {
    kavel::test::TempFolder folder;
    auto compiled = TextPattern::Compile("M\xC3\xA4rz", {PatternSyntax::Text, true});
    LogFilter_.SetFilter(
        {std::make_shared<const TextPattern>(std::move(std::get<TextPattern>(compiled))), -1, false});
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return !LogFilter_.Running(); }));
    ASSERT_EQ(LogFilter_.rowCount(), 1);
    ExportRows(LogView_, folder / "list.csv", TableFormat::Csv);
    const std::string csv = kavel::test::ReadBytes(folder / "list.csv");
    EXPECT_EQ(
        csv.substr(0, csv.find("\r\n")),
        "Nr.,Angefordert am,Absenderadresse,Benutzer,Methode,Seite,Code,Referenzseite,User Agent,Server");
    // Windows-1252 as the window shows it (UTF-8), the tab as its symbol.
    EXPECT_NE(csv.find(",/M\xC3\xA4rz,404 Not Found,-,Agent\xE2\x90\x89with tab,intranet\r\n"),
              std::string::npos)
        << csv;

    LogFilter_.SetFilter({});
    ExportRows(LogView_, folder / "list.jsonl", TableFormat::JsonLines);
    const std::string json = kavel::test::ReadBytes(folder / "list.jsonl");
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 3);
    EXPECT_EQ(json.rfind("{\"Nr.\":\"3\",\"Angefordert am\":\"2024-03-10 11:00:02\",", 0), 0u) << json;
    EXPECT_NE(json.find("\"Seite\":\"/a,b.html\""), std::string::npos);
    EXPECT_NE(json.find("\"/=cmd\""), std::string::npos);
}

} // namespace
} // namespace kavel::ui
