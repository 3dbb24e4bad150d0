#include "acquisition/EntryParsing.h"
#include "net/ReverseLookup.h"
#include "parsing/AccessRecord.h"
#include "parsing/Parsers.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <limits>

using kavel::test::Space;

namespace kavel {
namespace {

const DateTime CreationTime = *EncodeDateTime(2024, 5, 6, 7, 8, 9);

std::uint32_t Mask(std::initializer_list<int> fields) {
    std::uint32_t mask = 0;
    for (const int field : fields)
        mask |= 1u << field;
    return mask;
}

// One token per field in the fixed order, all 22 present.
const char* const FullLine =
    "2003-12-31 23:30:00 192.0.2.9 alice W3SVC1 WEB01 198.51.100.1 8080 GET /shop/item.asp "
    "id=7 404 2 64 1234 321 15 HTTP/1.1 www.example Mozilla/5.0+(X11;+Linux) "
    "a=b+c http://ref.example/?q=a+b";

class ParseW3cTest : public testing::Test {
protected:
    ParseW3cTest()
        : Clock_(CreationTime)
        , ScopedClock_(Clock_) {
        Server_.SetLogType(LogFormat::W3c);
        Server_.SetW3cFields(W3cAllFields);
    }

    const W3cRecord* Parse(const std::string& line) {
        Entry_ = LogEntry::Make(line, &Server_);
        test::ParseInto(*Entry_);
        return static_cast<const W3cRecord*>(Entry_->Access());
    }
    DateTime Time() const { return Entry_->Time; }

    platform::ManualClock Clock_;
    platform::ScopedClock ScopedClock_;
    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
    std::unique_ptr<LogEntry> Entry_;
};

TEST_F(ParseW3cTest, AllFieldsFillTheRecord) {
    const W3cRecord* r = Parse(FullLine);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Kind(), LogFormat::W3c);
    EXPECT_EQ(Time(), *EncodeDateTime(2003, 12, 31, 23, 30, 0));
    EXPECT_EQ(r->DateText(), platform::FormatDateTime(*EncodeDateTime(2003, 12, 31, 23, 30, 0)));
    EXPECT_EQ(r->Address(), "192.0.2.9");
    EXPECT_EQ(r->HostName(), "192.0.2.9");
    EXPECT_EQ(r->User(), "alice");
    EXPECT_EQ(r->SiteName(), "W3SVC1");
    EXPECT_EQ(r->ComputerName(), "WEB01");
    EXPECT_EQ(r->ServerAddress(), "198.51.100.1");
    EXPECT_EQ(r->ServerHostName(), "198.51.100.1");
    EXPECT_EQ(r->ServerPort, 8080);
    EXPECT_EQ(r->Method(), "GET");
    EXPECT_EQ(r->Page(), "/shop/item.asp?id=7");
    EXPECT_EQ(r->Status, 404);
    EXPECT_EQ(r->SubStatus, 2);
    EXPECT_EQ(r->Win32Status, 64);
    EXPECT_EQ(r->Bytes, 1234);
    EXPECT_EQ(r->BytesReceived, 321);
    EXPECT_EQ(r->TimeTaken, 15);
    EXPECT_EQ(r->Protocol(), "HTTP/1.1");
    EXPECT_EQ(r->UserAgent(), "Mozilla/5.0 (X11; Linux)");
    EXPECT_EQ(r->Cookie(), "a=b+c");
    EXPECT_EQ(r->Referer(), "http://ref.example/?q=a+b");

    EXPECT_NE(Parse(std::string(FullLine) + " extra"), nullptr) << "tokens beyond the fields are ignored";
    const std::string shorter(FullLine, std::string_view(FullLine).rfind(' '));
    EXPECT_EQ(Parse(shorter), nullptr) << "21 tokens for 22 fields";
    EXPECT_EQ(Parse(""), nullptr);
}

TEST_F(ParseW3cTest, IntegerFieldsRejectTheDash) {
    const struct {
        int Field;
        bool Accepted;
    } cases[] = {{7, false}, {11, false}, {12, false}, {13, false}, {14, true}, {15, false}, {16, false}};
    for (const auto& c : cases) {
        Server_.SetW3cFields(Mask({c.Field}));
        const W3cRecord* r = Parse("-");
        EXPECT_EQ(r != nullptr, c.Accepted) << c.Field;
        if (r) {
            EXPECT_EQ(r->Bytes, 0);
        }
    }
    Server_.SetW3cFields(Mask({11}));
    EXPECT_EQ(Parse("2147483648"), nullptr);
    ASSERT_NE(Parse("+200"), nullptr);
    EXPECT_EQ(Entry_->Access()->Status, 200);
}

TEST_F(ParseW3cTest, DateAndTime) {
    Server_.SetW3cFields(Mask({0, 1}));
    const struct {
        const char* Line;
        std::int32_t Zone;
        std::optional<DateTime> Expected;
    } cases[] = {
        {"2003-12-31 23:30:00", -1, EncodeDateTime(2004, 1, 1, 0, 30, 0)},
        {"2003-12-31 23:30:00", 0, EncodeDateTime(2003, 12, 31, 23, 30, 0)},
        {"2004-01-01 00:30:00", 2, EncodeDateTime(2003, 12, 31, 22, 30, 0)},
        {"2003/12/31 23:30:00", 0, std::nullopt},
        {"2003-12-31 23:30:00.125", 0, EncodeDateTime(2003, 12, 31, 23, 30, 0)},
        {"2003-12-31 23:30:00.", 0, std::nullopt},
        {"2003-12-31 23:30:00.1x", 0, std::nullopt},
        // A shift that leaves the years 1 to 9999 drops the line.
        {"9999-12-31 23:30:00", -1, std::nullopt},
        {"0001-01-01 00:30:00", 1, std::nullopt},
        {"2003-12-31 23:30:00", 2147483647, std::nullopt},
        {"2003-12-31 23:30:00", -2147483647 - 1, std::nullopt},
        {"2003-02-29 10:00:00", 0, std::nullopt},
        {"2003-12-31 10:00", 0, std::nullopt},
        {"2003-12-31-7 10:00:00:9", 0, EncodeDateTime(2003, 12, 31, 10, 0, 0)},
        {"2003-12-31", 0, std::nullopt},
        {"\"2003-12-31\" \"10:00:00\"", 0, std::nullopt},
    };
    for (const auto& c : cases) {
        Server_.SetTimeZone(c.Zone);
        const W3cRecord* r = Parse(c.Line);
        ASSERT_EQ(r != nullptr, c.Expected.has_value()) << c.Line << " zone " << c.Zone;
        if (!r)
            continue;
        EXPECT_EQ(Time(), *c.Expected) << c.Line;
        EXPECT_EQ(r->DateText(), platform::FormatDateTimeOmitMidnight(*c.Expected));
    }
}

TEST_F(ParseW3cTest, MidnightShowsTheDateOnly) {
    Server_.SetW3cFields(Mask({0, 1}));
    const W3cRecord* r = Parse("2010-03-04 00:00:00");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->DateText(), platform::CurrentLocaleFormat().ShortDate(*EncodeDateTime(2010, 3, 4, 0, 0, 0)));
    r = Parse("2010-03-04 00:00:01");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->DateText(), platform::FormatDateTime(*EncodeDateTime(2010, 3, 4, 0, 0, 1)));
}

TEST_F(ParseW3cTest, DateTextFollowsTheInstalledFormat) {
    struct DottedFormat final : platform::LocaleFormat {
        std::string ShortDate(DateTime time) const override {
            const DateParts p = DecodeDateTime(time);
            return std::to_string(p.Day) + "." + std::to_string(p.Month) + "." + std::to_string(p.Year);
        }
        std::string LongTime(DateTime time) const override {
            const DateParts p = DecodeDateTime(time);
            return std::to_string(p.Hour) + "h" + std::to_string(p.Minute) + "m" + std::to_string(p.Second);
        }
        std::string Thousands(std::int64_t value) const override { return std::to_string(value); }
    };
    Server_.SetW3cFields(Mask({0, 1}));
    ASSERT_NE(Parse("2010-03-04 05:06:07"), nullptr);
    const std::string fixed(Entry_->Access()->DateText());
    DottedFormat dotted;
    platform::SetCurrentLocaleFormat(&dotted);
    const W3cRecord* r = Parse("2010-03-04 05:06:07");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->DateText(), "4.3.2010 5h6m7");
    r = Parse("2010-03-05 00:00:00");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->DateText(), "5.3.2010");
    platform::SetCurrentLocaleFormat(nullptr);
    r = Parse("2010-03-04 05:06:07");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->DateText(), fixed);
}

TEST_F(ParseW3cTest, OnlyOneOfDateAndTimeSkipsItsToken) {
    for (const int field : {0, 1}) {
        Server_.SetW3cFields(Mask({field, 2}));
        const W3cRecord* r = Parse("2003-12-31 10.1.1.1");
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->DateText(), "??.??.?? ??:??:??");
        EXPECT_EQ(Time(), CreationTime);
        EXPECT_EQ(r->Address(), "10.1.1.1");
    }
    Server_.SetW3cFields(Mask({0}));
    EXPECT_NE(Parse("anything"), nullptr);
}

TEST_F(ParseW3cTest, QueryAndUserAgent) {
    Server_.SetW3cFields(Mask({9, 10, 19}));
    const W3cRecord* r = Parse("/a.asp - A+B++C");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Page(), "/a.asp");
    EXPECT_EQ(r->UserAgent(), "A B  C");
    Server_.SetW3cFields(Mask({10}));
    r = Parse("x=1");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Page(), "?x=1");
    Server_.SetW3cFields(Mask({9, 10, 11}));
    r = Parse("/a.asp q='1 200 x'");
    ASSERT_NE(r, nullptr) << "apostrophes are plain bytes";
    EXPECT_EQ(r->Page(), "/a.asp?q='1");
    EXPECT_EQ(r->Status, 200);
    Server_.SetW3cFields(Mask({2, 8, 9, 10, 11, 14}));
    r = Parse("10.0.0.1 GET /scripts/cmd.exe id=1'+OR+1=1-- 404 6442450944");
    ASSERT_NE(r, nullptr) << "an injection attempt must not hide the request";
    EXPECT_EQ(r->Page(), "/scripts/cmd.exe?id=1'+OR+1=1--");
    EXPECT_EQ(r->Status, 404);
    EXPECT_EQ(r->Bytes, 6442450944);
}

// The order of a "#Fields:" directive governs; fields the parser does not know are skipped.
TEST_F(ParseW3cTest, DirectiveDecidesTheFieldOrder) {
    const std::optional<W3cFieldLayout> layout = ParseW3cDirective(
        "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
        "cs(User-Agent) x-unknown sc-status sc-bytes cs-bytes time-taken");
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->Fields.size(), 15u);
    EXPECT_EQ(layout->Fields[10], W3cFieldLayout::Unknown);
    EXPECT_FALSE(ParseW3cDirective("#Software: IIS"));
    EXPECT_FALSE(ParseW3cDirective("2003-12-31 23:30:00"));

    ParseOptions options;
    options.W3cFields = W3cAllFields;
    options.W3cLayout = std::make_shared<const W3cFieldLayout>(*layout);
    const ParsedLine parsed =
        ParseW3c("2024-05-06 07:08:09.250 10.0.0.2 POST /login.aspx - 443 bob 192.0.2.7 Agent/1.0+(x) "
                 "whatever 302 3000000000 4000000000 5000000000",
                 options);
    ASSERT_TRUE(parsed.Record);
    const auto& r = static_cast<const W3cRecord&>(*parsed.Record);
    EXPECT_EQ(parsed.Time, EncodeDateTime(2024, 5, 6, 7, 8, 9));
    EXPECT_EQ(r.ServerAddress(), "10.0.0.2");
    EXPECT_EQ(r.Method(), "POST");
    EXPECT_EQ(r.Page(), "/login.aspx");
    EXPECT_EQ(r.ServerPort, 443);
    EXPECT_EQ(r.User(), "bob");
    EXPECT_EQ(r.Address(), "192.0.2.7");
    EXPECT_EQ(r.UserAgent(), "Agent/1.0 (x)");
    EXPECT_EQ(r.Status, 302);
    EXPECT_EQ(r.Bytes, 3000000000);
    EXPECT_EQ(r.BytesReceived, 4000000000);
    EXPECT_EQ(r.TimeTaken, 5000000000);

    options.W3cLayout =
        std::make_shared<const W3cFieldLayout>(*ParseW3cDirective("#Fields: cs-uri-query cs-uri-stem"));
    const ParsedLine reversed = ParseW3c("a=1 /x.asp", options);
    ASSERT_TRUE(reversed.Record);
    EXPECT_EQ(reversed.Record->Page(), "/x.asp?a=1") << "the query joins the stem wherever it stands";
    EXPECT_FALSE(ParseW3c("a=1", options).Record) << "fewer tokens than the directive names";
}

// The directive passes through the caller, which keeps it for the server's later lines.
TEST_F(ParseW3cTest, DirectiveLineSetsTheServersLayout) {
    Server_.SetW3cFields(Mask({2}));
    EXPECT_EQ(Parse("#Fields: cs-method c-ip sc-status"), nullptr);
    const W3cRecord* r = Parse("GET 192.0.2.1 500");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Method(), "GET");
    EXPECT_EQ(r->Address(), "192.0.2.1");
    EXPECT_EQ(r->Status, 500);
}

TEST_F(ParseW3cTest, ClassificationNeedsClientAndStem) {
    Space().Documents().Add(".asp");
    Space().Spiders().Add("192.0.2.9", false);
    Space().Buddies().Add("192.0.2.9");

    Server_.SetW3cFields(Mask({2, 8}));
    const W3cRecord* r = Parse("192.0.2.9 GET");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->IsSpider);
    EXPECT_FALSE(r->IsDocument);
    EXPECT_FALSE(r->IsBuddy);
    EXPECT_EQ(r->Visitor(), VisitorMark::None);

    Server_.SetW3cFields(Mask({2, 9}));
    r = Parse("192.0.2.9 /x.asp");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->IsSpider);
    EXPECT_TRUE(r->IsDocument);
    EXPECT_TRUE(r->IsBuddy);

    Server_.SetW3cFields(Mask({9}));
    r = Parse("/x.asp");
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->IsDocument);
}

TEST_F(ParseW3cTest, ServerAddressIsResolvedLikeTheClient) {
    Options_.SetDnsResolve(true);
    Space().Names().Clear();
    Space().Names().SetResolver([](std::string_view address) -> std::optional<std::string> {
        if (address == "198.51.100.1")
            return std::string("web.example");
        if (address == "192.0.2.9")
            return std::string("client.example");
        return std::nullopt;
    });
    Server_.SetW3cFields(Mask({2, 6}));
    const W3cRecord* r = Parse("192.0.2.9 198.51.100.1");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->HostName(), "client.example");
    EXPECT_TRUE(r->Resolved());
    EXPECT_EQ(r->ServerAddress(), "198.51.100.1");
    EXPECT_EQ(r->ServerHostName(), "web.example");
    Space().Names().SetResolver({});
    Space().Names().Clear();
}

TEST_F(ParseW3cTest, FailedLineLeavesTheListsAlone) {
    Options_.SetRevisitorMinutes(0);
    Space().Documents().Add(".asp");
    auto earlier = LogEntry::Make("", &Server_);
    earlier->SetAccess(std::make_unique<W3cRecord>());
    earlier->Access()->AssignAddressPair("192.0.2.9", "192.0.2.9");
    earlier->Time = *EncodeDateTime(2003, 12, 31, 20, 0, 0);
    Space().Entries().Append(std::move(earlier));

    Server_.SetW3cFields(Mask({0, 1, 2, 9, 11}));
    EXPECT_EQ(Parse("2003-12-31 23:30:00 192.0.2.9 /a.asp -"), nullptr);
    EXPECT_EQ(Space().Revisitors().Count(), 0u);
    const W3cRecord* r = Parse("2003-12-31 23:30:00 192.0.2.9 /a.asp 200");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->VisitorState, VisitorKind::Revisitor);
    EXPECT_EQ(Space().Revisitors().Count(), 1u);
}

TEST_F(ParseW3cTest, StepFunction) {
    W3cRecord record;
    std::optional<DateTime> time;
    EXPECT_TRUE(ParseW3cDateTime(record, "2001-01-01", "00:30:00", 1, time));
    EXPECT_EQ(time, *EncodeDateTime(2000, 12, 31, 23, 30, 0));
    EXPECT_EQ(record.DateText(), platform::FormatDateTime(*time));
    EXPECT_FALSE(ParseW3cDateTime(record, "2001-13-01", "00:30:00", 1, time));
    EXPECT_FALSE(ParseW3cDateTime(record, "x", "00:30:00", 1, time));
}

TEST_F(ParseW3cTest, CorpusFiles) {
    const struct {
        const char* File;
        std::uint32_t Fields;
        std::size_t Accepted;
    } cases[] = {
        // Each file's "#Fields:" directive governs its lines, whatever the mask says; quoted
        // dates (logfile_w3c.4) still convert to nothing.
        {"logfile_w3c.0", Mask({0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 19}), 1},
        {"logfile_w3c.0", Mask({2}), 1},
        {"logfile_w3c.1", Mask({2}), 1},
        {"logfile_w3c.1", W3cAllFields, 1},
        {"logfile_w3c.2", Mask({1, 2, 8, 9, 11}), 14},
        {"logfile_w3c.3", Mask({0, 1}), 2},
        {"logfile_w3c.4", Mask({0, 1}), 0},
        {"logfile_w3c.5", Mask({0, 1, 6, 8, 9, 10}), 1},
        {"logfile_w3c.6", Mask({0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 19, 21}), 1},
        {"logfile_w3c_big.0", Mask({0, 1, 6}), 210},
        {"logfile_w3c_big.0", Mask({0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 19, 21}), 210},
    };
    Space().Documents().Assign({".asp", ".htm"});
    for (const auto& c : cases) {
        Server_.SetW3cFields(c.Fields);
        Server_.SetW3cLayout(nullptr);
        std::size_t accepted = 0;
        for (const std::string& line : test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/" + c.File)) {
            Entry_ = LogEntry::Make(line, &Server_);
            Server_.SetTimeDeleteAfter(std::numeric_limits<std::int32_t>::max());
            if (ParseEntry(*Entry_, EntrySettings::Of(Space())))
                ++accepted;
        }
        EXPECT_EQ(accepted, c.Accepted) << c.File;
    }

    Server_.SetW3cFields(Mask({0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 19}));
    Server_.SetW3cLayout(nullptr);
    const std::vector<std::string> lines =
        test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/logfile_w3c.0");
    ASSERT_FALSE(lines.empty());
    const W3cRecord* r = Parse(lines.back());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->UserAgent(), "Mozilla/4.0 (compatible;MSIE 5.5; Windows 2000 Server)");
    EXPECT_EQ(r->Browser(), BrowserKind::Msie);
    EXPECT_EQ(r->ServerPort, 80);
    EXPECT_EQ(r->Page(), "/images/picture.jpg");
    EXPECT_EQ(r->Status, 200);
}

} // namespace
} // namespace kavel
