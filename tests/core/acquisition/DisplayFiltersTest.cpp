#include "acquisition/DisplayFilters.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "parsing/AccessRecord.h"
#include "platform/Clock.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

using kavel::test::Space;

namespace kavel {
namespace {

constexpr const char* DefaultWords = "Hier W\xC3\xB6rter eintragen";

// A Styles store that keeps nothing on disk, installed for the test's scope, on a clock that
// moves only when told so that change times are under the test's control. Every test starts
// a day after the previous one: a store of a new test may sit at the address of the last
// one, and the words cache must not take it for the same store at the same change time.
class DisplayFiltersTest : public testing::Test {
protected:
    static DateTime StartTime() {
        static std::int64_t tests = 0;
        return DateTime{EncodeDateTime(2024, 5, 1, 12, 0, 0)->Ms + ++tests * MsPerDay};
    }

    DisplayFiltersTest()
        : Clock_(StartTime())
        , ScopedClock_(Clock_) {
        Store_.SetPersistenceMode(Persistence::None);
        for (const char* key : {"ListViewHideNonDocuments", "ListViewHideSpiders", "ListViewHideWords",
                                "ListViewHideLocalReferers"}) {
            Store_.AddItem("Styles", key, SettingKind::Boolean, false);
        }
        Store_.AddItem("Styles", "ListViewHideWordsWords", SettingKind::Text, std::string(DefaultWords));
        Space().SetStyles(&Store_);
        Space().Filters().SetShownAddress("");
        Server_.SetName("www.Example.org");
    }
    ~DisplayFiltersTest() override {
        Space().SetStyles(nullptr);
        Space().Filters().SetShownAddress("");
    }

    std::unique_ptr<LogEntry> Entry(std::string line, const char* hostName = "192.0.2.1") {
        auto entry = LogEntry::Make(std::move(line), &Server_);
        auto record = std::make_unique<NcsaRecord>();
        record->SetAddress("192.0.2.1");
        record->SetHostName(hostName);
        record->SetDateText("01/May/2024:12:00:00");
        record->Status = 200;
        entry->SetAccess(std::move(record));
        return entry;
    }
    void SetWords(const std::string& words) {
        Clock_.Advance(1000);
        Store_.SetValue("ListViewHideWordsWords", words);
    }

    platform::ManualClock Clock_;
    platform::ScopedClock ScopedClock_;
    SettingsStore Store_;
    Server Server_;
};

TEST_F(DisplayFiltersTest, DefaultWordsMatchOnlyThemselves) {
    EXPECT_TRUE(
        Space().Filters().MatchesHiddenWords(*Entry(std::string("GET /?q=") + DefaultWords + " HTTP/1.1")));
    EXPECT_FALSE(
        Space().Filters().MatchesHiddenWords(*Entry("GET /?q=hier W\xC3\xB6rter eintragen HTTP/1.1")));
    EXPECT_FALSE(Space().Filters().MatchesHiddenWords(*Entry("GET / HTTP/1.1")));
}

TEST_F(DisplayFiltersTest, WordTestIsCaseSensitive) {
    SetWords("bot");
    EXPECT_TRUE(
        Space().Filters().MatchesHiddenWords(*Entry("\"GET / HTTP/1.1\" 200 5 \"-\" \"Examplebot\"")));
    EXPECT_FALSE(
        Space().Filters().MatchesHiddenWords(*Entry("\"GET / HTTP/1.1\" 200 5 \"-\" \"EXAMPLEBOT\"")));
    SetWords("\xC3\xBC"); // u umlaut, lower case
    EXPECT_FALSE(Space().Filters().MatchesHiddenWords(*Entry("\xC3\x9C")));
}

// Blanks after a comma belong to the next word; quotes keep commas inside a word and stay
// part of it.
TEST_F(DisplayFiltersTest, WordSplitting) {
    struct Split {
        const char* Text;
        std::vector<std::string> Words;
    };
    const Split splits[] = {
        {"alpha, beta", {"alpha", " beta"}}, {",,", {}},           {"", {}}, {"a\r\nb", {"a", "b"}},
        {"\"x,y\",z", {"\"x,y\"", "z"}},     {"'p,q'", {"'p,q'"}},
    };
    for (const Split& s : splits) {
        SetWords(s.Text);
        Space().Filters().MatchesHiddenWords(*Entry(""));
        EXPECT_EQ(Space().Filters().HiddenWords(), s.Words) << s.Text;
    }
}

TEST_F(DisplayFiltersTest, WordAfterBlankNeverMatchesAtLineStart) {
    SetWords("alpha, beta");
    EXPECT_FALSE(Space().Filters().MatchesHiddenWords(*Entry("beta.example.com - - [x]")));
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*Entry("host - - [x] \"GET /?q=x beta\"")));
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*Entry("alpha")));
}

TEST_F(DisplayFiltersTest, OnlyCommasHideNothing) {
    SetWords(",,");
    Store_.SetValue("ListViewHideWords", true);
    EXPECT_FALSE(Space().Filters().MatchesHiddenWords(*Entry(",,")));
    EXPECT_FALSE(Space().Filters().IsHidden(*Entry(",,")));
}

// The searched text is the line, the date text, the host name, a blank and the status text.
TEST_F(DisplayFiltersTest, SearchedTextAddsDerivedFields) {
    auto notFound = Entry("GET /missing 404");
    notFound->Access()->Status = 404;
    auto found = Entry("GET /present 200");
    auto resolved = Entry("GET /", "crawler.search.example");
    auto plain = Entry("x");
    struct Word {
        const char* Word;
        const LogEntry& Entry;
        bool Matches;
    };
    const Word words[] = {
        {"Not Found", *notFound, true},
        {"Not Found", *found, false},
        {" Ok", *found, true},
        {"crawler.search", *resolved, true},
        {"12:00:00192.0.2.1 Ok", *found, true},
        {"200"
         "01/May",
         *found, true},
        {"Unknown Status Code", *plain, false},
    };
    for (const Word& w : words) {
        SetWords(w.Word);
        EXPECT_EQ(Space().Filters().MatchesHiddenWords(w.Entry), w.Matches) << w.Word;
    }
}

TEST_F(DisplayFiltersTest, UnknownStatusTextIsSearched) {
    auto entry = Entry("x");
    entry->Access()->Status = 299;
    SetWords("Unknown Status Code");
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*entry));
}

// The words are split again only when their change time moves: a new text stored at the same
// moment is not seen, the same text stored again later changes nothing.
TEST_F(DisplayFiltersTest, WordsSplitOnlyWhenChangeTimeMoves) {
    SetWords("first");
    const auto entry = Entry("first second");
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*entry));
    EXPECT_EQ(Space().Filters().HiddenWords(), std::vector<std::string>{"first"});

    Store_.SetValue("ListViewHideWordsWords", std::string("none"));
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*entry));
    EXPECT_EQ(Space().Filters().HiddenWords(), std::vector<std::string>{"first"});

    Clock_.Advance(1000);
    Store_.SetValue("ListViewHideWordsWords", std::string("none"));
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*entry));

    SetWords("second");
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(*entry));
    EXPECT_EQ(Space().Filters().HiddenWords(), std::vector<std::string>{"second"});
}

TEST_F(DisplayFiltersTest, TogglingHideWordsKeepsTheSplit) {
    SetWords("first");
    Store_.SetValue("ListViewHideWords", true);
    const auto entry = Entry("first");
    EXPECT_TRUE(Space().Filters().IsHidden(*entry));
    // Changing the text without moving the clock shows whether a split happened.
    Store_.SetValue("ListViewHideWordsWords", std::string("other"));
    Clock_.Advance(1000);
    Store_.SetValue("ListViewHideWords", false);
    EXPECT_FALSE(Space().Filters().IsHidden(*entry));
    Store_.SetValue("ListViewHideWords", true);
    EXPECT_TRUE(Space().Filters().IsHidden(*entry));
}

// Server name "www.Example.org" is lowered to "www.example.org" for the test.
TEST_F(DisplayFiltersTest, LocalReferer) {
    struct Referer {
        const char* Referer;
        bool Local;
    };
    const Referer referers[] = {
        {"-", true},
        {"", true},
        {"abcd", true},
        {"abcde", false},
        {"http://WWW.EXAMPLE.ORG/start.html", true},
        {"http://www.example.org.evil.example/", true},
        {"http://search.example/?q=www.example.org", true},
        {"http://www.example.com/", false},
        {"https://www.ex\xC4mple.org/", false},
    };
    for (const Referer& r : referers) {
        auto entry = Entry("x");
        entry->Access()->SetReferer(r.Referer);
        EXPECT_EQ(HasLocalReferer(*entry), r.Local) << r.Referer;
    }
    EXPECT_EQ(Server_.Name(), "www.Example.org");
}

TEST_F(DisplayFiltersTest, LocalRefererWithShortOrEmptyServerName) {
    auto entry = Entry("x");
    entry->Access()->SetReferer("xxabx");
    Server_.SetName("AB");
    EXPECT_TRUE(HasLocalReferer(*entry));
    entry->Access()->SetReferer("xxxxx");
    EXPECT_FALSE(HasLocalReferer(*entry));
    Server_.SetName("");
    entry->Access()->SetReferer("http://anything/");
    EXPECT_FALSE(HasLocalReferer(*entry));
    entry->Access()->SetReferer("-");
    EXPECT_TRUE(HasLocalReferer(*entry));
}

TEST_F(DisplayFiltersTest, ShownAddressComparesWithCase) {
    EXPECT_FALSE(Space().Filters().IsHidden(*Entry("x", "Host.example")));
    Space().Filters().SetShownAddress("host.example");
    EXPECT_EQ(Space().Filters().ShownAddress(), "host.example");
    EXPECT_TRUE(Space().Filters().IsHidden(*Entry("x", "Host.example")));
    EXPECT_FALSE(Space().Filters().IsHidden(*Entry("x", "host.example")));
    Space().Filters().SetShownAddress("");
    EXPECT_FALSE(Space().Filters().IsHidden(*Entry("x", "Host.example")));
}

// Each switch hides only what it names, and only when it is on.
TEST_F(DisplayFiltersTest, SwitchCombinations) {
    struct Combination {
        const char* Switch;
        bool IsDocument;
        bool IsSpider;
        const char* Line;
        const char* Referer;
        bool Hidden;
    };
    SetWords("secret");
    const Combination combinations[] = {
        {"", false, true, "secret", "-", false},
        {"ListViewHideNonDocuments", false, false, "x", "http://elsewhere/", true},
        {"ListViewHideNonDocuments", true, false, "x", "http://elsewhere/", false},
        {"ListViewHideSpiders", true, true, "x", "http://elsewhere/", true},
        {"ListViewHideSpiders", true, false, "x", "http://elsewhere/", false},
        {"ListViewHideWords", true, false, "a secret line", "http://elsewhere/", true},
        {"ListViewHideWords", true, false, "a Secret line", "http://elsewhere/", false},
        {"ListViewHideLocalReferers", true, false, "x", "-", true},
        {"ListViewHideLocalReferers", true, false, "x", "http://elsewhere/", false},
    };
    for (const Combination& c : combinations) {
        SCOPED_TRACE(c.Switch);
        if (*c.Switch != '\0') {
            Store_.SetValue(c.Switch, true);
        }
        auto entry = Entry(c.Line);
        entry->Access()->IsDocument = c.IsDocument;
        entry->Access()->IsSpider = c.IsSpider;
        entry->Access()->SetReferer(c.Referer);
        EXPECT_EQ(Space().Filters().IsHidden(*entry), c.Hidden);
        EXPECT_EQ(IsHiddenBy(Space().Filters().Current(), *entry), c.Hidden);
        if (*c.Switch != '\0') {
            Store_.SetValue(c.Switch, false);
        }
    }
}

TEST_F(DisplayFiltersTest, ShownAddressAppliesAfterTheSwitches) {
    Space().Filters().SetShownAddress("wanted.example");
    Store_.SetValue("ListViewHideSpiders", true);
    auto spider = Entry("x", "wanted.example");
    spider->Access()->IsSpider = true;
    EXPECT_TRUE(Space().Filters().IsHidden(*spider));
    spider->Access()->IsSpider = false;
    EXPECT_FALSE(Space().Filters().IsHidden(*spider));
}

// Settings read once keep deciding as the store did then, whatever changes afterwards: the
// overview subtracts an entry by the decision that counted it.
TEST_F(DisplayFiltersTest, SettingsReadOnceKeepTheirDecision) {
    SetWords("secret");
    Store_.SetValue("ListViewHideWords", true);
    Store_.SetValue("ListViewHideLocalReferers", true);
    Space().Filters().SetShownAddress("192.0.2.1");
    const DisplayFilterSettings settings = Space().Filters().Current();
    EXPECT_EQ(settings.Words, std::vector<std::string>{"secret"});
    auto secret = Entry("a secret line");
    secret->Access()->SetReferer("http://elsewhere/");
    auto local = Entry("a line");
    local->Access()->SetReferer("http://www.example.org/");
    auto other = Entry("a line", "198.51.100.7");
    other->Access()->SetReferer("http://elsewhere/");

    Store_.SetValue("ListViewHideWords", false);
    Store_.SetValue("ListViewHideLocalReferers", false);
    SetWords("line");
    Space().Filters().SetShownAddress("");
    for (const LogEntry* entry : {secret.get(), local.get(), other.get()}) {
        EXPECT_TRUE(IsHiddenBy(settings, *entry)) << entry->Line.View();
        EXPECT_FALSE(Space().Filters().IsHidden(*entry)) << entry->Line.View();
    }
    EXPECT_FALSE(IsHiddenBy(Space().Filters().Current(), *secret));
}

// The test without copies decides as HasLocalReferer for the same texts.
TEST(IsLocalReferer, FoldsOnlyTheReferringPage) {
    struct Case {
        const char* Referer;
        const char* Name;
        bool Local;
    };
    const Case cases[] = {
        {"abcd", "", true},
        {"abcde", "", false},
        {"xxABx", "ab", true},
        {"xxaBx", "ab", true},
        {"xxabx", "abc", false},
        {"abc", "abcdef", true},
        {"abcdefg", "efg", true},
        {"abcdefg", "efgh", false},
        {"\xC4"
         "bcdef",
         "\xE4"
         "bc",
         false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLocalReferer(c.Referer, c.Name), c.Local) << c.Referer << " " << c.Name;
}

TEST(DisplayFiltersWithoutStore, OnlyTheDefaultWordsAndNoSwitches) {
    Space().SetStyles(nullptr);
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make(std::string("x ") + DefaultWords, nullptr);
    LogEntry& entry = *entryMade;
    entry.SetAccess(std::make_unique<NcsaRecord>());
    EXPECT_TRUE(Space().Filters().MatchesHiddenWords(entry));
    EXPECT_FALSE(Space().Filters().IsHidden(entry));
}

} // namespace
} // namespace kavel
