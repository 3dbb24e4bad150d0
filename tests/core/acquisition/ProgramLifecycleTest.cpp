#include "acquisition/ProgramLifecycle.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/ReaderHandshake.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "config/SettingsStore.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

using kavel::test::Space;

namespace kavel {
namespace {

using test::ReadBytes;
using test::WriteBytes;

std::size_t CountLines(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t pos = text.find("\r\n"); pos != std::string::npos; pos = text.find("\r\n", pos + 2))
        ++n;
    return n;
}

// The main thread as the program has it: a loop dispatcher and the reader handshake.
class ProgramLifecycleTest : public testing::Test {
protected:
    ProgramLifecycleTest()
        : Clock_(*EncodeDateTime(2026, 12, 9, 12, 0, 0))
        , UseClock_(Clock_)
        , UseLoop_(Loop_)
        , Handshake_(Space(), [](LogEntry& first) {
            TakeOverNewEntries(Space().Entries(), first, [](LogEntry&) {});
        }) {
        Loop_.SetIdleHandler([this] { return Handshake_.ResumePendingReader(); });
    }
    ~ProgramLifecycleTest() override {
        Loop_.SetIdleHandler({});
        Space().Readers().StopAll();
        Space().Servers().Clear();
        Space().Entries().Clear();
        Space().Revisitors().Clear();
    }

    test::ScopedHome Home_;
    platform::ManualClock Clock_;
    platform::ScopedClock UseClock_;
    platform::LoopDispatcher Loop_;
    platform::ScopedDispatcher UseLoop_;
    ReaderHandshake Handshake_;
    std::vector<std::string> Errors_;
    ProgramLifecycle Lifecycle_{Space(), [this](const std::string& message) { Errors_.push_back(message); }};
};

TEST_F(ProgramLifecycleTest, EmptyHomeGetsAServersFileWithOnlyTheHeader) {
    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions();
    Lifecycle_.StopReaders();
    Lifecycle_.Finish(nullptr, nullptr);

    const std::string servers = ReadBytes(Home_ / "kavel.servers");
    EXPECT_EQ(CountLines(servers), 3u);
    EXPECT_EQ(servers.rfind("# Servers Definition File\r\n", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(Home_ / "kavel.revisitors"));
    EXPECT_EQ(ReadBytes(Home_ / "kavel.documents"), "");
    EXPECT_TRUE(Errors_.empty());
}

TEST_F(ProgramLifecycleTest, ARunThatNeverLoadedLeavesServersAndRevisitorsAlone) {
    WriteBytes(Home_ / "kavel.servers", "keep me;/nowhere.log\r\n");
    WriteBytes(Home_ / "kavel.revisitors", "10.0.0.1;host\r\n");
    WriteBytes(Home_ / "kavel.documents", ".HTML\r\n.php");

    // The user declined a second instance: no first idle moment.
    Lifecycle_.CreateObjects();
    Lifecycle_.Finish(nullptr, nullptr);

    EXPECT_EQ(ReadBytes(Home_ / "kavel.servers"), "keep me;/nowhere.log\r\n");
    EXPECT_EQ(ReadBytes(Home_ / "kavel.revisitors"), "10.0.0.1;host\r\n");
    // The lists read before any window are written back as they were read (in lower case).
    EXPECT_EQ(ReadBytes(Home_ / "kavel.documents"), ".html\r\n.php\r\n");
}

TEST_F(ProgramLifecycleTest, LoadedServersGetReadersAndAreWrittenBack) {
    const auto log = Home_ / "access.log";
    WriteBytes(log, "10.0.0.9 - - [09/Dec/2026:11:59:00 +0000] \"GET / HTTP/1.1\" 200 10 \"-\" \"x\"\n");
    WriteBytes(Home_ / "kavel.servers", "# header\r\nweb;" + log.string() + ";3;500;0;0;0;-1;10;0;0;0\r\n");
    WriteBytes(Home_ / "kavel.documents", ".html\r\n");

    std::vector<std::string> loaded;
    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions([&loaded](Server& server) { loaded.push_back(server.Name()); });
    EXPECT_EQ(loaded, std::vector<std::string>{"web"});
    ASSERT_EQ(Space().Readers().UsedCount(), 1u);
    EXPECT_TRUE(test::RunLoopUntil(Loop_, [] { return Space().Entries().Count() == 1; }));

    std::vector<std::string> status;
    Lifecycle_.StopReaders([&status](const std::string& text) { status.push_back(text); });
    EXPECT_EQ(status, std::vector<std::string>{test::StoppingStatus("web")});
    Lifecycle_.Finish(nullptr, nullptr);

    const std::string servers = ReadBytes(Home_ / "kavel.servers");
    EXPECT_NE(servers.find("\r\nweb;" + log.string() + ";3;500;0;0;0;-1;10;0;0;0\r\n"), std::string::npos);
    EXPECT_EQ(Space().Entries().Count(), 0);
    EXPECT_EQ(Space().Servers().Count(), 0u);
}

TEST_F(ProgramLifecycleTest, AListThatCouldNotBeReadIsNotOverwritten) {
    // A folder where the file should be: reading fails, so writing back must not happen.
    std::filesystem::create_directory(Home_ / "kavel.documents");
    WriteBytes(Home_ / "kavel.spiders", "bot.example;0\r\n");

    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions();
    Lifecycle_.Finish(nullptr, nullptr);

    ASSERT_EQ(Errors_.size(), 1u);
    EXPECT_EQ(Errors_[0].rfind("kavel.documents", 0), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(Home_ / "kavel.documents"));
    EXPECT_NE(ReadBytes(Home_ / "kavel.spiders").find("bot.example;0\r\n"), std::string::npos);
}

TEST_F(ProgramLifecycleTest, AMalformedRevisitorsFileDoesNotKeepTheServersFromLoading) {
    WriteBytes(Home_ / "kavel.revisitors", "10.0.0.1;a\r\nbroken\r\n10.0.0.2;b\r\n");
    WriteBytes(Home_ / "kavel.servers", "web;" + (Home_ / "missing.log").string() + "\r\n");

    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions();

    EXPECT_EQ(Space().Revisitors().Count(), 2u);
    EXPECT_EQ(Space().Servers().Count(), 1u);
    EXPECT_TRUE(Lifecycle_.ServersLoaded());
    EXPECT_EQ(Errors_, std::vector<std::string>{
                           "kavel.revisitors: 1 unreadable line(s) kept unchanged, the first is line 2"});
    Lifecycle_.StopReaders();
    Lifecycle_.Finish(nullptr, nullptr);
    EXPECT_NE(ReadBytes(Home_ / "kavel.revisitors").find("\r\n10.0.0.1;a\r\nbroken\r\n10.0.0.2;b\r\n"),
              std::string::npos);
}

TEST_F(ProgramLifecycleTest, UnreadableLinesAreReportedOnceAndWrittenBack) {
    WriteBytes(Home_ / "kavel.servers",
               "web;" + (Home_ / "missing.log").string() + "\r\nTypo;x.log;3;5000;0;0;0;Tru;10;0;0;-1\r\n");
    WriteBytes(Home_ / "kavel.spiders", "bot.example;0\r\nnosemicolon\r\n");

    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions();
    Lifecycle_.StopReaders();
    Lifecycle_.Finish(nullptr, nullptr);

    EXPECT_EQ(Errors_, (std::vector<std::string>{
                           "kavel.spiders: 1 unreadable line(s) kept unchanged, the first is line 2",
                           "kavel.servers: 1 unreadable line(s) kept unchanged, the first is line 2"}));
    EXPECT_FALSE(Lifecycle_.ReadFailed()) << "the files themselves were read";
    EXPECT_NE(ReadBytes(Home_ / "kavel.servers").find("\r\nTypo;x.log;3;5000;0;0;0;Tru;10;0;0;-1\r\n"),
              std::string::npos);
    EXPECT_NE(ReadBytes(Home_ / "kavel.spiders").find("\r\nbot.example;0\r\nnosemicolon\r\n"),
              std::string::npos);
}

TEST_F(ProgramLifecycleTest, AStartRemovesStaleTemporaryFilesOnly) {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    WriteBytes(Home_ / ".kavel.servers.tmp4242-0-17", "half");
    std::filesystem::last_write_time(Home_ / ".kavel.servers.tmp4242-0-17", old);
    WriteBytes(Home_ / ".kavel.documents.tmp4243-1-18", "being written");
    WriteBytes(Home_ / ".mine.tmp4242-0-17", "not ours");
    std::filesystem::last_write_time(Home_ / ".mine.tmp4242-0-17", old);

    Lifecycle_.CreateObjects();

    EXPECT_FALSE(std::filesystem::exists(Home_ / ".kavel.servers.tmp4242-0-17"));
    EXPECT_TRUE(std::filesystem::exists(Home_ / ".kavel.documents.tmp4243-1-18"));
    EXPECT_TRUE(std::filesystem::exists(Home_ / ".mine.tmp4242-0-17"));
    Lifecycle_.Finish(nullptr, nullptr);
}

TEST_F(ProgramLifecycleTest, AStopDuringLoadingWritesNothingBack) {
    WriteBytes(Home_ / "kavel.documents", ".HTML\r\n");
    WriteBytes(Home_ / "kavel.servers", "keep me;/nowhere.log\r\n");
    WriteBytes(Home_ / "kavel.revisitors", "10.0.0.1;host\r\n");

    Lifecycle_.RequestStop();
    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions();
    Lifecycle_.Finish(nullptr, nullptr);

    EXPECT_EQ(ReadBytes(Home_ / "kavel.documents"), ".HTML\r\n");
    EXPECT_EQ(ReadBytes(Home_ / "kavel.servers"), "keep me;/nowhere.log\r\n");
    EXPECT_EQ(ReadBytes(Home_ / "kavel.revisitors"), "10.0.0.1;host\r\n");
    EXPECT_FALSE(std::filesystem::exists(Home_ / "kavel.spiders"));
    EXPECT_TRUE(Errors_.empty()) << "a stop is no error";
    EXPECT_FALSE(Lifecycle_.ReadFailed());
}

TEST_F(ProgramLifecycleTest, AnUnreadableOptionsFileIsReportedAndNotReplaced) {
    // Root reads a file of mode 000, so a folder in its place stands for the unreadable file.
    std::filesystem::create_directory(Home_ / "kavel.config");
    Lifecycle_.CreateObjects();
    std::unique_ptr<SettingsStore> options = Lifecycle_.CreateOptions();
    ASSERT_EQ(Errors_.size(), 1u);
    EXPECT_EQ(Errors_[0].rfind("kavel.config: ", 0), 0u) << Errors_[0];
    EXPECT_TRUE(Lifecycle_.ReadFailed());
    EXPECT_EQ(options->Int("TimeDeleteAfter"), 3) << "the defaults apply";

    options->SetValue("TimeDeleteAfter", std::int32_t{7});
    Lifecycle_.Finish(options.get(), nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(Home_ / "kavel.config"));
    EXPECT_EQ(Errors_.size(), 1u) << "reported once, at the start";
}

TEST_F(ProgramLifecycleTest, AnUnreadableDefinitionFileMarksTheRun) {
    std::filesystem::create_directory(Home_ / "kavel.servers");
    Lifecycle_.CreateObjects();
    Lifecycle_.LoadDefinitions();
    Lifecycle_.Finish(nullptr, nullptr);
    EXPECT_TRUE(Lifecycle_.ReadFailed());
    EXPECT_TRUE(std::filesystem::is_directory(Home_ / "kavel.servers"));
}

// A file that cannot be written back at the end (its place taken by a folder, which even root
// cannot rename a file over) is reported and marks the run; the other files are still written.
TEST_F(ProgramLifecycleTest, AFileThatCouldNotBeWrittenMarksTheRun) {
    for (const char* blocked : {"", "kavel.servers", "kavel.revisitors", "kavel.documents"}) {
        SCOPED_TRACE(blocked);
        const test::ScopedHome& home = Home_;
        ProgramLifecycle lifecycle(Space(),
                                   [this](const std::string& message) { Errors_.push_back(message); });
        Errors_.clear();
        lifecycle.CreateObjects();
        lifecycle.LoadDefinitions();
        lifecycle.StopReaders();
        if (*blocked != '\0') {
            std::filesystem::remove(home / blocked);
            std::filesystem::create_directories(home / blocked / "in the way");
        }
        lifecycle.Finish(nullptr, nullptr);
        EXPECT_FALSE(lifecycle.ReadFailed());
        EXPECT_EQ(lifecycle.WriteFailed(), *blocked != '\0');
        // Lists kept in memory by earlier tests may add reports of unreadable lines.
        std::vector<std::string> failures;
        std::copy_if(Errors_.begin(), Errors_.end(), std::back_inserter(failures),
                     [](const std::string& e) { return e.find("unreadable line") == std::string::npos; });
        ASSERT_EQ(failures.size(), *blocked != '\0' ? 1u : 0u) << testing::PrintToString(Errors_);
        if (*blocked != '\0') {
            EXPECT_EQ(failures[0].rfind(std::string(blocked) + ": ", 0), 0u) << failures[0];
        }
        EXPECT_TRUE(std::filesystem::is_regular_file(home / "kavel.spiders"));
        if (*blocked != '\0')
            std::filesystem::remove_all(home / blocked);
    }
}

} // namespace
} // namespace kavel
