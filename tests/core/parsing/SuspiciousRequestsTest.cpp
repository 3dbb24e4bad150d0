#include "parsing/SuspiciousRequests.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "parsing/AccessRecord.h"
#include "parsing/SpiderList.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

using kavel::test::Space;

namespace kavel {
namespace {

struct AccessSpec {
    const char* Method = "GET";
    const char* Page = "/index.html";
    std::int32_t Status = 200;
    const char* User = "-";
    const char* Address = "192.0.2.1";
    const char* HostName = "192.0.2.1";
};

std::unique_ptr<LogEntry> MakeEntry(const AccessSpec& a, Server* server = nullptr) {
    auto entry = LogEntry::Make("", server);
    auto record = std::make_unique<NcsaRecord>();
    record->SetMethod(a.Method);
    record->SetPage(a.Page);
    record->Status = a.Status;
    record->SetUser(a.User);
    record->SetAddress(a.Address);
    record->SetHostName(a.HostName);
    entry->SetAccess(std::move(record));
    return entry;
}

struct Case {
    const char* Name;
    AccessSpec Access;
    std::int32_t Code;
    SuspicionKind Kind;
    const char* Message;
};

class CheckSuspiciousTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        Space().Spiders().Clear();
        Space().Spiders().Add("search.example", false);
    }
    void TearDown() override { Space().Spiders().Clear(); }
};

TEST_P(CheckSuspiciousTest, FinalState) {
    const Case& c = GetParam();
    const auto entry = MakeEntry(c.Access);
    const SuspicionCheck check = CheckSuspicious(entry->Access(), Space().Spiders());
    EXPECT_EQ(check.Code, c.Code);
    EXPECT_EQ(check.Kind, c.Kind);
    EXPECT_EQ(check.Message, c.Message);
    // The same from the facts a queued access keeps of its page and method.
    entry->Access()->SetRequestFacts(FindRequestFacts(*entry->Access()));
    const SuspicionCheck kept = CheckSuspiciousCode(entry->Access(), Space().Spiders());
    EXPECT_EQ(kept.Code, c.Code);
    EXPECT_EQ(kept.Kind, c.Kind);
    EXPECT_EQ(CheckSuspicious(entry->Access(), Space().Spiders()).Message, c.Message);
}

const Case Cases[] = {
    {"PlainGet", {}, -1, SuspicionKind::Request, ""},
    {"Put",
     {"PUT", "/upload.txt", 201},
     162,
     SuspicionKind::Request,
     "Benutzer - nutzte die PUT Methode auf Seite /upload.txt"},
    {"PutLowerCase",
     {"put", "/upload.txt", 201, "anna"},
     162,
     SuspicionKind::Request,
     "Benutzer anna nutzte die PUT Methode auf Seite /upload.txt"},
    {"Delete",
     {"DeLeTe", "/x", 204},
     163,
     SuspicionKind::Request,
     "Benutzer - nutzte die DELETE Methode auf Seite /x"},
    {"PutLike", {"PUTS", "/x", 200}, -1, SuspicionKind::Request, ""},
    {"ParentPath",
     {"GET", "/a/../b", 200},
     160,
     SuspicionKind::Several,
     "Der aufgerufene Pfad /a/../b beinhaltet ../"},
    {"ParentPathBackslashIsNoMatch", {"GET", "/a/..\\b", 200}, -1, SuspicionKind::Request, ""},
    {"ParentPathThenStatus",
     {"GET", "/../../etc/passwd", 400},
     400,
     SuspicionKind::Several,
     "Bad Request 400 Fehler auf Seite /../../etc/passwd"},
    {"NotFound",
     {"GET", "/missing.html", 404},
     404,
     SuspicionKind::Status,
     "Not Found 404 Fehler auf Seite /missing.html"},
    {"Unauthorized",
     {"GET", "/private/", 401},
     401,
     SuspicionKind::Unauthorized,
     "Unauthorized 401 Fehler auf Seite /private/"},
    {"Status399", {"GET", "/x", 399}, -1, SuspicionKind::Request, ""},
    {"UnknownStatus",
     {"GET", "/x", 600},
     600,
     SuspicionKind::Status,
     "Unknown Status Code 600 Fehler auf Seite /x"},
    {"PutThenStatus",
     {"PUT", "/x", 405},
     405,
     SuspicionKind::Several,
     "Method Not Allowed 405 Fehler auf Seite /x"},
    {"PutThenUnauthorized",
     {"PUT", "/x", 401},
     401,
     SuspicionKind::Several,
     "Unauthorized 401 Fehler auf Seite /x"},
    {"Executable",
     {"GET", "/setup.exe", 200},
     150,
     SuspicionKind::Request,
     "Die ausf\xC3\xBChrbare EXE Datei /setup.exe wurde angefordert"},
    {"ExecutableInQuery",
     {"GET", "/get?file=x.Dll", 200},
     152,
     SuspicionKind::Request,
     "Die ausf\xC3\xBChrbare DLL Datei /get?file=x.Dll wurde angefordert"},
    {"TwoExecutableKinds",
     {"GET", "/tools.com.bat/", 200},
     153,
     SuspicionKind::Several,
     "Die ausf\xC3\xBChrbare BAT Datei /tools.com.bat/ wurde angefordert"},
    {"DomainInPath",
     {"GET", "/mirror/site.com/index.html", 200},
     151,
     SuspicionKind::Request,
     "Die ausf\xC3\xBChrbare COM Datei /mirror/site.com/index.html wurde angefordert"},
    {"StatusThenExecutable",
     {"GET", "/a.exe", 404},
     150,
     SuspicionKind::Several,
     "Die ausf\xC3\xBChrbare EXE Datei /a.exe wurde angefordert"},
    {"AllKinds",
     {"GET", "/a.exe.com.dll.bat.vbs.cmd", 200},
     155,
     SuspicionKind::Several,
     "Die ausf\xC3\xBChrbare CMD Datei /a.exe.com.dll.bat.vbs.cmd wurde angefordert"},
    {"ExecutableWithoutDot", {"GET", "/exe", 200}, -1, SuspicionKind::Request, ""},
    {"NewSpider",
     {"GET", "/robots.txt", 200, "-", "192.0.2.9", "crawl.unknown.example"},
     902,
     SuspicionKind::Spider,
     "Neue unbekannte Suchmaschine crawl.unknown.example erkannt"},
    {"NewSpiderCase",
     {"GET", "/ROBOTS.TXT", 200, "-", "192.0.2.9", "crawl.unknown.example"},
     902,
     SuspicionKind::Spider,
     "Neue unbekannte Suchmaschine crawl.unknown.example erkannt"},
    {"NewSpiderOverStatus",
     {"GET", "/robots.txt", 404, "-", "192.0.2.9", "crawl.unknown.example"},
     902,
     SuspicionKind::Spider,
     "Neue unbekannte Suchmaschine crawl.unknown.example erkannt"},
    {"KnownSpider",
     {"GET", "/robots.txt", 200, "-", "192.0.2.9", "bot.SEARCH.example"},
     -1,
     SuspicionKind::Request,
     ""},
    {"RobotsWithQuery",
     {"GET", "/robots.txt?x", 200, "-", "192.0.2.9", "crawl.unknown.example"},
     -1,
     SuspicionKind::Request,
     ""},
    {"UnresolvedClient",
     {"GET", "/robots.txt", 200, "-", "192.0.2.9", "192.0.2.9"},
     -1,
     SuspicionKind::Request,
     ""},
    {"HostDiffersOnlyInCase",
     {"GET", "/robots.txt", 200, "-", "host.example", "HOST.example"},
     -1,
     SuspicionKind::Request,
     ""},
};

INSTANTIATE_TEST_SUITE_P(Rules, CheckSuspiciousTest, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<Case>& param) { return param.param.Name; });

// Marking a host as a search engine or as no search engine silences the rule alike.
TEST(CheckSuspicious, MarkedHostNoLongerFires) {
    for (const bool noSpider : {false, true}) {
        Space().Spiders().Clear();
        const auto entry = MakeEntry({"GET", "/robots.txt", 200, "-", "192.0.2.9", "crawl.new.example"});
        EXPECT_EQ(CheckSuspicious(entry->Access(), Space().Spiders()).Code, 902);
        Space().Spiders().Add("new.example", noSpider);
        EXPECT_EQ(CheckSuspicious(entry->Access(), Space().Spiders()).Code, -1);
    }
    Space().Spiders().Clear();
}

// Kept facts go with a new page or method, and a changed status counts as it is.
TEST(CheckSuspicious, KeptFactsFollowTheTextsAndTheStatus) {
    const auto entry = MakeEntry({"GET", "/a/../b", 200});
    AccessRecord& access = *entry->Access();
    access.SetRequestFacts(FindRequestFacts(access));
    EXPECT_EQ(CheckSuspiciousCode(&access, Space().Spiders()).Code, 160);
    access.SetPage("/b");
    EXPECT_EQ(access.RequestFacts(), 0);
    EXPECT_EQ(CheckSuspiciousCode(&access, Space().Spiders()).Code, -1);
    access.SetRequestFacts(FindRequestFacts(access));
    access.SetMethod("delete");
    EXPECT_EQ(CheckSuspiciousCode(&access, Space().Spiders()).Code, 163);
    access.SetRequestFacts(FindRequestFacts(access));
    access.Status = 404;
    EXPECT_EQ(CheckSuspiciousCode(&access, Space().Spiders()).Code, 404);
}

// What the parser makes keeps its facts, so that a queued access is checked without its line.
TEST(CheckSuspicious, AParsedAccessKeepsItsFacts) {
    Server server;
    server.SetTimeDeleteAfter(100000);
    const std::unique_ptr<LogEntry> entry =
        kavel::MakeEntry("192.0.2.1 - - [01/Jan/2024:00:00:00 +0000] \"PUT /setup.exe HTTP/1.1\" 200 1",
                         server, EntrySettings::Of(Space()));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Access()->RequestFacts(), FindRequestFacts(*entry->Access()));
    EXPECT_EQ(CheckSuspiciousCode(entry->Access(), Space().Spiders()).Code, 150);
}

TEST(CheckSuspicious, EntryWithoutAccessFiresNothing) {
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make("PUT /x.exe", nullptr);
    LogEntry& entry = *entryMade;
    const SuspicionCheck check = CheckSuspicious(entry.Access(), Space().Spiders());
    EXPECT_EQ(check.Code, -1);
    EXPECT_EQ(check.Kind, SuspicionKind::Request);
    EXPECT_EQ(check.Message, "");
}

TEST(StatusText, Table) {
    struct Text {
        std::int32_t Code;
        const char* Text;
    };
    const Text texts[] = {
        {100, "Continue"},
        {102, "Processing"},
        {200, "Ok"},
        {207, "Multi-Status"},
        {210, "Content Different"},
        {306, "(Unused)"},
        {307, "Temporary Redirect"},
        {401, "Unauthorized"},
        {404, "Not Found"},
        {414, "Request URI Too Long"},
        {416, "Request Range Not Satisfiable"},
        {417, "Expectation Failed"},
        {422, "Unprocessable Entity"},
        {425, "Insufficient Space On Resource"},
        {475, "Invalid Collblob"},
        {505, "HTTP Version Not Supported"},
        {507, "Insufficient Storage"},
        {0, "Unknown Status Code"},
        {-1, "Unknown Status Code"},
        {99, "Unknown Status Code"},
        {208, "Unknown Status Code"},
        {418, "Unknown Status Code"},
        {506, "Unknown Status Code"},
        {508, "Unknown Status Code"},
        {2147483647, "Unknown Status Code"},
    };
    for (const Text& t : texts) {
        EXPECT_EQ(StatusText(t.Code), t.Text) << t.Code;
    }
}

// Every listed code has its own text; the table has exactly the listed codes.
TEST(StatusText, KnownCodesCount) {
    int known = 0;
    for (std::int32_t code = -1000; code < 1000; ++code) {
        if (StatusText(code) != "Unknown Status Code") {
            ++known;
        }
    }
    EXPECT_EQ(known, 50);
}

} // namespace
} // namespace kavel
