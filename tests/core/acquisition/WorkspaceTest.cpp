#include "acquisition/Workspace.h"

#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderHandshake.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kavel {
namespace {

using test::ReadBytes;
using test::WriteBytes;

constexpr const char* FirstLine =
    "10.0.0.1 - - [09/Dec/2026:11:58:00 +0000] \"GET /a.html HTTP/1.1\" 200 10 \"-\" \"x\"\n";
constexpr const char* SecondLine =
    "10.0.0.1 - - [09/Dec/2026:11:59:30 +0000] \"GET /b.html HTTP/1.1\" 200 10 \"-\" \"crawler\"\n";

// One watch on its own home folder: its servers file names one log there, its lists come from
// there and go back there.
struct Watch {
    explicit Watch(const std::string& name)
        : Space(Home.Path())
        , Handshake(Space,
                    [this](LogEntry& first) {
                        TakeOverNewEntries(Space.Entries(), first,
                                           [this](LogEntry& entry) { Lines.push_back(entry.Line); });
                    })
        , Lifecycle(Space, [this](const std::string& message) { Errors.push_back(message); }) {
        Log = Home / "access.log";
        WriteBytes(Home / "kavel.servers",
                   "# header\r\n" + name + ";" + Log.string() + ";3;500;0;0;0;-1;10;0;0;0\r\n");
        WriteBytes(Home / "kavel.documents", ".html\r\n");
    }

    test::TempFolder Home;
    Workspace Space;
    ReaderHandshake Handshake;
    ProgramLifecycle Lifecycle;
    std::filesystem::path Log;
    std::vector<std::string> Lines;
    std::vector<std::string> Errors;
};

TEST(Workspace, TwoWatchesSideBySideKeepToThemselves) {
    platform::ManualClock clock(*EncodeDateTime(2026, 12, 9, 12, 0, 0));
    platform::ScopedClock useClock(clock);
    platform::LoopDispatcher loop;
    platform::ScopedDispatcher useLoop(loop);

    Watch one("one");
    Watch two("two");
    // Only the second knows the crawler; only the first hears of the second visit.
    WriteBytes(two.Home / "kavel.spiders", "# header\r\n10.0.0.1;0\r\n");
    WriteBytes(one.Log, std::string(FirstLine) + SecondLine);
    WriteBytes(two.Log, FirstLine);
    loop.SetIdleHandler([&] {
        one.Handshake.ResumePendingReader();
        return two.Handshake.ResumePendingReader();
    });

    for (Watch* watch : {&one, &two}) {
        watch->Lifecycle.CreateObjects();
        watch->Lifecycle.LoadDefinitions();
    }
    ASSERT_TRUE(test::RunLoopUntil(loop, [&] { return one.Lines.size() == 2 && two.Lines.size() == 1; }));

    EXPECT_EQ(one.Space.Servers().Count(), 1u);
    EXPECT_EQ(one.Space.Servers()[0].Name(), "one");
    EXPECT_EQ(two.Space.Servers()[0].Name(), "two");
    EXPECT_EQ(one.Space.Entries().Count(), 2);
    EXPECT_EQ(two.Space.Entries().Count(), 1);
    for (const LogEntry* entry = one.Space.Entries().First(); entry != nullptr;
         entry = one.Space.Entries().Next(entry)) {
        EXPECT_EQ(entry->Server, &one.Space.Servers()[0]);
        EXPECT_FALSE(entry->Access()->IsSpider) << "the first watch knows no spider";
    }
    const LogEntry* seen = two.Space.Entries().First();
    EXPECT_EQ(seen->Server, &two.Space.Servers()[0]);
    EXPECT_TRUE(seen->Access()->IsSpider);
    EXPECT_TRUE(seen->Access()->IsDocument);
    EXPECT_EQ(one.Space.Readers().ReaderOf(two.Space.Servers()[0]), nullptr);

    // A spider marked in one watch stays out of the other.
    two.Space.Spiders().Add("crawl.example", false);
    EXPECT_FALSE(one.Space.Spiders().Find("crawl.example"));

    for (Watch* watch : {&one, &two}) {
        watch->Lifecycle.StopReaders();
        watch->Lifecycle.Finish(nullptr, nullptr);
        EXPECT_EQ(watch->Errors, std::vector<std::string>{});
    }
    loop.SetIdleHandler({});
    EXPECT_NE(ReadBytes(one.Home / "kavel.servers").find("\r\none;"), std::string::npos);
    EXPECT_EQ(ReadBytes(one.Home / "kavel.servers").find("two;"), std::string::npos);
    EXPECT_NE(ReadBytes(two.Home / "kavel.spiders").find("crawl.example;0"), std::string::npos);
    EXPECT_EQ(ReadBytes(one.Home / "kavel.spiders").find("crawl.example"), std::string::npos);
}

TEST(Workspace, DefinitionFilesLiveInItsHome) {
    test::TempFolder home;
    const Workspace space(home.Path());
    EXPECT_EQ(space.DefinitionFile(".servers"), home / "kavel.servers");
    EXPECT_EQ(space.DefinitionFile(".config"), home / "kavel.config");
}

// Undone with a reader still watching its log, a workspace stops it before the queue, the lists
// and the server go; under ThreadSanitizer a reader that outlived them would be reported.
TEST(Workspace, GoesWithAReaderStillRunning) {
    platform::LoopDispatcher loop;
    platform::ScopedDispatcher useLoop(loop);
    test::TempFolder home;
    WriteBytes(home / "access.log", FirstLine);
    {
        Workspace space(home.Path());
        auto server = std::make_unique<Server>();
        server->SetName("web");
        server->SetLogFileName((home / "access.log").string());
        server->SetTimeDeleteAfter(100000);
        server->SetTimeLogPollCycleInMs(50);
        server->SetActive(true);
        Server& added = space.Servers().Add(std::move(server));
        const LogReader& reader = space.Readers().Start(added);
        ASSERT_TRUE(test::RunLoopUntil(loop, [&] { return reader.PassCount() > 0; }));
    }
    SUCCEED();
}

} // namespace
} // namespace kavel
