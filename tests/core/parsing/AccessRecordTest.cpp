#include "parsing/AccessRecord.h"

#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

using kavel::test::Space;

namespace kavel {
namespace {

TEST(AccessRecordTest, NewRecordHasDefaults) {
    const NcsaRecord record;
    EXPECT_EQ(record.DateText(), "??.??.?? ??:??:??");
    EXPECT_EQ(record.Address(), "");
    EXPECT_EQ(record.HostName(), "");
    EXPECT_FALSE(record.Resolved());
    EXPECT_EQ(record.User(), "-");
    EXPECT_EQ(record.UserAgent(), "-");
    EXPECT_EQ(record.Referer(), "-");
    EXPECT_EQ(record.Protocol(), "?");
    EXPECT_EQ(record.Method(), "");
    EXPECT_EQ(record.Page(), "");
    EXPECT_EQ(record.Status, 0);
    EXPECT_EQ(record.Bytes, 0);
    EXPECT_FALSE(record.HasErrorStatus());
    EXPECT_EQ(record.Browser(), BrowserKind::Other);
    EXPECT_EQ(record.Visitor(), VisitorMark::None);

    const W3cRecord w3c;
    EXPECT_EQ(w3c.Kind(), LogFormat::W3c);
    EXPECT_EQ(w3c.SiteName(), "?");
    EXPECT_EQ(w3c.ComputerName(), "?");
    EXPECT_EQ(w3c.Cookie(), "-");
    EXPECT_EQ(w3c.ServerAddress(), "");
    EXPECT_EQ(w3c.ServerHostName(), "");
    EXPECT_EQ(w3c.ServerPort, 80);
}

TEST(AccessRecordTest, ResolvedFollowsAddressAndHostName) {
    NcsaRecord record;
    record.SetAddress("10.0.0.1");
    record.SetHostName("10.0.0.1");
    EXPECT_FALSE(record.Resolved());
    record.SetHostName("host.example");
    EXPECT_TRUE(record.Resolved());
    record.SetAddress("HOST.example");
    EXPECT_FALSE(record.Resolved()) << "a difference in ASCII case only does not count";
    EXPECT_EQ(record.HostName(), "host.example");
    record.SetAddress("other");
    EXPECT_TRUE(record.Resolved());
    EXPECT_EQ(record.HostName(), "host.example") << "a host name set apart does not follow the address";

    record.AssignAddressPair("1.2.3.4", "1.2.3.4");
    EXPECT_FALSE(record.Resolved());
    record.SetAddress("5.6.7.8");
    EXPECT_EQ(record.HostName(), "1.2.3.4") << "an equal host name is still its own field";
    EXPECT_TRUE(record.Resolved());
}

TEST(AccessRecordTest, EveryTextFieldKeepsItsValueWhenOthersChange) {
    std::mt19937 random(7);
    const auto text = [&random](std::size_t length) {
        std::string s(length, ' ');
        for (char& c : s)
            c = static_cast<char>(random() % 256);
        return s;
    };
    W3cRecord record;
    std::map<int, std::string> expected;
    const auto check = [&] {
        const std::string dateText = record.DateText();
        const std::string_view values[] = {dateText,
                                           record.Address(),
                                           record.HostName(),
                                           record.User(),
                                           record.UserAgent(),
                                           record.Method(),
                                           record.Page(),
                                           record.Protocol(),
                                           record.Referer(),
                                           record.ServerAddress(),
                                           record.ServerHostName(),
                                           record.SiteName(),
                                           record.ComputerName(),
                                           record.Cookie()};
        for (const auto& [slot, value] : expected)
            ASSERT_EQ(values[slot], value) << "field " << slot;
    };
    for (int round = 0; round < 1000; ++round) {
        const int slot = static_cast<int>(random() % 14);
        // Now and then a text beyond 64 KiB, which changes the width of the block's offsets;
        // often a default or usual text or the address, which the block keeps without bytes or
        // slots.
        std::string value;
        switch (random() % 10) {
        case 0:
            value = "-";
            break;
        // The usual method and protocol, which a block keeps as a bit in their own slots.
        case 8:
            value = "GET";
            break;
        case 9:
            value = "HTTP/1.1";
            break;
        case 1:
            value = "?";
            break;
        case 2:
            break;
        case 3:
            value = record.Address();
            break;
        case 4:
            value = record.ServerAddress();
            break;
        default:
            value = text(round % 50 == 49 ? 70000 : random() % 40);
            break;
        }
        switch (slot) {
        case 0:
            record.SetDateText(value);
            break;
        case 1:
            record.SetAddress(value);
            break;
        case 2:
            record.SetHostName(value);
            break;
        case 3:
            record.SetUser(value);
            break;
        case 4:
            record.SetUserAgent(value);
            break;
        case 5:
            record.SetMethod(value);
            break;
        case 6:
            record.SetPage(value);
            break;
        case 7:
            record.SetProtocol(value);
            break;
        case 8:
            record.SetReferer(value);
            break;
        case 9:
            record.SetServerAddress(value);
            break;
        case 10:
            record.SetServerHostName(value);
            break;
        case 11:
            record.SetSiteName(value);
            break;
        case 12:
            record.SetComputerName(value);
            break;
        default:
            record.SetCookie(value);
            break;
        }
        expected[slot] = value;
        check();
    }
}

TEST(AccessRecordTest, AssignTextsFillsEveryField) {
    W3cRecord record;
    AccessTexts texts;
    texts.DateText = "d";
    texts.Address = "a";
    texts.User = "u";
    texts.UserAgent = "ua";
    texts.Method = "m";
    texts.Page = "p";
    texts.Protocol = "pr";
    texts.Referer = "r";
    texts.ServerAddress = "sa";
    texts.ServerHostName = "sh";
    texts.SiteName = "sn";
    texts.ComputerName = "cn";
    texts.Cookie = "c";
    record.AssignTexts(texts);
    EXPECT_EQ(record.HostName(), "a");
    EXPECT_FALSE(record.Resolved());
    EXPECT_EQ(record.ServerHostName(), "sh");
    EXPECT_EQ(record.Cookie(), "c");
    EXPECT_EQ(record.Referer(), "r");

    NcsaRecord ncsa;
    ncsa.AssignTexts(texts);
    EXPECT_EQ(ncsa.Page(), "p");
}

// The parsers make a record and its texts in one allocation; changing a text afterwards must
// leave that block alone and keep every other text.
TEST(AccessRecordTest, RecordsMadeWithTheirTexts) {
    AccessTexts texts;
    texts.DateText = "10/Oct/2000:13:55:36-0700";
    texts.Address = "192.0.2.1";
    texts.HostName = "host.example";
    texts.Page = "/a.html";
    texts.Cookie = "c=1";
    const std::unique_ptr<AccessRecord> ncsa = AccessRecord::MakeNcsa(texts);
    EXPECT_EQ(ncsa->Kind(), LogFormat::Ncsa);
    EXPECT_TRUE(ncsa->Resolved());
    EXPECT_EQ(ncsa->HostName(), "host.example");
    EXPECT_EQ(ncsa->User(), "-");
    ncsa->SetUser("frank");
    EXPECT_EQ(ncsa->Page(), "/a.html");
    EXPECT_EQ(ncsa->User(), "frank");

    std::unique_ptr<W3cRecord> w3c = AccessRecord::MakeW3c(texts);
    EXPECT_EQ(w3c->Cookie(), "c=1");
    EXPECT_EQ(w3c->ServerHostName(), "");
    w3c->SetServerAddress("198.51.100.1");
    EXPECT_EQ(w3c->DateText(), "10/Oct/2000:13:55:36-0700");

    const std::unique_ptr<AccessRecord> plain = AccessRecord::MakeNcsa(AccessTexts{});
    EXPECT_EQ(plain->DateText(), "??.??.?? ??:??:??");
    EXPECT_FALSE(plain->Resolved());
}

TEST(AccessRecordTest, PageWithoutQuery) {
    const struct {
        const char* Page;
        const char* Expected;
    } cases[] = {{"/a.php?x=1?y=2", "/a.php"}, {"/index.html", "/index.html"}, {"?q", ""}, {"", ""}};
    for (const auto& c : cases) {
        NcsaRecord record;
        record.SetPage(c.Page);
        EXPECT_EQ(record.PageWithoutQuery(), c.Expected) << c.Page;
    }
}

TEST(AccessRecordTest, ErrorStatusFrom400On) {
    const std::pair<std::int32_t, bool> cases[] = {{0, false},  {200, false}, {399, false}, {400, true},
                                                   {404, true}, {500, true},  {-1, false}};
    for (const auto& [status, expected] : cases) {
        NcsaRecord record;
        record.Status = status;
        EXPECT_EQ(record.HasErrorStatus(), expected) << status;
    }
}

TEST(AccessRecordTest, BrowserOfTheAgent) {
    const std::pair<const char*, BrowserKind> cases[] = {
        {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1) Opera 7.54", BrowserKind::Opera},
        {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko) Chrome/66.0 Safari/537.36", BrowserKind::Safari},
        {"-", BrowserKind::Other},
        {"mozilla/5.0 firefox/3.0", BrowserKind::Firefox},
        {"Mozilla/5.0 Firefox/3.0 Opera", BrowserKind::Firefox},
        {"Mozilla/4.0 (compatible; msie 5.5)", BrowserKind::Msie},
        {"NEON/0.26", BrowserKind::Neon},
        {"", BrowserKind::Other},
        {"Opera then fIrEfOx", BrowserKind::Firefox},
        {"Neon Safari", BrowserKind::Safari},
        {"Neon MSIE", BrowserKind::Msie},
        {"Mozilla Firefo", BrowserKind::Other},
        {"Mozilla Safar", BrowserKind::Other},
        {"SafariMSIEOpera", BrowserKind::Opera},
        {"\xFF\xE9NEO", BrowserKind::Other},
        // Each name as the whole agent, at its very end, and cut short by one letter there.
        {"Opera", BrowserKind::Opera},
        {"Mozilla/5.0 Opera", BrowserKind::Opera},
        {"Mozilla/5.0 Oper", BrowserKind::Other},
        {"Firefox", BrowserKind::Firefox},
        {"Gecko Firefox", BrowserKind::Firefox},
        {"compatible; MSIE", BrowserKind::Msie},
        {"compatible; MSI", BrowserKind::Other},
        {"AppleWebKit Safari", BrowserKind::Safari},
        {"libneon", BrowserKind::Neon},
        {"libneo", BrowserKind::Other},
    };
    for (const auto& [agent, expected] : cases) {
        NcsaRecord record;
        record.SetUserAgent(agent);
        EXPECT_EQ(record.Browser(), expected) << agent;
    }
}

// The browser is the first of the names, in their order, that the agent contains ignoring case,
// wherever the names stand in the agent and however they overlap.
TEST(AccessRecordTest, BrowserIsTheFirstNameContained) {
    const char* const parts[] = {"Fire",   "fox", "Opera", "OPE",  "ra", "MSIE", "ms", "ie",
                                 "Safari", "SAF", "ari",   "Neon", "NE", "on",   " ",  "/",
                                 "\xE9",   "F",   "O",     "M",    "S",  "N"};
    const std::pair<const char*, BrowserKind> names[] = {{"Firefox", BrowserKind::Firefox},
                                                         {"Opera", BrowserKind::Opera},
                                                         {"MSIE", BrowserKind::Msie},
                                                         {"Safari", BrowserKind::Safari},
                                                         {"Neon", BrowserKind::Neon}};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string agent;
        for (int i = static_cast<int>(random() % 8); i > 0; --i)
            agent += parts[random() % std::size(parts)];
        // The model: the agent and the names in capitals, searched plainly.
        const std::string upperAgent = AsciiUpperCase(agent);
        BrowserKind expected = BrowserKind::Other;
        for (const auto& [name, browser] : names) {
            if (upperAgent.find(AsciiUpperCase(name)) != std::string::npos) {
                expected = browser;
                break;
            }
        }
        NcsaRecord record;
        record.SetUserAgent(agent);
        ASSERT_EQ(record.Browser(), expected) << agent;
    }
}

TEST(AccessRecordTest, VisitorMarkOfTheAccess) {
    const struct {
        bool IsDocument;
        bool IsSpider;
        bool IsBuddy;
        VisitorKind State;
        VisitorMark Expected;
    } cases[] = {
        {false, true, true, VisitorKind::Revisitor, VisitorMark::None},
        {true, true, true, VisitorKind::Revisitor, VisitorMark::Spider},
        {true, false, true, VisitorKind::Revisitor, VisitorMark::Buddy},
        {true, false, false, VisitorKind::Revisitor, VisitorMark::Revisitor},
        {true, false, false, VisitorKind::Known, VisitorMark::Known},
        {true, false, false, VisitorKind::New, VisitorMark::New},
    };
    for (const auto& c : cases) {
        NcsaRecord record;
        record.IsDocument = c.IsDocument;
        record.IsSpider = c.IsSpider;
        record.IsBuddy = c.IsBuddy;
        record.VisitorState = c.State;
        EXPECT_EQ(record.Visitor(), c.Expected);
    }
}

TEST(AccessRecordTest, SetAddressLookingUpNameResolvesOnlyWhenTheOptionIsOn) {
    test::ScopedOptions options(false);
    Space().Names().Clear();
    int queries = 0;
    Space().Names().SetResolver([&queries](std::string_view address) -> std::optional<std::string> {
        ++queries;
        if (address == "192.0.2.7")
            return std::string("crawl.bot.example");
        return std::nullopt;
    });
    NcsaRecord record;
    SetAddressLookingUpName(record, "192.0.2.7",
                            OptionMiscDnsResolve(Space().Options()) ? &Space().Names() : nullptr);
    EXPECT_EQ(record.HostName(), "192.0.2.7");
    EXPECT_FALSE(record.Resolved());
    EXPECT_EQ(queries, 0);

    options.SetDnsResolve(true);
    SetAddressLookingUpName(record, "192.0.2.7",
                            OptionMiscDnsResolve(Space().Options()) ? &Space().Names() : nullptr);
    EXPECT_EQ(record.Address(), "192.0.2.7");
    EXPECT_EQ(record.HostName(), "crawl.bot.example");
    EXPECT_TRUE(record.Resolved());

    SetAddressLookingUpName(record, "192.0.2.8",
                            OptionMiscDnsResolve(Space().Options()) ? &Space().Names() : nullptr);
    EXPECT_EQ(record.HostName(), "192.0.2.8");
    EXPECT_FALSE(record.Resolved());

    Space().Names().SetResolver({});
    Space().Names().Clear();
}

} // namespace
} // namespace kavel
