#include "acquisition/EntryCells.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/TextPattern.h"
#include "parsing/AccessRecord.h"
#include "support/ParsingSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kavel {
namespace {

class EntryCellsTest : public testing::Test {
protected:
    EntryCellsTest() { Server_.SetName("www.example.org"); }

    std::unique_ptr<LogEntry> Entry(std::string_view page, std::int32_t status, std::string_view agent) {
        auto entry =
            std::make_unique<LogEntry>("10.0.0.1 - - [01/May/2024:12:00:00 +0000] \"GET x\"", &Server_);
        entry->Time = *EncodeDateTime(2024, 5, 1, 12, 0, 0);
        auto record = std::make_unique<NcsaRecord>();
        record->AssignAddressPair("10.0.0.1", "host.example.net");
        record->SetMethod("GET");
        record->SetPage(page);
        record->SetReferer("-");
        record->SetUserAgent(agent);
        record->Status = status;
        entry->Access = std::move(record);
        return entry;
    }

    test::ScopedClassificationLists Lists_;
    Server Server_;
    EntryTexts Texts_;
};

TEST_F(EntryCellsTest, CellsShowWhatTheListsShow) {
    // A Windows-1252 umlaut and a tab in the agent, as an attacker may log them.
    const auto entry = Entry("/a.html?q=1", 404, "Agent \xE4\tx");
    struct Case {
        EntryCell cell;
        std::string_view text;
    };
    const Case cases[] = {
        {EntryCell::Time, "2024-05-01 12:00:00"},
        {EntryCell::Host, "host.example.net"},
        {EntryCell::User, "-"},
        {EntryCell::Method, "GET"},
        {EntryCell::Page, "/a.html?q=1"},
        {EntryCell::Status, "404 Not Found"},
        {EntryCell::Referer, "-"},
        {EntryCell::UserAgent, "Agent \xC3\xA4\xE2\x90\x89x"},
        {EntryCell::Server, "www.example.org"},
        {EntryCell::Line, "10.0.0.1 - - [01/May/2024:12:00:00 +0000] \"GET x\""},
        {EntryCell::ExceptionCode, "404"},
        {EntryCell::Description, "Not Found 404 Fehler auf Seite /a.html?q=1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Texts_.Text(*entry, c.cell), c.text) << static_cast<int>(c.cell);
}

TEST_F(EntryCellsTest, AnAccessWithoutSuspicionHasEmptyExceptionCells) {
    const auto entry = Entry("/index.html", 200, "Mozilla");
    EXPECT_EQ(Texts_.Text(*entry, EntryCell::ExceptionCode), "");
    EXPECT_EQ(Texts_.Text(*entry, EntryCell::Description), "");
    // The check is made for each entry anew, not kept from the one before.
    const auto suspicious = Entry("/../etc/passwd", 200, "Mozilla");
    EXPECT_EQ(Texts_.Text(*suspicious, EntryCell::ExceptionCode), "160");
    EXPECT_EQ(Texts_.Text(*entry, EntryCell::ExceptionCode), "");
}

TEST_F(EntryCellsTest, TheTimeTextFollowsTheEntry) {
    auto first = Entry("/", 200, "-");
    auto second = Entry("/", 200, "-");
    second->Time = *EncodeDateTime(2024, 5, 1, 12, 0, 1);
    EXPECT_EQ(Texts_.Text(*first, EntryCell::Time), "2024-05-01 12:00:00");
    EXPECT_EQ(Texts_.Text(*second, EntryCell::Time), "2024-05-01 12:00:01");
    EXPECT_EQ(Texts_.Text(*first, EntryCell::Time), "2024-05-01 12:00:00");
}

TEST_F(EntryCellsTest, AnEntryWithoutAccessShowsOnlyItsLineTimeAndServer) {
    LogEntry entry("raw", &Server_);
    entry.Time = *EncodeDateTime(2024, 5, 1, 12, 0, 0);
    EXPECT_EQ(Texts_.Text(entry, EntryCell::Line), "raw");
    EXPECT_EQ(Texts_.Text(entry, EntryCell::Server), "www.example.org");
    for (const EntryCell cell : {EntryCell::Host, EntryCell::Page, EntryCell::Status, EntryCell::UserAgent,
                                 EntryCell::ExceptionCode})
        EXPECT_EQ(Texts_.Text(entry, cell), "") << static_cast<int>(cell);
    LogEntry orphan("raw", nullptr);
    EXPECT_EQ(Texts_.Text(orphan, EntryCell::Server), "");
}

TEST_F(EntryCellsTest, APatternMatchesInTheChosenCellsOnly) {
    const auto entry = Entry("/shop/item.php", 200, "Googlebot/2.1");
    const auto pattern = [](std::string_view text, PatternSyntax syntax, bool caseSensitive) {
        return std::get<TextPattern>(TextPattern::Compile(text, {syntax, caseSensitive}));
    };
    const EntryCell pageOnly[] = {EntryCell::Page};
    const EntryCell hostAndAgent[] = {EntryCell::Host, EntryCell::UserAgent};
    struct Case {
        TextPattern pattern;
        std::span<const EntryCell> cells;
        bool matches;
    };
    Case cases[] = {
        {pattern("item", PatternSyntax::Text, true), AccessCells, true},
        {pattern("item", PatternSyntax::Text, true), pageOnly, true},
        {pattern("item", PatternSyntax::Text, true), hostAndAgent, false},
        {pattern("googlebot", PatternSyntax::Text, true), AccessCells, false},
        {pattern("googlebot", PatternSyntax::Text, false), hostAndAgent, true},
        // The reason text is part of the code cell, the server's name a cell of its own.
        {pattern("200 Ok", PatternSyntax::Text, true), AccessCells, true},
        {pattern("example.org", PatternSyntax::Text, true), AccessCells, true},
        {pattern("example.org", PatternSyntax::Text, true), hostAndAgent, false},
        // Anchors hold per cell: the page cell starts with "/shop", the line does not.
        {pattern("^/shop", PatternSyntax::RegularExpression, true), AccessCells, true},
        {pattern("^/shop", PatternSyntax::RegularExpression, true), std::span<const EntryCell>(), false},
        // Nothing spans two cells.
        {pattern("php.*Google", PatternSyntax::RegularExpression, true), AccessCells, false},
        {pattern("", PatternSyntax::Text, true), std::span<const EntryCell>(), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AnyCellMatches(c.pattern, *entry, c.cells, Texts_), c.matches) << c.pattern.Pattern();
}

} // namespace
} // namespace kavel
