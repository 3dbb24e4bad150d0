#include "acquisition/EntryCells.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/TextPattern.h"
#include "parsing/AccessRecord.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel {
namespace {

class EntryCellsTest : public testing::Test {
protected:
    EntryCellsTest() { Server_.SetName("www.example.org"); }

    std::unique_ptr<LogEntry> Entry(std::string_view page, std::int32_t status, std::string_view agent) {
        auto entry = LogEntry::Make("10.0.0.1 - - [01/May/2024:12:00:00 +0000] \"GET x\"", &Server_);
        entry->Time = *EncodeDateTime(2024, 5, 1, 12, 0, 0);
        auto record = std::make_unique<NcsaRecord>();
        record->AssignAddressPair("10.0.0.1", "host.example.net");
        record->SetMethod("GET");
        record->SetPage(page);
        record->SetReferer("-");
        record->SetUserAgent(agent);
        record->Status = status;
        entry->SetAccess(std::move(record));
        return entry;
    }

    test::ScopedClassificationLists Lists_;
    Server Server_;
    EntryTexts Texts_{Space().Spiders()};
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

TEST_F(EntryCellsTest, TheOutcomeTakesTheStatusClassAndTheSuspicion) {
    struct Case {
        std::string_view page;
        std::int32_t status;
        RowOutcome outcome;
    };
    const Case cases[] = {
        {"/", 200, RowOutcome::Ordinary},        {"/", 299, RowOutcome::Ordinary},
        {"/", 300, RowOutcome::Redirection},     {"/", 304, RowOutcome::Redirection},
        {"/", 399, RowOutcome::Redirection},     {"/", 400, RowOutcome::ClientError},
        {"/", 499, RowOutcome::ClientError},     {"/", 500, RowOutcome::ServerError},
        {"/", 599, RowOutcome::ServerError},     {"/", 600, RowOutcome::Suspicious},
        {"/../x", 200, RowOutcome::Suspicious},  {"/../x", 302, RowOutcome::Suspicious},
        {"/../x", 404, RowOutcome::ClientError}, {"/../x", 503, RowOutcome::ServerError},
        {"/a.exe", 200, RowOutcome::Suspicious}, {"/", 199, RowOutcome::Ordinary},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OutcomeOf(*Entry(c.page, c.status, "-"), Space().Spiders()), c.outcome)
            << c.page << " " << c.status;
    EXPECT_EQ(OutcomeOf(*LogEntry::Make("raw", &Server_), Space().Spiders()), RowOutcome::Ordinary);
}

TEST_F(EntryCellsTest, TheTimeTextFollowsTheEntry) {
    auto entry = Entry("/", 200, "-");
    struct Step {
        DateTime time;
        std::string_view text;
    };
    // Within a second, across seconds, across midnight and back.
    const Step steps[] = {
        {*EncodeDateTime(2024, 5, 1, 12, 0, 0), "2024-05-01 12:00:00"},
        {*EncodeDateTime(2024, 5, 1, 12, 0, 0, 999), "2024-05-01 12:00:00"},
        {*EncodeDateTime(2024, 5, 1, 12, 0, 1), "2024-05-01 12:00:01"},
        {*EncodeDateTime(2024, 5, 1, 23, 59, 59, 500), "2024-05-01 23:59:59"},
        {*EncodeDateTime(2024, 5, 2, 0, 0, 0), "2024-05-02 00:00:00"},
        {*EncodeDateTime(2024, 5, 1, 12, 0, 0), "2024-05-01 12:00:00"},
        {*EncodeDateTime(1969, 12, 31, 23, 59, 59, 1), "1969-12-31 23:59:59"},
        {*EncodeDateTime(1970, 1, 1, 0, 0, 0), "1970-01-01 00:00:00"},
    };
    for (const Step& step : steps) {
        entry->Time = step.time;
        EXPECT_EQ(Texts_.Text(*entry, EntryCell::Time), step.text);
    }
}

// The server's name is kept between entries: a new name, or another server made where a
// freed one was, shows at once.
TEST_F(EntryCellsTest, TheServerCellFollowsARenameAndAnotherServer) {
    auto entry = Entry("/", 200, "-");
    EXPECT_EQ(Texts_.Text(*entry, EntryCell::Server), "www.example.org");
    Server_.SetName("Bu\xCC\x88ro\x1B");
    EXPECT_EQ(Texts_.Text(*entry, EntryCell::Server), "Bu\xCC\x88ro\xE2\x90\x9B");
    for (int round = 0; round < 2; ++round) {
        auto other = std::make_unique<Server>();
        other->SetName(round == 0 ? "first" : "second");
        entry->Server = other.get();
        EXPECT_EQ(Texts_.Text(*entry, EntryCell::Server), round == 0 ? "first" : "second");
        entry->Server = &Server_;
    }
}

TEST_F(EntryCellsTest, AnEntryWithoutAccessShowsOnlyItsLineTimeAndServer) {
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make("raw", &Server_);
    LogEntry& entry = *entryMade;
    entry.Time = *EncodeDateTime(2024, 5, 1, 12, 0, 0);
    EXPECT_EQ(Texts_.Text(entry, EntryCell::Line), "raw");
    EXPECT_EQ(Texts_.Text(entry, EntryCell::Server), "www.example.org");
    for (const EntryCell cell : {EntryCell::Host, EntryCell::Page, EntryCell::Status, EntryCell::UserAgent,
                                 EntryCell::ExceptionCode})
        EXPECT_EQ(Texts_.Text(entry, cell), "") << static_cast<int>(cell);
    const std::unique_ptr<LogEntry> orphanMade = LogEntry::Make("raw", nullptr);
    LogEntry& orphan = *orphanMade;
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

// The joined search of EntryMatcher must find exactly what the search of each cell finds, for
// every kind of pattern: anchors, word boundaries, classes that would take the joints, flags
// that change the line mode, texts in any case over letters that fold to ASCII.
TEST_F(EntryCellsTest, TheMatcherFindsWhatEachCellFinds) {
    test::ScopedOptions options;
    Server_.SetTimeDeleteAfter(1000000);
    std::vector<std::unique_ptr<LogEntry>> entries;
    const EntrySettings settings = EntrySettings::Of(Space());
    for (const std::string& line :
         test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_shop_access_log.0"))
        if (auto entry = MakeEntry(line, Server_, settings))
            entries.push_back(std::move(entry));
    ASSERT_GT(entries.size(), 900u);
    entries.resize(300);
    // Windows-1252, a Kelvin sign (folds to "k"), a long s (folds to "s"), controls, an empty user.
    entries.push_back(Entry("/M\xE4rz", 404, "Bot \xE2\x84\xAA\xC5\xBFpider"));
    entries.push_back(Entry("/a\tb\x1B[2J", 200, "K"));
    entries.push_back(Entry("", 500, ""));

    const char* const texts[] = {
        "GET", "get", "bot", "BOT", "kspider", "\xC3\xA4", "\xC3\x84", "M\xC3\xA4rz", "200 Ok", "Not Found",
        "-", " ", "\n", "a\nb", "www.example.org\n", "/",
        // Found in the logged bytes: beside controls, after an escape, longer than a quick look.
        "[2J", "tb", "\x1B", "\t", "rz", "FIREFOX", "Mozilla/5.0 (Windows NT"};
    const char* const regexes[] = {"^GET$", "^/product", "Ok$", "^$", "^-$", R"(\bbot\b)", R"(\Bot)", R"(\s)",
                                   "[^a]+z", R"(\n)", "(?s:.)GET", "(?s).+Mozilla", R"(\AGET)", R"(org\z)",
                                   R"(\A2019)", "(?-m:^GET)", "(?i)kSPIDER", R"(\x{212A})", "^.{0,3}$",
                                   "Firefox|Chrome", R"(\C)", "(a+)+$", "(?U)a+", "^[0-9]{3} ", R"(\pL+)",
                                   "^\\A",
                                   // Texts that every match holds, looked for before the engine.
                                   "(bot|crawl)", "Mozilla.*Gecko", R"(M\x{E4}rz)", R"(product\d+\.html)",
                                   "(?i)FIREFOX/[0-9]+", "sPiDeR"};
    const EntryCell pageAndAgent[] = {EntryCell::Page, EntryCell::UserAgent};
    const EntryCell lineOnly[] = {EntryCell::Line};
    const std::span<const EntryCell> cellSets[] = {AccessCells, pageAndAgent, lineOnly};

    std::size_t agreed = 0;
    const auto check = [&](std::string_view text, PatternOptions patternOptions) {
        auto compiled = TextPattern::Compile(text, patternOptions);
        ASSERT_TRUE(std::holds_alternative<TextPattern>(compiled))
            << text << ": " << std::get<std::string>(compiled);
        const TextPattern& pattern = std::get<TextPattern>(compiled);
        for (const auto cells : cellSets) {
            EntryMatcher matcher(pattern, cells, Space().Spiders());
            std::size_t matches = 0;
            for (const auto& entry : entries) {
                const bool expected = AnyCellMatches(pattern, *entry, cells, Texts_);
                ASSERT_EQ(matcher.Matches(*entry), expected) << text << " in " << entry->Line.View();
                matches += expected ? 1 : 0;
            }
            agreed += matches;
        }
    };
    for (const char* text : texts)
        for (const bool caseSensitive : {true, false})
            check(text, {PatternSyntax::Text, caseSensitive});
    for (const char* regex : regexes)
        for (const bool caseSensitive : {true, false})
            check(regex, {PatternSyntax::RegularExpression, caseSensitive});
    // The table is no table of misses only.
    EXPECT_GT(agreed, 10000u);
}

} // namespace
} // namespace kavel
