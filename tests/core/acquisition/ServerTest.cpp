#include "acquisition/Server.h"

#include "base/DefinitionFile.h"
#include "config/AppSettings.h"
#include "platform/Clock.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"

#include <gtest/gtest.h>
#include <random>

using kavel::test::Space;

namespace kavel {
namespace {

using test::ReadBytes;
using test::ScopedHome;
using test::WriteBytes;

// Every stored field of a definition, for comparing a line's reading with what was written.
struct Stored {
    std::string Name;
    std::string LogFileName;
    std::int32_t TimeDeleteAfter, TimeLogPollCycleInMs, LogType;
    std::uint32_t W3cFields;
    std::int32_t TimeZone;
    bool Active;
    std::int32_t TimeRevisitorAfterMinutes;
    bool SoundOnAccess;
    std::int32_t TimeDeleteAfterUnit;
    bool PopupOnDocument;
    bool operator==(const Stored&) const = default;
};

Stored Fields(const Server& s) {
    return {s.Name(),
            s.LogFileName(),
            s.TimeDeleteAfter(),
            s.TimeLogPollCycleInMs(),
            static_cast<std::int32_t>(s.LogType()),
            s.W3cFields(),
            s.TimeZone(),
            s.Active(),
            s.TimeRevisitorAfterMinutes(),
            s.SoundOnAccess(),
            static_cast<std::int32_t>(s.TimeDeleteAfterUnit()),
            s.PopupOnDocument()};
}

void PrintTo(const Stored& s, std::ostream* os) {
    *os << "{" << testing::PrintToString(s.Name) << ", " << testing::PrintToString(s.LogFileName) << ", "
        << s.TimeDeleteAfter << ", " << s.TimeLogPollCycleInMs << ", " << s.LogType << ", " << s.W3cFields
        << ", " << s.TimeZone << ", " << s.Active << ", " << s.TimeRevisitorAfterMinutes << ", "
        << s.SoundOnAccess << ", " << s.TimeDeleteAfterUnit << ", " << s.PopupOnDocument << "}";
}

TEST(Server, DefaultsComeFromTheOptions) {
    Server plain;
    EXPECT_EQ(Fields(plain), (Stored{"", "", 3, 5000, 0, 0, 0, false, 10, false, 0, true}));

    SettingsStore options;
    options.AddItem("Options", "TimeDeleteAfter", SettingKind::Integer, 7);
    options.AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, 15);
    options.AddItem("Options", "TimeLogPollCycleInMs", SettingKind::Integer, 1000);
    options.AddItem("Options", "TimeDeleteAfterUnit", SettingKind::Integer, 1);
    Server configured(&options);
    EXPECT_EQ(configured.TimeDeleteAfter(), 7);
    EXPECT_EQ(configured.TimeRevisitorAfterMinutes(), 15);
    EXPECT_EQ(configured.TimeLogPollCycleInMs(), 1000);
    // The unit option only preselects the editor; a definition starts in days.
    EXPECT_EQ(configured.TimeDeleteAfterUnit(), KeepUnit::Days);
}

TEST(Server, W3CFieldsBitByBit) {
    Server server;
    server.SetW3cField(0, true);
    server.SetW3cField(21, true);
    server.SetW3cField(22, true); // no such field
    server.SetW3cField(-1, true);
    EXPECT_EQ(server.W3cFields(), (1u << 0) | (1u << 21));
    server.SetW3cField(0, false);
    EXPECT_FALSE(server.W3cField(0));
    EXPECT_TRUE(server.W3cField(21));
    EXPECT_FALSE(server.W3cField(22));
    server.SetW3cFields(0xFFFFFFFFu);
    EXPECT_EQ(server.W3cFields(), W3cAllFields);
    server.SetW3cFields(3);
    for (int i = 0; i < W3cFieldCount; ++i)
        EXPECT_EQ(server.W3cField(i), i < 2) << W3cFieldIdentifiers[i];
}

TEST(Server, W3CIdentifiersInIndexOrder) {
    EXPECT_STREQ(W3cFieldIdentifiers[0], "date");
    EXPECT_STREQ(W3cFieldIdentifiers[9], "cs-uri-stem");
    EXPECT_STREQ(W3cFieldIdentifiers[13], "sc-win32-status");
    EXPECT_STREQ(W3cFieldIdentifiers[19], "cs(User-Agent)");
    EXPECT_STREQ(W3cFieldIdentifiers[21], "cs(Referer)");
}

struct FakeReader final : ServerReader {
    int Pauses = 0;
    int Resumes = 0;
    void Pause() override { ++Pauses; }
    void Resume() override { ++Resumes; }
};

struct FakeNode final : ServerNode {
    std::vector<ServerStatus> Statuses;
    void SetServerStatus(ServerStatus status) override { Statuses.push_back(status); }
};

TEST(Server, SetActivePausesAndResumesTheReader) {
    Server server;
    server.SetActive(true); // no reader yet: only the flag
    EXPECT_TRUE(server.Active());

    FakeReader reader;
    FakeNode node;
    server.SetThread(&reader);
    server.SetTreeNode(&node);
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(reader.Pauses, 1);
    server.SetActive(true);
    EXPECT_EQ(reader.Resumes, 1);
    EXPECT_EQ(node.Statuses, (std::vector{ServerStatus::Paused, ServerStatus::Idle}));

    server.SetActive(false);
    server.SetLogFileMissing(true);
    server.SetActive(true);
    EXPECT_TRUE(server.Active());
    EXPECT_EQ(reader.Resumes, 1);
    EXPECT_EQ(node.Statuses, (std::vector{ServerStatus::Paused, ServerStatus::Idle, ServerStatus::Paused}));
}

struct LineCase {
    const char* Name;
    const char* Line;
    std::optional<Stored> Expected;
};

class LineToServerTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineToServerTest, ReadsTheLine) {
    const auto server = LineToServer(GetParam().Line);
    ASSERT_EQ(server != nullptr, GetParam().Expected.has_value());
    if (server) {
        EXPECT_EQ(Fields(*server), *GetParam().Expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineToServerTest,
    testing::Values(
        LineCase{"TwoFields", "Home;C:\\logs\\ex%YY%MM%DD.log",
                 Stored{"Home", "C:\\logs\\ex%YY%MM%DD.log", 3, 5000, 0, 0, 0, false, 10, false, 0, true}},
        LineCase{"TwelveActive", "Web;/var/log/access.log;2;1000;1;3;-2;-1;30;-1;1;0",
                 Stored{"Web", "/var/log/access.log", 2, 1000, 1, 3, -2, true, 30, true, 1, false}},
        LineCase{"TwelveInactive", "Web;a.log;2;1000;1;4194303;0;0;30;0;1;-1",
                 Stored{"Web", "a.log", 2, 1000, 1, W3cAllFields, 0, false, 30, false, 1, true}},
        LineCase{"WordsForBooleans", "W;a;1;2;0;0;0;True;3;false;0;TRUE",
                 Stored{"W", "a", 1, 2, 0, 0, 0, true, 3, false, 0, true}},
        LineCase{"AnyNonZeroIsTrue", "W;a;1;2;0;0;0;5;3;0;0;0",
                 Stored{"W", "a", 1, 2, 0, 0, 0, true, 3, false, 0, false}},
        LineCase{"AdjacentSeparatorsCountOnce", "Name;;tmpl",
                 Stored{"Name", "tmpl", 3, 5000, 0, 0, 0, false, 10, false, 0, true}},
        LineCase{"FieldsBeyondTwelveIgnored", "W;a;1;2;0;0;0;0;3;0;0;0;junk;more",
                 Stored{"W", "a", 1, 2, 0, 0, 0, false, 3, false, 0, false}},
        LineCase{"MaskBitsAbove21Dropped", "W;a;1;2;1;-1;0;0;3;0;0;0",
                 Stored{"W", "a", 1, 2, 1, W3cAllFields, 0, false, 3, false, 0, false}},
        LineCase{"StoredWithoutRangeChecks", "W;a;-5;-100;7;0;99;0;-1;0;9;0",
                 Stored{"W", "a", -5, -100, 7, 0, 99, false, -1, false, 9, false}},
        LineCase{"QuotedSeparatorStaysInTheName", "\"a;b\";t",
                 Stored{"\"a;b\"", "t", 3, 5000, 0, 0, 0, false, 10, false, 0, true}},
        LineCase{"TrailingLineEnd", "N;t\r\n", Stored{"N", "t", 3, 5000, 0, 0, 0, false, 10, false, 0, true}},
        LineCase{"Empty", "", std::nullopt}, LineCase{"OneField", "Name", std::nullopt},
        LineCase{"FiveFields", "W;a;1;2;0", std::nullopt},
        LineCase{"ElevenFields", "W;a;1;2;0;0;0;0;3;0;0", std::nullopt},
        LineCase{"NotANumber", "W;a;x;2;0;0;0;0;3;0;0;0", std::nullopt},
        LineCase{"NotABoolean", "W;a;1;2;0;0;0;yes;3;0;0;0", std::nullopt},
        LineCase{"BlankInANumber", "W;a;1; 2;0;0;0;0;3;0;0;0", std::nullopt},
        LineCase{"OutOfRange", "W;a;1;2;0;4294967295;0;0;3;0;0;0", std::nullopt},
        LineCase{"OpenQuoteSwallowsTheRest", "'W;a;1;2;0;0;0;0;3;0;0;0", std::nullopt}),
    [](const testing::TestParamInfo<LineCase>& param) { return std::string(param.param.Name); });

TEST(ServerToLine, WritesTwelveFields) {
    Server server;
    server.SetName("Web");
    server.SetLogFileName("/var/log/ex%YY%MM%DD.log");
    server.SetTimeDeleteAfter(2);
    server.SetTimeLogPollCycleInMs(1000);
    server.SetLogType(LogFormat::W3c);
    server.SetW3cFields(3);
    server.SetTimeZone(-2);
    server.SetActive(true);
    server.SetTimeRevisitorAfterMinutes(30);
    server.SetSoundOnAccess(true);
    server.SetTimeDeleteAfterUnit(KeepUnit::Hours);
    server.SetPopupOnDocument(false);
    EXPECT_EQ(ServerToLine(server), "Web;/var/log/ex%YY%MM%DD.log;2;1000;1;3;-2;-1;30;-1;1;0");
}

struct UnsafeCase {
    std::string Name;
    std::string Template;
    std::string NameRead;
    std::string TemplateRead;
};

class UnsafeNamesTest : public testing::TestWithParam<UnsafeCase> {};

TEST_P(UnsafeNamesTest, ReadBackAsWritten) {
    Server server;
    server.SetName(GetParam().Name);
    server.SetLogFileName(GetParam().Template);
    server.SetTimeZone(5);
    const std::string line = ServerToLine(server);
    const auto read = LineToServer(line);
    ASSERT_TRUE(read) << line;
    EXPECT_EQ(read->Name(), GetParam().NameRead);
    EXPECT_EQ(read->LogFileName(), GetParam().TemplateRead);
    EXPECT_EQ(read->TimeZone(), 5);
    EXPECT_NE(line.front(), '#');
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeNamesTest,
                         testing::Values(UnsafeCase{"a;b", "x;;y", "a b", "x  y"},
                                         UnsafeCase{"a\r\nb", "\nx", "a  b", " x"},
                                         UnsafeCase{"Tom's server", "t", "Tom s server", "t"},
                                         UnsafeCase{"'quoted' and \"double\"", "it's \"x;y\"",
                                                    "'quoted' and \"double\"", "it s \"x y\""},
                                         UnsafeCase{"\"a'b\"", "'", "\"a'b\"", " "},
                                         UnsafeCase{"a\"b'c", "t", "a b c", "t"},
                                         UnsafeCase{"", "", " ", " "}, UnsafeCase{"#1", "#t", " #1", "#t"},
                                         UnsafeCase{" lead", "t ", " lead", "t "}));

// The line of any definition reads back as exactly what it says: writing the read definition
// again gives the same line, and the numbers survive unchanged.
TEST(ServerToLine, RoundTripOnRandomTexts) {
    std::mt19937 random(20050305);
    const std::string alphabet = std::string("ab ;'\"#\r\n%\\", 11) + std::string(1, '\0') + "\xE4\xFF";
    const auto text = [&] {
        std::string t;
        const std::size_t length = random() % 8;
        for (std::size_t i = 0; i < length; ++i)
            t += alphabet[random() % alphabet.size()];
        return t;
    };
    for (int i = 0; i < 20000; ++i) {
        Server server;
        server.SetName(text());
        server.SetLogFileName(text());
        server.SetTimeDeleteAfter(static_cast<std::int32_t>(random()));
        server.SetTimeZone(-static_cast<std::int32_t>(random() % 24));
        server.SetW3cFields(static_cast<std::uint32_t>(random()));
        server.SetActive(random() % 2 == 0);
        server.SetPopupOnDocument(random() % 2 == 0);
        const std::string line = ServerToLine(server);
        const auto read = LineToServer(line);
        ASSERT_TRUE(read) << testing::PrintToString(line);
        EXPECT_EQ(ServerToLine(*read), line);
        const Stored written = Fields(server);
        Stored got = Fields(*read);
        got.Name = written.Name;
        got.LogFileName = written.LogFileName;
        EXPECT_EQ(got, written);
        if (server.Name().find_first_of(";\r\n'\"") == std::string::npos && !server.Name().empty() &&
            server.Name().front() != '#') {
            EXPECT_EQ(read->Name(), server.Name());
        }
    }
}

class ServersFileTest : public testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        Space().Servers().Clear();
        Space().Servers().Loaded = false;
    }
    ScopedHome Home;
    platform::ManualClock Clock{*EncodeDateTime(2005, 3, 5, 9, 7, 0)};
    platform::ScopedClock Scoped{Clock};
};

constexpr const char* Header = "# Servers Definition File\r\n"
                               "# This file was automatically generated by Kavel. Pleasy do not modify.\r\n"
                               "# Last modification was at 2005-03-05 09:07:00\r\n";

TEST_F(ServersFileTest, NoFileGivesNoDefinitionsAndSavesTheHeaderOnly) {
    int loaded = 0;
    LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options(),
                [&](Server&) { ++loaded; });
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(Space().Servers().Count(), 0u);
    SaveServers(Space().DefinitionFile(".servers"), Space().Servers());
    EXPECT_EQ(ReadBytes(Home / "kavel.servers"), Header);
}

TEST_F(ServersFileTest, LoadSkipsCommentsAndBadLines) {
    WriteBytes(Home / "kavel.servers", std::string(Header) + "First;a.log\r\n"
                                                             "#Hidden;b.log\r\n"
                                                             " #Blank;c.log\r\n"
                                                             "\r\n"
                                                             "Five;d;1;2;0\r\n"
                                                             "Last;e.log;2;1000;1;3;0;-1;30;0;0;-1");
    std::vector<std::string> names;
    LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options(),
                [&](Server& server) { names.push_back(server.Name()); });
    EXPECT_EQ(names, (std::vector<std::string>{"First", " #Blank", "Last"}));
    ASSERT_EQ(Space().Servers().Count(), 3u);
    EXPECT_TRUE(Space().Servers()[2].Active());
    EXPECT_TRUE(Space().Servers().Loaded);
}

TEST_F(ServersFileTest, SaveThenLoadGivesTheSameDefinitions) {
    LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options());
    for (int i = 0; i < 3; ++i) {
        auto server = std::make_unique<Server>();
        server->SetName("Server " + std::to_string(i));
        server->SetLogFileName("/logs/" + std::to_string(i) + "/access.log");
        server->SetTimeZone(i - 1);
        server->SetW3cField(i, true);
        Space().Servers().Add(std::move(server));
    }
    std::vector<Stored> before;
    for (const auto& server : Space().Servers())
        before.push_back(Fields(*server));
    SaveServers(Space().DefinitionFile(".servers"), Space().Servers());
    const std::string content = ReadBytes(Home / "kavel.servers");
    EXPECT_EQ(content.rfind(Header, 0), 0u);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");

    LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options());
    std::vector<Stored> after;
    for (const auto& server : Space().Servers())
        after.push_back(Fields(*server));
    EXPECT_EQ(after, before);
}

TEST_F(ServersFileTest, SaveBeforeLoadWritesNothing) {
    WriteBytes(Home / "kavel.servers", "Keep;me.log\r\n");
    Space().Servers().Add(std::make_unique<Server>());
    SaveServers(Space().DefinitionFile(".servers"), Space().Servers());
    EXPECT_EQ(ReadBytes(Home / "kavel.servers"), "Keep;me.log\r\n");
}

TEST_F(ServersFileTest, UnreadableFileThrowsAndIsNotReplacedLater) {
    std::filesystem::create_directory(Home / "kavel.servers");
    EXPECT_THROW(LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options()),
                 std::system_error);
    EXPECT_FALSE(Space().Servers().Loaded);
    SaveServers(Space().DefinitionFile(".servers"), Space().Servers());
    EXPECT_TRUE(std::filesystem::is_directory(Home / "kavel.servers"));
}

TEST_F(ServersFileTest, UnreadableLinesAreWrittenBackInTheirPlaces) {
    const std::string body = "First;a.log\r\n"
                             "Typo;b.log;3;5000;0;0;0;Tru;10;0;0;-1\r\n"
                             "Second;c.log\r\n"
                             "Big;d.log;99999999999;5000;0;0;0;0;10;0;0;-1\r\n"
                             "Five;e;1;2;0\r\n"
                             "Third;f.log\r\n";
    WriteBytes(Home / "kavel.servers", std::string(Header) + body);
    const UnreadLines unread =
        LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options());
    EXPECT_EQ(unread.Count, 3u);
    EXPECT_EQ(unread.FirstLine, std::optional<std::size_t>(5));
    ASSERT_EQ(Space().Servers().Count(), 3u);

    SaveServers(Space().DefinitionFile(".servers"), Space().Servers());
    const std::string saved = ReadBytes(Home / "kavel.servers");
    EXPECT_EQ(saved.substr(std::string(Header).size()), "First;a.log;3;5000;0;0;0;0;10;0;0;-1\r\n"
                                                        "Typo;b.log;3;5000;0;0;0;Tru;10;0;0;-1\r\n"
                                                        "Second;c.log;3;5000;0;0;0;0;10;0;0;-1\r\n"
                                                        "Big;d.log;99999999999;5000;0;0;0;0;10;0;0;-1\r\n"
                                                        "Five;e;1;2;0\r\n"
                                                        "Third;f.log;3;5000;0;0;0;0;10;0;0;-1\r\n");

    // Reading the written file keeps them again, and reports them again (once per load).
    EXPECT_EQ(LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options()).Count,
              3u);
    SaveServers(Space().DefinitionFile(".servers"), Space().Servers());
    EXPECT_EQ(ReadBytes(Home / "kavel.servers"), saved);
}

TEST_F(ServersFileTest, KeptLinesStayInPlaceWhenDefinitionsComeAndGo) {
    WriteBytes(Home / "kavel.servers", "A;a.log\r\nbroken\r\nB;b.log\r\nlate\r\nC;c.log\r\ntail\r\n");
    LoadServers(Space().DefinitionFile(".servers"), Space().Servers(), Space().Options());
    ASSERT_EQ(Space().Servers().Count(), 3u);
    // Deleting B: "late", which followed it, now follows A's kept line.
    EXPECT_TRUE(Space().Servers().Take(&Space().Servers()[1]));
    auto added = std::make_unique<Server>();
    added->SetName("D");
    added->SetLogFileName("d.log");
    Space().Servers().Add(std::move(added));
    // Deleting the first definition keeps the lines after it at the top.
    EXPECT_TRUE(Space().Servers().Take(&Space().Servers()[0]));

    const std::string saved = ServersFileText(Space().Servers());
    const std::string body = saved.substr(std::string(Header).size());
    EXPECT_EQ(body, "broken\r\n"
                    "late\r\n"
                    "C;c.log;3;5000;0;0;0;0;10;0;0;-1\r\n"
                    "tail\r\n"
                    "D;d.log;3;5000;0;0;0;0;10;0;0;-1\r\n");
}

struct ExpandCase {
    const char* Template;
    const char* Expected;
};

class ExpandLogFileNameTest : public testing::TestWithParam<std::tuple<DateTime, ExpandCase>> {};

TEST_P(ExpandLogFileNameTest, ReplacesThePlaceholders) {
    platform::ManualClock clock(std::get<0>(GetParam()));
    platform::ScopedClock scoped(clock);
    EXPECT_EQ(ExpandLogFileName(std::get<1>(GetParam()).Template), std::get<1>(GetParam()).Expected);
}

INSTANTIATE_TEST_SUITE_P(
    FifthOfMarch, ExpandLogFileNameTest,
    testing::Combine(testing::Values(*EncodeDateTime(2005, 3, 5, 9, 7, 0)),
                     testing::Values(ExpandCase{"ex%YY%MM%DD.log", "ex050305.log"},
                                     ExpandCase{"access-%YYYY-%M-%D_%H.%N", "access-2005-3-5_9.7"},
                                     ExpandCase{"ex%yy%mm%dd.log", "ex050305.log"},
                                     ExpandCase{"%yYyY|%Hh|%nN", "2005|09|07"}, ExpandCase{"100%%", "100%"},
                                     ExpandCase{"%%D", "%5"}, ExpandCase{"%%%%", "%%"},
                                     ExpandCase{"%MM", "03"}, ExpandCase{"%MMM", "03M"},
                                     ExpandCase{"%Q%x%", "%Q%x%"}, ExpandCase{"%", "%"},
                                     ExpandCase{"plain.log", "plain.log"}, ExpandCase{"", ""},
                                     ExpandCase{"%Y", "%Y"}, ExpandCase{"%YYY", "05Y"})));

INSTANTIATE_TEST_SUITE_P(Midnight, ExpandLogFileNameTest,
                         testing::Combine(testing::Values(*EncodeDateTime(2009, 12, 31, 0, 0, 0)),
                                          testing::Values(ExpandCase{"%HH%NN", "0000"},
                                                          ExpandCase{"%H:%N", "0:0"},
                                                          ExpandCase{"%YY-%M-%DD", "09-12-31"})));

INSTANTIATE_TEST_SUITE_P(LateEvening, ExpandLogFileNameTest,
                         testing::Combine(testing::Values(*EncodeDateTime(2000, 1, 1, 23, 59, 59)),
                                          testing::Values(ExpandCase{"%HH%NN", "2359"},
                                                          ExpandCase{"%YY%MM%DD", "000101"})));

} // namespace
} // namespace kavel
