#include "net/ReverseLookup.h"
#include "parsing/AccessRecord.h"
#include "parsing/Parsers.h"
#include "platform/Clock.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <random>

using kavel::test::Space;

namespace kavel {
namespace {

const DateTime CreationTime = *EncodeDateTime(2024, 5, 6, 7, 8, 9);

class ParseNcsaTest : public testing::Test {
protected:
    ParseNcsaTest()
        : Clock_(CreationTime)
        , ScopedClock_(Clock_) {}

    // The parsed record of line, or none.
    const AccessRecord* Parse(const std::string& line) {
        Entry_ = LogEntry::Make(line, &Server_);
        test::ParseInto(*Entry_);
        return Entry_->Access();
    }
    DateTime Time() const { return Entry_->Time; }

    platform::ManualClock Clock_;
    platform::ScopedClock ScopedClock_;
    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
    std::unique_ptr<LogEntry> Entry_;
};

TEST_F(ParseNcsaTest, CombinedLineFillsTheRecord) {
    const AccessRecord* r =
        Parse("127.0.0.1 ident frank [10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" "
              "200 2326 \"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\"");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Kind(), LogFormat::Ncsa);
    EXPECT_EQ(r->Address(), "127.0.0.1");
    EXPECT_EQ(r->HostName(), "127.0.0.1");
    EXPECT_FALSE(r->Resolved());
    EXPECT_EQ(r->User(), "frank");
    EXPECT_EQ(r->DateText(), "10/Oct/2000:13:55:36-0700");
    EXPECT_EQ(Time(), *EncodeDateTime(2000, 10, 10, 13, 55, 36));
    EXPECT_EQ(r->Method(), "GET");
    EXPECT_EQ(r->Page(), "/apache_pb.gif");
    EXPECT_EQ(r->Protocol(), "HTTP/1.0");
    EXPECT_EQ(r->Status, 200);
    EXPECT_EQ(r->Bytes, 2326);
    EXPECT_EQ(r->Referer(), "http://www.example.com/start.html");
    EXPECT_EQ(r->UserAgent(), "Mozilla/4.08 [en] (Win98; I ;Nav)");
    EXPECT_FALSE(r->IsDocument);
    EXPECT_FALSE(r->IsSpider);
    EXPECT_FALSE(r->IsBuddy);
}

TEST_F(ParseNcsaTest, CommonFormatIsAccepted) {
    const AccessRecord* r = Parse("10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 304 -");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Referer(), "-");
    EXPECT_EQ(r->UserAgent(), "-");
    EXPECT_EQ(r->Browser(), BrowserKind::Other);
    EXPECT_EQ(r->Bytes, 0) << "bytes \"-\" leave the default";
    EXPECT_EQ(r->User(), "-");
}

TEST_F(ParseNcsaTest, LinesThatAreAbandoned) {
    const struct {
        const char* Why;
        const char* Line;
    } cases[] = {
        {"empty", ""},
        {"seven tokens", "10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200"},
        {"status dash", "10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" - 5"},
        {"bytes beyond 64 bits",
         "10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 9223372036854775808"},
        {"bytes not a number", "10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 12k"},
        {"request of one word", "10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"-\" 400 0 \"-\" \"-\""},
        {"31 February", "10.0.0.1 - - [31/Feb/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"hour 24", "10.0.0.1 - - [10/Oct/2000:24:00:00 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"minute 60", "10.0.0.1 - - [10/Oct/2000:23:60:00 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"year 0", "10.0.0.1 - - [10/Oct/0:23:00:00 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"day not a number", "10.0.0.1 - - [xx/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"seconds missing", "10.0.0.1 - - [10/Oct/2000:13:55 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"year missing", "10.0.0.1 - - [10/Oct:13:55:36 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"no slash in the date", "10.0.0.1 - - [10Oct2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 5"},
        {"bracket only", "10.0.0.1 - - [ -0700] \"GET / HTTP/1.1\" 200 5"},
        {"four tokens", "10.0.0.1 - - [10/Oct/2000:13:55:36"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.Line), nullptr) << c.Why;
}

TEST_F(ParseNcsaTest, RequestWords) {
    const struct {
        const char* Request;
        const char* Method;
        const char* Page;
        const char* Protocol;
    } cases[] = {
        {"\"GET /a?b=c HTTP/1.1\"", "GET", "/a?b=c", "HTTP/1.1"},
        {"\"GET /a HTTP/1.1 extra\"", "GET", "/a", "HTTP/1.1"},
        {"\"GET /old\"", "GET", "/old", "?"},
        {"\"POST  /two-blanks  HTTP/1.0\"", "POST", "/two-blanks", "HTTP/1.0"},
        {"\"GET /say \"\"hi\"\" HTTP/1.0\"", "GET", "/say", "\"hi\""},
    };
    for (const auto& c : cases) {
        const AccessRecord* r =
            Parse(std::string("1.1.1.1 - - [10/Oct/2000:13:55:36 -0700] ") + c.Request + " 200 1");
        ASSERT_NE(r, nullptr) << c.Request;
        EXPECT_EQ(r->Method(), c.Method);
        EXPECT_EQ(r->Page(), c.Page);
        EXPECT_EQ(r->Protocol(), c.Protocol);
    }
}

TEST_F(ParseNcsaTest, MonthNames) {
    const AccessRecord* r = Parse("1.1.1.1 - - [10/oct/2000:13:55:36 +0200] \"GET / HTTP/1.1\" 200 1");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Time(), *EncodeDateTime(2000, 10, 10, 13, 55, 36));

    r = Parse("1.1.1.1 - - [10/Okt/2000:13:55:36 +0200] \"GET / HTTP/1.1\" 200 1");
    ASSERT_NE(r, nullptr) << "a foreign month keeps the line";
    EXPECT_EQ(r->DateText(), "10/Okt/2000:13:55:36+0200");
    EXPECT_EQ(Time(), CreationTime);

    r = Parse("1.1.1.1 - - [xx/Okt/yy:aa:bb +0200] \"GET / HTTP/1.1\" 200 1");
    ASSERT_NE(r, nullptr) << "the numbers are not read without a month";
    EXPECT_EQ(Time(), CreationTime);
}

TEST_F(ParseNcsaTest, ZoneOffsetDoesNotChangeTheTime) {
    ASSERT_NE(Parse("1.1.1.1 - - [01/Jan/2001:00:00:00 +0000] \"GET / HTTP/1.1\" 200 1"), nullptr);
    const DateTime first = Time();
    ASSERT_NE(Parse("1.1.1.1 - - [01/Jan/2001:00:00:00 -1100] \"GET / HTTP/1.1\" 200 1"), nullptr);
    EXPECT_EQ(Time(), first);
    Server_.SetTimeZone(-5);
    ASSERT_NE(Parse("1.1.1.1 - - [01/Jan/2001:00:00:00 -1100] \"GET / HTTP/1.1\" 200 1"), nullptr);
    EXPECT_EQ(Time(), first) << "the server's zone correction is for W3C logs";
}

// The usual date shape is read by a shortcut; every other spelling of the same moment must
// come out the same through the general way.
TEST_F(ParseNcsaTest, DateSpellingsAgree) {
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::mt19937 random(11);
    for (int i = 0; i < 2000; ++i) {
        const int year = 1 + static_cast<int>(random() % 9999);
        const int month = 1 + static_cast<int>(random() % 12);
        const int day = 1 + static_cast<int>(random() % 32);
        const int hour = static_cast<int>(random() % 25);
        const int minute = static_cast<int>(random() % 61);
        const int second = static_cast<int>(random() % 61);
        char canonical[64];
        char loose[64];
        std::snprintf(canonical, sizeof canonical, "[%02d/%s/%04d:%02d:%02d:%02d", day, Months[month - 1],
                      year, hour, minute, second);
        std::snprintf(loose, sizeof loose, "[%d/%s/%d:%d::%d:%d", day, Months[month - 1], year, hour, minute,
                      second);
        const std::optional<DateTime> expected = EncodeDateTime(year, month, day, hour, minute, second);
        for (const char* date : {canonical, loose}) {
            const AccessRecord* r =
                Parse(std::string("1.1.1.1 - - ") + date + " +0000] \"GET / HTTP/1.1\" 200 1");
            ASSERT_EQ(r != nullptr, expected.has_value()) << date;
            if (expected) {
                ASSERT_EQ(Time(), *expected) << date;
            }
        }
    }
}

// Log lines are hostile: quotes escaped inside a request and apostrophes anywhere must
// neither hide the request nor let it forge the fields after it.
TEST_F(ParseNcsaTest, EscapedQuotesAndApostrophes) {
    const struct {
        const char* Why;
        const char* Line;
        std::string_view User;
        std::string_view Page;
        std::string_view Protocol;
        std::int32_t Status;
        std::int64_t Bytes;
        std::string_view Referer;
        std::string_view UserAgent;
    } cases[] = {
        {"escaped quote in the request",
         R"(1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] "GET /../../etc/passwd\" HTTP/1.1" 200 5)", "-",
         R"(/../../etc/passwd\")", "HTTP/1.1", 200, 5, "-", "-"},
        {"request forging status, bytes and agent",
         R"(1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] "GET /x\" 999 1 \"-\" \"spoof HTTP/1.1" 200 5 "-" "real")",
         "-", R"(/x\")", "999", 200, 5, "-", "real"},
        {"escaped backslash before the closing quote",
         R"(1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] "GET /a\\ HTTP/1.1" 404 7 "r\"ef" "agent \"x\"")", "-",
         R"(/a\\)", "HTTP/1.1", 404, 7, R"(r\"ef)", R"(agent \"x\")"},
        {"apostrophe in the user name",
         "1.2.3.4 - o'brien [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.0\" 200 5 "
         "\"-\" \"it's\"",
         "o'brien", "/", "HTTP/1.0", 200, 5, "-", "it's"},
        {"apostrophe in the identity",
         "1.2.3.4 anyone's - [10/Oct/2000:13:55:36 -0700] \"GET /x HTTP/1.1\" 200 1 "
         "\"http://ref.example/it's\" \"Agent 'quoted\"",
         "-", "/x", "HTTP/1.1", 200, 1, "http://ref.example/it's", "Agent 'quoted"},
        {"apostrophe in the query",
         "1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET /search?q=don't HTTP/1.1\" 200 9", "-",
         "/search?q=don't", "HTTP/1.1", 200, 9, "-", "-"},
        {"referring page without user agent",
         "1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET /p HTTP/1.1\" 200 3 \"http://ref.example/\"", "-",
         "/p", "HTTP/1.1", 200, 3, "http://ref.example/", "-"},
        {"bytes beyond 2 GiB",
         "1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET /big.iso HTTP/1.1\" 200 6442450944", "-", "/big.iso",
         "HTTP/1.1", 200, 6442450944, "-", "-"},
    };
    for (const auto& c : cases) {
        const AccessRecord* r = Parse(c.Line);
        ASSERT_NE(r, nullptr) << c.Why;
        EXPECT_EQ(r->User(), c.User) << c.Why;
        EXPECT_EQ(r->Page(), c.Page) << c.Why;
        EXPECT_EQ(r->Protocol(), c.Protocol) << c.Why;
        EXPECT_EQ(r->Status, c.Status) << c.Why;
        EXPECT_EQ(r->Bytes, c.Bytes) << c.Why;
        EXPECT_EQ(r->Referer(), c.Referer) << c.Why;
        EXPECT_EQ(r->UserAgent(), c.UserAgent) << c.Why;
    }
    const AccessRecord* r =
        Parse("1.1.1.1 ;;!!odd\x01 - [10/Oct/2000:13:55:36 -0700] \"GET /x HTTP/1.1\" 200 1");
    EXPECT_NE(r, nullptr) << "the identity token is never read";
}

// The referring page and the agent are the ninth and tenth fields: a line may end before
// either of them, and a field after them (some servers add one) is ignored.
TEST_F(ParseNcsaTest, ReferringPageAndAgentByFieldCount) {
    const std::string head = "192.0.2.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /p.html HTTP/1.1\" 200 3";
    const struct {
        const char* Why;
        const char* Tail;
        std::string_view Referer;
        std::string_view UserAgent;
    } cases[] = {
        {"eight fields", "", "-", "-"},
        {"nine fields", " \"http://ref.example/a\"", "http://ref.example/a", "-"},
        {"nine fields, the last unquoted", " http://ref.example/b", "http://ref.example/b", "-"},
        {"nine fields, a blank after the last", " \"http://ref.example/c\" ", "http://ref.example/c", "-"},
        {"ten fields", " \"http://ref.example/d\" \"Agent/1.0 (X)\"", "http://ref.example/d",
         "Agent/1.0 (X)"},
        {"eleven fields", " \"-\" \"Agent/2.0\" \"extra\"", "-", "Agent/2.0"},
    };
    for (const auto& c : cases) {
        const AccessRecord* r = Parse(head + c.Tail);
        ASSERT_NE(r, nullptr) << c.Why;
        EXPECT_EQ(r->Referer(), c.Referer) << c.Why;
        EXPECT_EQ(r->UserAgent(), c.UserAgent) << c.Why;
        EXPECT_EQ(r->Bytes, 3) << c.Why;
    }
}

TEST_F(ParseNcsaTest, ClassifiesAcceptedLines) {
    Space().Spiders().Add("bot.example", false);
    Space().Documents().Add(".html");
    Space().Buddies().Add("friend.example");
    const AccessRecord* r =
        Parse("crawl.bot.example - - [10/Oct/2000:13:55:36 -0700] \"GET /a.html HTTP/1.1\" 200 1");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->IsSpider);
    EXPECT_TRUE(r->IsDocument);
    EXPECT_FALSE(r->IsBuddy);
    EXPECT_EQ(r->Visitor(), VisitorMark::Spider);

    r = Parse("FRIEND.example - - [10/Oct/2000:13:55:36 -0700] \"GET /logo.gif HTTP/1.1\" 200 1");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->IsBuddy);
    EXPECT_FALSE(r->IsDocument);
    EXPECT_EQ(r->Visitor(), VisitorMark::None);
}

// Only the look-up survives a failed line; the classification lists never change for it.
TEST_F(ParseNcsaTest, FailedLineLeavesTheListsAlone) {
    Options_.SetDnsResolve(true);
    Options_.SetRevisitorMinutes(0);
    Space().Names().Clear();
    int queries = 0;
    Space().Names().SetResolver([&queries](std::string_view) -> std::optional<std::string> {
        ++queries;
        return std::string("host.example");
    });
    Space().Documents().Add(".html");
    // An earlier visit an hour ago makes the next document access a revisit.
    auto earlier = LogEntry::Make("", &Server_);
    earlier->SetAccess(std::make_unique<NcsaRecord>());
    earlier->Access()->AssignAddressPair("192.0.2.1", "host.example");
    earlier->Time = DateTime{*EncodeDateTime(2000, 10, 10, 12, 0, 0)};
    Space().Entries().Append(std::move(earlier));

    EXPECT_EQ(Parse("192.0.2.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /a.html HTTP/1.1\" 200 x"), nullptr);
    EXPECT_EQ(queries, 1);
    EXPECT_EQ(Space().Revisitors().Count(), 0u);
    EXPECT_EQ(Parse(""), nullptr);
    EXPECT_EQ(queries, 1) << "an empty line has no address to look up";

    const AccessRecord* r =
        Parse("192.0.2.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /a.html HTTP/1.1\" 200 1");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->HostName(), "host.example");
    EXPECT_TRUE(r->Resolved());
    EXPECT_EQ(r->VisitorState, VisitorKind::Revisitor);
    EXPECT_TRUE(Space().Revisitors().Contains("192.0.2.1"));
    Space().Names().SetResolver({});
    Space().Names().Clear();
}

TEST_F(ParseNcsaTest, StepFunctions) {
    NcsaRecord record;
    std::optional<DateTime> time;
    EXPECT_TRUE(ParseNcsaDate(record, "[01/Feb/2003:04:05:06", "+0100]", time));
    EXPECT_EQ(record.DateText(), "01/Feb/2003:04:05:06+0100");
    EXPECT_EQ(time, *EncodeDateTime(2003, 2, 1, 4, 5, 6));
    EXPECT_FALSE(ParseNcsaDate(record, "[29/Feb/2003:04:05:06", "+0100]", time));
    EXPECT_FALSE(ParseNcsaDate(record, "", "+0100]", time));

    record.SetProtocol("keep");
    EXPECT_TRUE(ParseRequest(record, "\"HEAD /x\""));
    EXPECT_EQ(record.Method(), "HEAD");
    EXPECT_EQ(record.Page(), "/x");
    EXPECT_EQ(record.Protocol(), "keep");
    EXPECT_FALSE(ParseRequest(record, "\"-\""));
    EXPECT_EQ(record.DateText(), "01/Feb/2003:04:05:06+0100");
}

TEST_F(ParseNcsaTest, CorpusFiles) {
    const struct {
        const char* File;
        std::size_t Lines;
        std::size_t Accepted;
    } cases[] = {
        {"logfile_access_log.0", 3, 3},
        {"logfile_access_log.1", 1, 0},
        {"logfile_bad_access_log.0", 3, 2},
        {"logfile_shop_access_log.0", 1000, 1000},
    };
    Space().Documents().Assign({".html", ".php", ".htm"});
    Space().Spiders().Add("66.249.66.", false);
    for (const auto& c : cases) {
        const std::vector<std::string> lines =
            test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/" + c.File);
        ASSERT_EQ(lines.size(), c.Lines) << c.File;
        std::size_t accepted = 0;
        for (const std::string& line : lines)
            if (Parse(line))
                ++accepted;
        EXPECT_EQ(accepted, c.Accepted) << c.File;
    }
    const std::vector<std::string> shop =
        test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_shop_access_log.0");
    const AccessRecord* r = Parse(shop[0]);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Address(), "54.36.149.41");
    EXPECT_EQ(r->DateText(), "22/Jan/2019:03:56:14+0330");
    EXPECT_EQ(Time(), *EncodeDateTime(2019, 1, 22, 3, 56, 14));
    EXPECT_EQ(r->UserAgent(), "Mozilla/5.0 (compatible; AhrefsBot/6.1; +http://ahrefs.com/robot/)");
    EXPECT_EQ(r->Bytes, 30577);
}

} // namespace
} // namespace kavel
