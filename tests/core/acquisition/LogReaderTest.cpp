#include "acquisition/LogReader.h"

#include "acquisition/EntryArena.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogFileReader.h"
#include "acquisition/ReaderHandshake.h"
#include "acquisition/ReaderRegistry.h"
#include "config/AppSettings.h"
#include "parsing/NameList.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Tone.h"
#include "support/ParsingSupport.h"
#include "support/ReaderTestSupport.h"
#include "support/TestWorkspace.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using kavel::test::Space;

namespace kavel {
namespace {

using namespace std::chrono_literals;
using test::AppendLog;
using test::LogFolder;
using test::WriteLog;

// Everything the readers showed on the main thread.
class RecordingView final : public ReaderView {
public:
    struct NodeStatus {
        kavel::Server* Server;
        ServerStatus Status;
    };
    struct Popup {
        std::string Text;
        std::string Caption;
        VisitorMark Visitor;
    };
    void SetServerNodeStatus(Server& server, ServerStatus status) override {
        Images.push_back({&server, status});
    }
    void ShowPopup(const std::string& text, const std::string& caption, VisitorMark visitor) override {
        Popups.push_back({text, caption, visitor});
    }
    bool Showed(const Server& server, ServerStatus status) const {
        for (const NodeStatus& i : Images) {
            if (i.Server == &server && i.Status == status) {
                return true;
            }
        }
        return false;
    }
    std::vector<NodeStatus> Images;
    std::vector<Popup> Popups;
};

// 10 March 2024, 12:00 local time: "now" for every test here.
constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

std::string NcsaLine(int client, int minute, const std::string& page, int day = 10) {
    char line[256];
    std::snprintf(
        line, sizeof line,
        "10.0.0.%d - - [%02d/Mar/2024:11:%02d:00 +0000] \"GET %s HTTP/1.1\" 200 512 \"-\" \"Mozilla/5.0\"\n",
        client, day, minute, page.c_str());
    return line;
}

// date time c-ip cs-method cs-uri-stem cs-status
constexpr std::uint32_t W3CTestFields =
    (1u << 0) | (1u << 1) | (1u << 2) | (1u << 8) | (1u << 9) | (1u << 11);
constexpr const char* W3cHeader =
    "#Software: Test\r\n#Fields: date time c-ip cs-method cs-uri-stem sc-status\r\n";

std::string W3cLine(int client, int minute, const std::string& page) {
    char line[256];
    std::snprintf(line, sizeof line, "2024-03-10 11:%02d:00 10.0.0.%d GET %s 200\r\n", minute, client,
                  page.c_str());
    return line;
}

// An Options store with the grace period for rotated files, for the readers started and stopped
// in its scope.
class ScopedRotateGrace {
public:
    explicit ScopedRotateGrace(std::int32_t seconds) {
        Options_.AddItem("Options", "LogRotateGraceSeconds", SettingKind::Integer, seconds);
        Space().SetOptions(&Options_);
    }
    ~ScopedRotateGrace() { Space().SetOptions(nullptr); }
    ScopedRotateGrace(const ScopedRotateGrace&) = delete;
    ScopedRotateGrace& operator=(const ScopedRotateGrace&) = delete;

private:
    SettingsStore Options_;
};

class LogReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Space().Entries().Clear();
        Space().Documents().Clear();
        Space().Readers().ResetNotificationMemory();
        Space().Readers().SetView(&View);
        Loop.SetIdleHandler([this] { return Handshake.ResumePendingReader(); });
    }

    void TearDown() override {
        Handshake.SetClosing(true);
        Loop.SetIdleHandler({});
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Readers().SetView(nullptr);
        Space().Entries().Clear();
        Space().Documents().Clear();
    }

    Server& AddServer(const std::filesystem::path& log, LogFormat logType = LogFormat::Ncsa,
                      const std::string& name = "srv") {
        auto server = std::make_unique<Server>();
        server->SetName(name);
        server->SetLogFileName(log.string());
        server->SetLogType(static_cast<LogFormat>(logType));
        server->SetW3cFields(W3CTestFields);
        server->SetTimeDeleteAfter(3);
        server->SetTimeDeleteAfterUnit(KeepUnit::Days);
        server->SetTimeLogPollCycleInMs(60000);
        server->SetSoundOnAccess(false);
        server->SetPopupOnDocument(false);
        server->SetActive(true);
        Servers.push_back(std::move(server));
        return *Servers.back();
    }

    bool RunUntil(const std::function<bool()>& done) { return test::RunLoopUntil(Loop, done); }

    // Waits until the reader pauses between two polls, appends to the log and runs the main
    // loop until the next pass, which sees the appended bytes, has ended.
    void AppendAndPoll(LogReader& reader, const std::filesystem::path& log, const std::string& bytes) {
        WriteAndPoll(reader, [&] { AppendLog(log, bytes); });
    }

    // Waits until the reader rests between two polls (or waits for its missing log), writes, and
    // runs the main loop until a pass that began after the write has ended and done() holds.
    void WriteAndPoll(
        LogReader& reader, const std::function<void()>& write,
        const std::function<bool()>& done = [] { return true; }) {
        const auto resting = [&] {
            const std::string state = reader.State();
            return state.starts_with(reader_state::SleepingFor(500)) ||
                   state.starts_with(reader_state::FileMissing);
        };
        ASSERT_TRUE(RunUntil(resting)) << "state: " << reader.State();
        const std::uint64_t passes = reader.PassCount();
        write();
        reader.PollNow();
        ASSERT_TRUE(RunUntil([&] { return reader.PassCount() > passes && resting() && done(); }))
            << "state: " << reader.State();
    }

    std::size_t Taken() const { return TakenLines.size(); }

    test::ScopedNoNameLookups NoLookups;
    platform::ManualClock Clock{TestNow};
    platform::ScopedClock ClockInstalled{Clock};
    platform::LoopDispatcher Loop;
    platform::ScopedDispatcher LoopInstalled{Loop};
    platform::RecordingTone Tone;
    platform::ScopedTone ToneInstalled{Tone};
    RecordingView View;
    std::vector<std::string> TakenLines;
    std::vector<std::size_t> TakeOverSizes;
    ReaderHandshake Handshake{Space(), [this](LogEntry& first) {
                                  std::size_t count = 0;
                                  TakeOverNewEntries(Space().Entries(), first, [&](LogEntry& entry) {
                                      TakenLines.push_back(entry.Line);
                                      ++count;
                                  });
                                  TakeOverSizes.push_back(count);
                              }};
    LogFolder Folder;
    std::vector<std::unique_ptr<Server>> Servers;
};

TEST_F(LogReaderTest, LinesAppendedWhileTheReaderRunsAreTakenOver) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html") + NcsaLine(2, 1, "/b.html") + NcsaLine(3, 2, "/c.html"));
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 3 && reader.PassCount() >= 1; }));
    // The whole log lies in the keep period: reading starts with its first line.
    EXPECT_EQ(TakenLines[0] + "\n", NcsaLine(1, 0, "/a.html"));
    EXPECT_TRUE(View.Showed(server, ServerStatus::Reading));
    EXPECT_TRUE(View.Showed(server, ServerStatus::Idle));

    AppendLog(log, NcsaLine(4, 3, "/d.html") + NcsaLine(5, 4, "/e.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 5; }));
    EXPECT_EQ(TakenLines[4] + "\n", NcsaLine(5, 4, "/e.html"));
}

// A line written in two parts is held back until its line end arrives, and a lone CR ends a
// line as LF does.
TEST_F(LogReaderTest, AHalfWrittenNcsaLineIsTakenOnceComplete) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));

    const std::string line = NcsaLine(2, 5, "/half.html");
    AppendAndPoll(reader, log, line.substr(0, 40));
    EXPECT_EQ(Taken(), 1u);
    AppendAndPoll(reader, log, line.substr(40));
    ASSERT_EQ(Taken(), 2u);
    EXPECT_EQ(TakenLines[1] + "\n", line);

    std::string crLine = NcsaLine(3, 6, "/cr.html");
    crLine.back() = '\r';
    AppendAndPoll(reader, log, crLine);
    ASSERT_EQ(Taken(), 3u);
    EXPECT_EQ(TakenLines[2] + "\r", crLine);
}

TEST_F(LogReaderTest, AHalfWrittenW3CLineCompletedBeforeTheNextPollIsQueuedOnceComplete) {
    const auto log = Folder / "u_ex.log";
    const std::string late = W3cLine(3, 30, "/late.html");
    WriteLog(log, W3cHeader + W3cLine(1, 10, "/a.html") + W3cLine(2, 20, "/b.html") + late.substr(0, 8));
    Server& server = AddServer(log, LogFormat::W3c);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 2; }));

    AppendAndPoll(reader, log, late.substr(8));
    ASSERT_EQ(Taken(), 3u);
    EXPECT_EQ(TakenLines[2] + "\r\n", late);
    AppendAndPoll(reader, log, "");
    EXPECT_EQ(Taken(), 3u);
    EXPECT_EQ(Space().Entries().Count(), 3);
}

TEST_F(LogReaderTest, ALogOlderThanTheKeepPeriodGivesNothingUntilNewLinesArrive) {
    const auto log = Folder / "old.log";
    std::string old;
    for (int i = 0; i < 2000; ++i) {
        old += NcsaLine(i % 200, i % 60, "/old" + std::to_string(i) + ".html", 1);
    }
    WriteLog(log, old);
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    EXPECT_EQ(Taken(), 0u);
    EXPECT_EQ(Space().Entries().Count(), 0);
    // A bisection: about log2 of the file size in probes.
    EXPECT_GT(reader.ProbeCount(), 0);
    EXPECT_LE(reader.ProbeCount(), 24);

    AppendLog(log, NcsaLine(7, 59, "/new.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));
}

TEST_F(LogReaderTest, TheStartSearchSkipsTheOldPartOfALog) {
    const auto log = Folder / "mixed.log";
    std::string content;
    for (int i = 0; i < 3000; ++i) {
        content += NcsaLine(i % 200, i % 60, "/old.html", 1);
    }
    for (int i = 0; i < 40; ++i) {
        content += NcsaLine(i, i, "/new" + std::to_string(i) + ".html");
    }
    WriteLog(log, content);
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    ASSERT_EQ(Taken(), 40u);
    EXPECT_EQ(TakenLines.front() + "\n", NcsaLine(0, 0, "/new0.html"));
    EXPECT_LE(reader.ProbeCount(), 24);
}

// With LogFollowNewFiles 0 a reader keeps to the file it found at its start.
TEST_F(LogReaderTest, WithoutFollowingAMissingLogShowsImageFourAndActivationDoesNotStartReading) {
    SettingsStore options;
    options.AddItem("Options", "LogFollowNewFiles", SettingKind::Boolean, false);
    Space().SetOptions(&options);
    struct RestoreOptions {
        ~RestoreOptions() { Space().SetOptions(nullptr); }
    } restore;
    const auto log = Folder / "missing.log";
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return server.LogFileMissing() && reader.Holding(); }));
    EXPECT_TRUE(View.Showed(server, ServerStatus::Missing));
    EXPECT_EQ(reader.State(), reader_state::Sleeping);

    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    server.SetActive(false);
    server.SetActive(true);
    reader.PollNow();
    EXPECT_TRUE(reader.Holding());
    EXPECT_TRUE(reader.Suspended());
    EXPECT_EQ(Taken(), 0u);

    const auto begin = std::chrono::steady_clock::now();
    Space().Readers().StopServer(server);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
    EXPECT_EQ(Space().Entries().Count(), 0);
}

// Notifications after the 10th and the 20th entry and one at the end; each time the reader
// waits until the main thread has taken its entries over.
// Live lines go to the window ten at a time; the log's history, read in the first pass, in runs
// of a thousand, which spares both threads most of their waits.
TEST_F(LogReaderTest, LiveLinesAreHandedOverInStepsOfTenAndTheHistoryInStepsOfAThousand) {
    // Without look-up no line waits for its name into the pause, where it would be handed over
    // on its own.
    const test::ScopedOptions noLookUp;
    const auto log = Folder / "access.log";
    WriteLog(log, "");
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    const auto linesOf = [](int count) {
        std::string lines;
        for (int i = 0; i < count; ++i)
            lines += NcsaLine(i % 250, i % 60, "/p" + std::to_string(i) + ".html");
        return lines;
    };
    const std::size_t live = EntriesPerNotification;
    const std::size_t history = EntriesPerFirstPassNotification;

    TakeOverSizes.clear();
    TakenLines.clear();
    AppendLog(log, linesOf(25));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 25; }));
    EXPECT_EQ(TakeOverSizes, (std::vector<std::size_t>{live, live, 25 - 2 * live}));

    TakeOverSizes.clear();
    TakenLines.clear();
    Space().Readers().StopServer(server);
    WriteLog(log, linesOf(2 * static_cast<int>(history) + 25));
    LogReader& again = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 2 * history + 25 && again.PassCount() >= 1; }));
    EXPECT_EQ(TakeOverSizes, (std::vector<std::size_t>{history, history, 25}));
    // Once the history is read, lines are live again.
    TakeOverSizes.clear();
    AppendLog(log, linesOf(15));
    again.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 2 * history + 40; }));
    EXPECT_EQ(TakeOverSizes, (std::vector<std::size_t>{live, 5}));
}

TEST_F(LogReaderTest, StoppingAReaderInItsPollPauseEndsItSoon) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    server.SetTimeLogPollCycleInMs(3600000);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.State() == reader_state::SleepingFor(500); }));
    const auto begin = std::chrono::steady_clock::now();
    Space().Readers().StopServer(server);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 600ms);
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
}

TEST_F(LogReaderTest, StoppingAReaderThatWaitsForActivationEndsIt) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    server.SetActive(false);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.Holding() && reader.Suspended(); }));
    EXPECT_EQ(reader.CurrentHoldReason(), HoldReason::Activation);
    EXPECT_EQ(Taken(), 0u);
    const auto begin = std::chrono::steady_clock::now();
    Space().Readers().StopServer(server);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 600ms);
    EXPECT_EQ(Taken(), 0u);
}

TEST_F(LogReaderTest, ActivationStartsAReaderThatWaited) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    server.SetActive(false);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.Holding(); }));
    server.SetActive(true);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));
}

TEST_F(LogReaderTest, APausedReaderReadsNothingUntilItIsResumed) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1 && reader.PassCount() >= 1; }));

    server.SetActive(false);
    EXPECT_TRUE(reader.Paused());
    EXPECT_FALSE(reader.Suspended());
    AppendLog(log, NcsaLine(2, 1, "/b.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return reader.Holding(); }));
    Loop.ProcessPendingEvents();
    EXPECT_EQ(Taken(), 1u);
    EXPECT_EQ(Space().Entries().Count(), 1);

    server.SetActive(true);
    EXPECT_FALSE(reader.Paused());
    ASSERT_TRUE(RunUntil([&] { return Taken() == 2; }));
}

// The main thread closes while the readers wait in synchronized calls that it has not run: the
// readers are stopped anyway.
TEST_F(LogReaderTest, ClosingWhileAReaderWaitsInASynchronizedCallDoesNotHang) {
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    Space().Readers().Start(server);
    const auto otherLog = Folder / "other.log";
    WriteLog(otherLog, NcsaLine(2, 0, "/b.html"));
    Space().Readers().Start(AddServer(otherLog, LogFormat::Ncsa, "other"));
    ASSERT_TRUE(test::WaitUntil([&] { return Loop.HasPendingSynchronizedCalls(); }));

    Handshake.SetClosing(true);
    Loop.SetIdleHandler({});
    std::vector<std::string> status;
    Space().Readers().StopAll([&](const std::string& text) { status.push_back(text); });
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
    EXPECT_EQ(status, (std::vector<std::string>{test::StoppingStatus("srv"), test::StoppingStatus("other")}));
    // Notifications that are still queued find no reader and are ignored.
    Loop.ProcessPendingEvents();
    EXPECT_EQ(Taken(), 0u);
}

TEST_F(LogReaderTest, ARotatedLogIsReadAgainFromItsStart) {
    struct Case {
        const char* Name;
        int NewLines;
    };
    // Fewer bytes than read before, and more than read before by the next poll.
    for (const Case& c : {Case{"shorter", 1}, Case{"longer", 6}}) {
        SCOPED_TRACE(c.Name);
        TakenLines.clear();
        const auto log = Folder / (std::string(c.Name) + ".log");
        WriteLog(log, NcsaLine(1, 0, "/a.html") + NcsaLine(2, 1, "/b.html") + NcsaLine(3, 2, "/c.html"));
        Server& server = AddServer(log);
        LogReader& reader = Space().Readers().Start(server);
        ASSERT_TRUE(RunUntil([&] { return Taken() == 3 && reader.PassCount() >= 1; }));

        // copytruncate: the log is copied away and cut to nothing under the open reader.
        ASSERT_EQ(::truncate(log.c_str(), 0), 0);
        std::string fresh;
        for (int i = 0; i < c.NewLines; ++i) {
            fresh += NcsaLine(50 + i, 30 + i, "/after" + std::to_string(i) + ".html");
        }
        AppendLog(log, fresh);
        reader.PollNow();
        ASSERT_TRUE(RunUntil([&] { return Taken() == 3 + static_cast<std::size_t>(c.NewLines); }));
        EXPECT_EQ(TakenLines[3] + "\n", NcsaLine(50, 30, "/after0.html"));
        Space().Readers().StopServer(server);
    }
}

// A line of the given format carrying its sequence number in the page.
std::string SequenceLine(LogFormat format, int seq) {
    const std::string page = "/p" + std::to_string(seq) + ".html";
    return format == LogFormat::W3c ? W3cLine(seq % 250, seq % 60, page)
                                    : NcsaLine(seq % 250, seq % 60, page);
}

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// The log's life under a web server and logrotate: every complete line is taken over once, in
// order, whatever happens to the file between two polls.
TEST_F(LogReaderTest, TheReaderFollowsItsLogThroughRotationDeletionAndTruncation) {
    for (const LogFormat format : {LogFormat::Ncsa, LogFormat::W3c}) {
        SCOPED_TRACE(format == LogFormat::W3c ? "W3C" : "NCSA");
        TakenLines.clear();
        const auto site = Folder / (format == LogFormat::W3c ? "iis" : "nginx");
        std::filesystem::create_directory(site);
        const auto log = site / (format == LogFormat::W3c ? "u_ex.log" : "access.log");
        test::LogWriter writer(log, format == LogFormat::W3c ? W3cHeader : "");
        std::vector<std::string> expected;
        int seq = 0;
        const auto next = [&] {
            const std::string line = SequenceLine(format, ++seq);
            expected.push_back(WithoutLineEnd(line));
            return line;
        };
        const auto takenAll = [&] { return Taken() == expected.size(); };
        writer.Create();
        writer.Append(next());
        writer.Append(next());
        Server& server = AddServer(log, format);
        LogReader& reader = Space().Readers().Start(server);
        ASSERT_TRUE(RunUntil(takenAll));

        // Half a line, then its rest after the reader looked.
        const std::string half = next();
        WriteAndPoll(reader, [&] { writer.Append(half.substr(0, 30)); });
        EXPECT_EQ(Taken(), expected.size() - 1);
        WriteAndPoll(
            reader, [&] { writer.Append(half.substr(30)); }, takenAll);

        // Renamed away and created anew; the old file's last line comes first.
        WriteAndPoll(
            reader,
            [&] {
                writer.Append(next());
                writer.MoveAndCreate();
                writer.Append(next());
            },
            takenAll);

        // Renamed away while the web server goes on writing into the renamed file, finishing a
        // half line there, until it reopens its log.
        const std::string cut = next();
        WriteAndPoll(
            reader,
            [&] {
                writer.Append(cut.substr(0, 25));
                writer.RotateAway();
                writer.Append(cut.substr(25));
                writer.Append(next());
            },
            takenAll);
        WriteAndPoll(
            reader, [&] { writer.Append(next()); }, takenAll);
        WriteAndPoll(
            reader,
            [&] {
                writer.Reopen();
                writer.Append(next());
            },
            takenAll);

        // Moved away with its folder and back: read on where it stopped, lines written
        // meanwhile once.
        const std::filesystem::path away = log.parent_path().string() + ".away";
        WriteAndPoll(
            reader,
            [&] {
                std::filesystem::rename(log.parent_path(), away);
                writer.Append(next());
            },
            [&] { return server.LogFileMissing(); });
        WriteAndPoll(
            reader,
            [&] {
                writer.Append(next());
                std::filesystem::rename(away, log.parent_path());
            },
            [&] { return takenAll() && !server.LogFileMissing(); });

        // Deleted: the node shows the log missing until it is there again.
        WriteAndPoll(
            reader, [&] { writer.Delete(); }, [&] { return server.LogFileMissing(); });
        EXPECT_EQ(reader.State(), reader_state::FileMissing);
        EXPECT_TRUE(View.Showed(server, ServerStatus::Missing));
        WriteAndPoll(
            reader,
            [&] {
                writer.Create();
                writer.Append(next());
            },
            [&] { return takenAll() && !server.LogFileMissing(); });

        // Copied and truncated, refilled shorter and then longer than what was read.
        WriteAndPoll(
            reader,
            [&] {
                writer.CopyTruncate();
                writer.Append(next());
            },
            takenAll);
        WriteAndPoll(
            reader,
            [&] {
                writer.CopyTruncate();
                for (int i = 0; i < 5; ++i) {
                    writer.Append(next());
                }
            },
            takenAll);
        // Lines written after the last poll and before the copy are read from the copy.
        WriteAndPoll(
            reader,
            [&] {
                writer.Append(next());
                writer.Append(next());
                writer.CopyTruncate("-20240310");
                writer.Append(next());
            },
            takenAll);

        EXPECT_EQ(TakenLines, expected);
        EXPECT_EQ(reader.DroppedPartialLines(), 0u);
        Space().Readers().StopServer(server);
    }
}

TEST_F(LogReaderTest, ALogCreatedLateIsReadFromItsStart) {
    const auto log = Folder / "late.log";
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return server.LogFileMissing() && reader.PassCount() >= 1; }));
    EXPECT_EQ(reader.State(), reader_state::FileMissing);
    WriteAndPoll(
        reader, [&] { WriteLog(log, NcsaLine(1, 0, "/a.html") + NcsaLine(2, 1, "/b.html")); },
        [&] { return Taken() == 2; });
    EXPECT_FALSE(server.LogFileMissing());
    EXPECT_EQ(TakenLines[0] + "\n", NcsaLine(1, 0, "/a.html"));
}

// A daily file: when the template names a new file and that file is there, the old one is read
// to its end and the new one from its start.
TEST_F(LogReaderTest, ATemplateThatNamesANewFileIsFollowed) {
    const std::string pattern = (Folder / "ex%HH%NN.log").string();
    const std::filesystem::path first = ExpandLogFileName(pattern);
    WriteLog(first, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(pattern);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));

    Clock.Advance(MsPerMinute);
    const std::filesystem::path second = ExpandLogFileName(pattern);
    ASSERT_NE(first, second);
    // Not there yet: the old file is still the log.
    AppendAndPoll(reader, first, NcsaLine(2, 1, "/b.html"));
    EXPECT_EQ(Taken(), 2u);
    WriteAndPoll(
        reader,
        [&] {
            AppendLog(first, NcsaLine(3, 2, "/c.html"));
            WriteLog(second, NcsaLine(4, 3, "/d.html"));
        },
        [&] { return Taken() == 4; });
    EXPECT_EQ(TakenLines[2] + "\n", NcsaLine(3, 2, "/c.html"));
    EXPECT_EQ(TakenLines[3] + "\n", NcsaLine(4, 3, "/d.html"));
}

// logrotate's create and its relatives take the log away from under a web server that writes on
// into the old file until it reopens its log: the old file is read by the handle already open,
// beside the new one, so that neither its new name, nor its compression and deletion, nor a
// half line finished there loses a line.
TEST_F(LogReaderTest, TheOldFileIsReadOnBesideTheNewOneUntilTheWebServerReopens) {
    struct Style {
        const char* Name;
        // Takes the log away and puts a new one in its place.
        std::function<void(test::LogWriter&, const std::string& header)> Rotate;
        // What becomes of the old file during the grace period.
        std::function<void(test::LogWriter&)> Later;
    };
    std::filesystem::path rotated;
    const Style styles[] = {
        {"renamed", [&](test::LogWriter& w, const std::string&) { rotated = w.RotateAway(); },
         [](test::LogWriter&) {}},
        {"renamed with a date",
         [&](test::LogWriter& w, const std::string&) { rotated = w.RotateAway("-20240310"); },
         [](test::LogWriter&) {}},
        {"compressed away", [&](test::LogWriter& w, const std::string&) { rotated = w.RotateAway(); },
         [&](test::LogWriter&) {
             std::filesystem::path compressed = rotated;
             compressed += ".gz";
             test::WriteLog(compressed, "\x1f\x8b");
             std::filesystem::remove(rotated);
         }},
        {"deleted and created",
         [](test::LogWriter& w, const std::string& header) {
             w.Delete();
             WriteLog(w.File(), header);
         },
         [](test::LogWriter&) {}},
        {"link switched",
         [](test::LogWriter& w, const std::string& header) {
             const auto folder = w.File().parent_path();
             WriteLog(folder / "access-2.log", header);
             std::filesystem::create_symlink("access-2.log", folder / "next-link");
             std::filesystem::rename(folder / "next-link", w.File());
         },
         [](test::LogWriter&) {}},
    };
    int run = 0;
    for (const Style& style : styles) {
        for (const LogFormat format : {LogFormat::Ncsa, LogFormat::W3c}) {
            SCOPED_TRACE(testing::Message() << style.Name << (format == LogFormat::W3c ? " W3C" : " NCSA"));
            TakenLines.clear();
            const std::string header = format == LogFormat::W3c ? W3cHeader : "";
            const auto site = Folder / ("site" + std::to_string(++run));
            std::filesystem::create_directory(site);
            const auto log = site / "access.log";
            if (std::string_view(style.Name) == "link switched") {
                WriteLog(site / "access-1.log", "");
                std::filesystem::create_symlink("access-1.log", log);
            }
            test::LogWriter writer(log, header);
            std::vector<std::string> expected;
            int seq = 0;
            const auto next = [&] {
                const std::string line = SequenceLine(format, ++seq);
                expected.push_back(WithoutLineEnd(line));
                return line;
            };
            const auto takenAll = [&] { return Taken() == expected.size(); };
            writer.Create();
            writer.Append(next());
            Server& server = AddServer(log, format);
            LogReader& reader = Space().Readers().Start(server);
            ASSERT_TRUE(RunUntil(takenAll));

            const std::string cut = next();
            WriteAndPoll(
                reader,
                [&] {
                    writer.Append(cut.substr(0, 20));
                    style.Rotate(writer, header);
                    writer.Append(cut.substr(20));
                    writer.Append(next());
                },
                takenAll);
            // The reader has moved on to the new file; the web server has not yet.
            WriteAndPoll(
                reader,
                [&] {
                    style.Later(writer);
                    writer.Append(next());
                    writer.Append(next());
                },
                takenAll);
            WriteAndPoll(
                reader,
                [&] {
                    writer.Reopen();
                    writer.Append(next());
                },
                takenAll);
            EXPECT_EQ(TakenLines, expected);
            EXPECT_EQ(reader.DroppedPartialLines(), 0u);
            Space().Readers().StopServer(server);
        }
    }
}

// The old file is read until its size has not changed for the grace period: a web server that
// takes long to reopen its log loses nothing while it keeps writing, and a file nobody writes
// into any more is given up.
TEST_F(LogReaderTest, TheOldFileIsGivenUpOnceItHasNotGrownForTheGracePeriod) {
    ScopedRotateGrace grace(30);
    const auto log = Folder / "access.log";
    test::LogWriter writer(log);
    writer.Create();
    writer.Append(NcsaLine(1, 1, "/1.html"));
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));

    WriteAndPoll(reader, [&] { writer.RotateAway(); });
    Clock.Advance(29 * MsPerSecond);
    WriteAndPoll(
        reader, [&] { writer.Append(NcsaLine(2, 2, "/2.html")); }, [&] { return Taken() == 2; });
    // Quiet for just under the grace period since it last grew: still read.
    Clock.Advance(29 * MsPerSecond);
    WriteAndPoll(reader, [] {});
    WriteAndPoll(
        reader, [&] { writer.Append(NcsaLine(3, 3, "/3.html")); }, [&] { return Taken() == 3; });
    // Quiet for the grace period: given up.
    Clock.Advance(30 * MsPerSecond);
    WriteAndPoll(reader, [] {});
    AppendAndPoll(reader, log.string() + ".1", NcsaLine(4, 4, "/lost.html"));
    WriteAndPoll(
        reader,
        [&] {
            writer.Reopen();
            writer.Append(NcsaLine(5, 5, "/5.html"));
        },
        [&] { return Taken() == 4; });
    EXPECT_EQ(TakenLines.back() + "\n", NcsaLine(5, 5, "/5.html"));
    Space().Readers().StopServer(server);
}

// LogRotateGraceSeconds 0: the old file is read to its end when the rotation is seen, and what
// the web server writes into it after that is not read.
TEST_F(LogReaderTest, WithoutAGracePeriodTheOldFileIsLeftAtTheRotation) {
    ScopedRotateGrace grace(0);
    const auto log = Folder / "access.log";
    test::LogWriter writer(log);
    writer.Create();
    writer.Append(NcsaLine(1, 1, "/1.html"));
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));

    WriteAndPoll(
        reader,
        [&] {
            writer.RotateAway();
            writer.Append(NcsaLine(2, 2, "/2.html"));
        },
        [&] { return Taken() == 2; });
    AppendAndPoll(reader, log.string() + ".1", NcsaLine(3, 3, "/lost.html"));
    WriteAndPoll(
        reader,
        [&] {
            writer.Reopen();
            writer.Append(NcsaLine(4, 4, "/4.html"));
        },
        [&] { return Taken() == 3; });
    EXPECT_EQ(TakenLines.back() + "\n", NcsaLine(4, 4, "/4.html"));
    Space().Readers().StopServer(server);
}

// copytruncate copies the log and cuts it back; what the web server wrote since the reader's
// last pass is only in the copy, which is read once from where the reading stopped. Without a
// copy (compressed at once) those lines are gone and the log is read from its start.
TEST_F(LogReaderTest, LinesWrittenBeforeACopytruncateAreReadFromTheCopy) {
    struct Case {
        const char* Name;
        const char* Suffix;
        bool CopyStays;
        // Another server's log written beside it just now: recent, long, and not the copy.
        bool OtherLog;
    };
    const Case cases[] = {{"numbered copy", ".1", true, false},
                          {"dated copy", "-20240310", true, true},
                          {"no copy", ".1", false, false},
                          {"no copy, another log beside", ".1", false, true}};
    int run = 0;
    for (const Case& c : cases) {
        for (const LogFormat format : {LogFormat::Ncsa, LogFormat::W3c}) {
            SCOPED_TRACE(testing::Message() << c.Name << (format == LogFormat::W3c ? " W3C" : " NCSA"));
            TakenLines.clear();
            const auto site = Folder / ("copy" + std::to_string(++run));
            std::filesystem::create_directory(site);
            const auto log = site / "access.log";
            test::LogWriter writer(log, format == LogFormat::W3c ? W3cHeader : "");
            std::vector<std::string> expected;
            int seq = 0;
            const auto next = [&](bool shown) {
                const std::string line = SequenceLine(format, ++seq);
                if (shown)
                    expected.push_back(WithoutLineEnd(line));
                return line;
            };
            writer.Create();
            writer.Append(next(true));
            writer.Append(next(true));
            Server& server = AddServer(log, format);
            LogReader& reader = Space().Readers().Start(server);
            ASSERT_TRUE(RunUntil([&] { return Taken() == expected.size(); }));

            WriteAndPoll(
                reader,
                [&] {
                    for (int i = 0; i < 12; ++i)
                        writer.Append(next(c.CopyStays));
                    const std::filesystem::path copy = writer.CopyTruncate(c.Suffix);
                    if (!c.CopyStays)
                        std::filesystem::remove(copy);
                    if (c.OtherLog) {
                        std::string other;
                        for (int i = 0; i < 40; ++i)
                            other += SequenceLine(format, 900 + i);
                        WriteLog(site / "other.log", other);
                    }
                    writer.Append(next(true));
                },
                [&] { return Taken() == expected.size(); });
            AppendAndPoll(reader, log, next(true));
            EXPECT_EQ(TakenLines, expected);
            Space().Readers().StopServer(server);
        }
    }
}

// A folder moved away and back holds the same file: reading goes on where it stopped, and the
// lines written meanwhile are read once, whether the file was still followed or already given
// up. A folder deleted and created again holds a new log, read from its start.
TEST_F(LogReaderTest, AFolderThatComesBackIsReadOnWhereItStopped) {
    for (const std::int32_t seconds : {30, 0}) {
        SCOPED_TRACE(testing::Message() << "grace " << seconds);
        ScopedRotateGrace grace(seconds);
        TakenLines.clear();
        const auto site = Folder / ("site-" + std::to_string(seconds));
        const std::filesystem::path away = site.string() + ".away";
        std::filesystem::create_directory(site);
        const auto log = site / "access.log";
        test::LogWriter writer(log);
        std::vector<std::string> expected;
        int seq = 0;
        const auto next = [&] {
            const std::string line = SequenceLine(LogFormat::Ncsa, ++seq);
            expected.push_back(WithoutLineEnd(line));
            return line;
        };
        const auto takenAll = [&] { return Taken() == expected.size(); };
        writer.Create();
        writer.Append(next());
        Server& server = AddServer(log);
        LogReader& reader = Space().Readers().Start(server);
        ASSERT_TRUE(RunUntil(takenAll));

        WriteAndPoll(
            reader,
            [&] {
                std::filesystem::rename(site, away);
                writer.Append(next());
            },
            [&] { return takenAll() && server.LogFileMissing(); });
        // Away: only a file still followed is read meanwhile.
        WriteAndPoll(
            reader, [&] { writer.Append(next()); }, [&] { return seconds == 0 || takenAll(); });
        WriteAndPoll(
            reader,
            [&] {
                writer.Append(next());
                std::filesystem::rename(away, site);
            },
            [&] { return takenAll() && !server.LogFileMissing(); });
        AppendAndPoll(reader, log, next());
        EXPECT_EQ(TakenLines, expected);

        WriteAndPoll(
            reader, [&] { std::filesystem::remove_all(site); }, [&] { return server.LogFileMissing(); });
        WriteAndPoll(
            reader,
            [&] {
                std::filesystem::create_directory(site);
                test::LogWriter fresh(log);
                fresh.Create();
                fresh.Append(next());
                fresh.Append(next());
            },
            takenAll);
        EXPECT_EQ(TakenLines, expected);
        Space().Readers().StopServer(server);
    }
}

// For random writers: appends, half lines, renaming rotations (with the web server reopening at
// once or writing on into the renamed file first), copytruncate (with lines written since the
// last poll only in the copy) and the log's folder moved away and back, each step looked at by
// the reader before the next; with the grace period for rotated files and without. Every
// complete line is taken over once, in order; a half line cut off by a rotation is counted as
// dropped once its file is given up.
TEST_F(LogReaderTest, EveryCompleteLineIsTakenOverOnceInOrder) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        for (const LogFormat format : {LogFormat::Ncsa, LogFormat::W3c}) {
            const std::int32_t grace = seed % 2 == 0 ? 0 : 30;
            SCOPED_TRACE(testing::Message()
                         << "seed " << seed << (format == LogFormat::W3c ? " W3C" : " NCSA") << " grace "
                         << grace);
            ScopedRotateGrace graceInstalled(grace);
            TakenLines.clear();
            Space().Entries().Clear();
            std::mt19937 random(seed);
            const auto site =
                Folder / ("random" + std::to_string(seed) + (format == LogFormat::W3c ? "-w3c" : "-ncsa"));
            const std::filesystem::path away = site.string() + ".away";
            std::filesystem::create_directory(site);
            const auto log = site / "access.log";
            test::LogWriter writer(log, format == LogFormat::W3c ? W3cHeader : "");
            writer.Create();
            Server& server = AddServer(log, format);
            LogReader& reader = Space().Readers().Start(server);
            std::vector<std::string> expected;
            std::uint64_t dropped = 0;
            int seq = 0;
            std::string pendingRest;
            const auto appendLines = [&](std::mt19937::result_type count) {
                for (; count > 0; --count) {
                    const std::string line = SequenceLine(format, ++seq);
                    expected.push_back(WithoutLineEnd(line));
                    writer.Append(line);
                }
            };
            // The rest of a half line, written where the web server writes now.
            const auto finishHalfLine = [&] {
                writer.Append(pendingRest);
                pendingRest.clear();
            };
            // A half line that nobody finishes: given up with the file that holds it.
            const auto abandonHalfLine = [&] {
                if (!pendingRest.empty()) {
                    expected.pop_back();
                    pendingRest.clear();
                    ++dropped;
                }
            };
            const auto takenSoFar = [&] {
                return Taken() == expected.size() - (pendingRest.empty() ? 0 : 1);
            };
            for (int step = 0; step < 20 && !HasFatalFailure(); ++step) {
                const auto op = random() % 9;
                if (op == 8) {
                    // The folder moved away while the web server writes on, and back.
                    WriteAndPoll(
                        reader,
                        [&] {
                            std::filesystem::rename(site, away);
                            if (!pendingRest.empty())
                                finishHalfLine();
                            appendLines(1 + random() % 3);
                        },
                        [&] { return takenSoFar() && server.LogFileMissing(); });
                    WriteAndPoll(
                        reader,
                        [&] {
                            appendLines(random() % 3);
                            std::filesystem::rename(away, site);
                        },
                        [&] { return takenSoFar() && !server.LogFileMissing(); });
                    continue;
                }
                WriteAndPoll(
                    reader,
                    [&] {
                        if (op <= 2) {
                            // Append: the rest of a half line first, then whole lines.
                            if (!pendingRest.empty())
                                finishHalfLine();
                            appendLines(random() % 4);
                            return;
                        }
                        if (op == 3) {
                            if (pendingRest.empty()) {
                                const std::string line = SequenceLine(format, ++seq);
                                const std::size_t cut = 1 + random() % (line.size() - 2);
                                expected.push_back(WithoutLineEnd(line));
                                writer.Append(line.substr(0, cut));
                                pendingRest = line.substr(cut);
                            }
                            return;
                        }
                        if (op == 4) {
                            abandonHalfLine();
                            writer.MoveAndCreate();
                        } else if (op == 5) {
                            abandonHalfLine();
                            writer.CopyTruncate();
                        } else if (op == 6) {
                            // Renamed while writing: the web server finishes its line and
                            // writes more into the renamed file, then reopens its log.
                            writer.RotateAway();
                            if (!pendingRest.empty())
                                finishHalfLine();
                            appendLines(random() % 3);
                            writer.Reopen();
                        } else {
                            // copytruncate with a late copy: written since the last poll, then
                            // copied, cut, and written on.
                            if (!pendingRest.empty())
                                finishHalfLine();
                            appendLines(1 + random() % 3);
                            char suffix[16];
                            std::snprintf(suffix, sizeof suffix, step % 2 == 0 ? ".%d" : "-202403%02d",
                                          step % 2 == 0 ? 100 + step : step + 1);
                            writer.CopyTruncate(suffix);
                        }
                        appendLines(1);
                    },
                    takenSoFar);
            }
            // Past the grace period the rotated files are given up, and their half lines counted.
            Clock.Advance(std::int64_t{grace + 1} * MsPerSecond);
            WriteAndPoll(
                reader, [] {}, takenSoFar);
            if (!pendingRest.empty()) {
                expected.pop_back();
            }
            EXPECT_EQ(TakenLines, expected);
            EXPECT_EQ(reader.DroppedPartialLines(), dropped);
            Space().Readers().StopServer(server);
        }
    }
}

TEST_F(LogReaderTest, TheBeepSoundsAtMostOncePerSecondAndNotForTheFirstPass) {
    const auto log = Folder / "access.log";
    const auto otherLog = Folder / "other.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html") + NcsaLine(2, 1, "/b.html"));
    WriteLog(otherLog, "");
    Server& server = AddServer(log);
    Server& other = AddServer(otherLog, LogFormat::Ncsa, "other");
    server.SetSoundOnAccess(true);
    other.SetSoundOnAccess(true);
    LogReader& reader = Space().Readers().Start(server);
    LogReader& otherReader = Space().Readers().Start(other);
    ASSERT_TRUE(
        RunUntil([&] { return Taken() == 2 && reader.PassCount() >= 1 && otherReader.PassCount() >= 1; }));
    EXPECT_TRUE(Tone.Beeps().empty());

    const std::vector<platform::RecordingTone::Sound> doubleTone = {{1000, 100}, {500, 100}};
    AppendLog(log, NcsaLine(3, 2, "/c.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 3; }));
    EXPECT_EQ(Tone.Beeps(), doubleTone);

    // Same second, another reader: no second beep.
    AppendLog(otherLog, NcsaLine(4, 3, "/d.html"));
    otherReader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 4; }));
    EXPECT_EQ(Tone.Beeps().size(), 2u);

    Clock.Advance(1000);
    AppendLog(log, NcsaLine(5, 4, "/e.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 5; }));
    EXPECT_EQ(Tone.Beeps().size(), 4u);
}

TEST_F(LogReaderTest, OnePopupForTheNewestOfSeveralNewDocuments) {
    // Without look-up the four lines are handed over in one notification.
    const test::ScopedOptions noLookUp;
    Space().Documents().Add(".html");
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/first.html"));
    Server& server = AddServer(log);
    server.SetPopupOnDocument(true);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1 && reader.PassCount() >= 1; }));
    EXPECT_TRUE(View.Popups.empty());

    AppendLog(log, NcsaLine(2, 1, "/a.html") + NcsaLine(3, 2, "/b.html") + NcsaLine(4, 3, "/c.html?page=2") +
                       NcsaLine(5, 4, "/style.css"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 5; }));
    ASSERT_EQ(View.Popups.size(), 1u);
    char popup[128];
    std::snprintf(popup, sizeof popup, PopupFormat, "/c.html", "10.0.0.4", "srv");
    EXPECT_EQ(View.Popups[0].Text, popup);
    EXPECT_EQ(View.Popups[0].Caption, PopupCaption);
    EXPECT_EQ(View.Popups[0].Visitor, VisitorMark::New);

    // Nothing new that is a document: no popup.
    AppendLog(log, NcsaLine(6, 5, "/logo.png"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 6; }));
    EXPECT_EQ(View.Popups.size(), 1u);
}

TEST_F(LogReaderTest, PollPausesComeInSlicesOfHalfASecond) {
    struct Case {
        std::int32_t Cycle;
        int Slices;
        std::chrono::milliseconds Short;
    };
    const Case cases[] = {{1200, 2, 0ms},  {1000, 2, 0ms}, {999, 1, 0ms},  {500, 1, 0ms},
                          {400, 0, 400ms}, {0, 0, 100ms},  {-5, 0, 100ms}, {5000, 10, 0ms}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Cycle);
        EXPECT_EQ(PollPauseSlices(c.Cycle), c.Slices);
        EXPECT_EQ(ShortPollPause(c.Cycle), c.Short);
    }
}

// What stands under the log's name but cannot be read is said, and the node shows it missing.
TEST_F(LogReaderTest, AnUnreadableOrOddLogIsReported) {
    const auto fifo = Folder / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto locked = Folder / "locked.log";
    WriteLog(locked, NcsaLine(1, 0, "/a.html"));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const bool root = ::geteuid() == 0;
    struct Case {
        std::filesystem::path Log;
        std::string State;
    };
    std::vector<Case> cases = {{Folder.Path(), std::string(reader_state::NotRegularFile)},
                               {fifo, std::string(reader_state::NotRegularFile)},
                               {"/dev/null", std::string(reader_state::NotRegularFile)},
                               {Folder / "none.log", std::string(reader_state::FileMissing)}};
    // Permissions do not keep root out.
    if (!root) {
        cases.push_back({locked, reader_state::Unreadable(std::strerror(EACCES))});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Log.string());
        Server& server = AddServer(c.Log);
        LogReader& reader = Space().Readers().Start(server);
        ASSERT_TRUE(RunUntil([&] { return server.LogFileMissing() && reader.PassCount() >= 1; }));
        EXPECT_EQ(reader.State(), c.State);
        EXPECT_TRUE(View.Showed(server, ServerStatus::Missing));
        EXPECT_FALSE(reader.Finished());
        Space().Readers().StopServer(server);
    }
    EXPECT_EQ(Taken(), 0u);
}

// Without a main window nobody takes entries over: the reader queues them and goes on.
TEST(LogReaderWithoutHandshakeTest, TheReaderDoesNotSleepAfterItsNotifications) {
    test::ScopedNoNameLookups noLookups;
    platform::ManualClock clock{TestNow};
    platform::ScopedClock clockInstalled{clock};
    platform::LoopDispatcher loop;
    platform::ScopedDispatcher loopInstalled{loop};
    Space().Entries().Clear();
    LogFolder folder;
    std::string lines;
    for (int i = 0; i < 25; ++i) {
        lines += NcsaLine(i, i, "/p.html");
    }
    WriteLog(folder / "access.log", lines);
    Server server;
    server.SetLogFileName((folder / "access.log").string());
    server.SetTimeLogPollCycleInMs(60000);
    server.SetActive(true);
    LogReader& reader = Space().Readers().Start(server);
    EXPECT_TRUE(test::RunLoopUntil(loop, [&] { return reader.PassCount() >= 1; }));
    EXPECT_EQ(Space().Entries().Count(), 25);
    EXPECT_FALSE(reader.Suspended());
    Space().Readers().StopServer(server);
    Space().Readers().Clear();
    Space().Entries().Clear();
}

// Probes that are expired send the search up, kept ones down, and the result is where the kept
// part begins, whatever the block size.
TEST(FindStartTest, FindsTheFirstKeptLine) {
    LogFolder folder;
    std::string content;
    std::vector<std::int64_t> starts;
    for (int i = 0; i < 500; ++i) {
        starts.push_back(static_cast<std::int64_t>(content.size()));
        content += (i < 321 ? "old " : "new ") + std::to_string(i) + "\n";
    }
    WriteLog(folder / "log", content);
    for (const std::int64_t block : {std::int64_t{16}, std::int64_t{4096}}) {
        LogFileReader reader(block);
        reader.Open(folder / "log");
        int probes = 0;
        const std::int64_t start = FindStart(
            reader, 0, reader.Size(), [](std::string line) { return line.rfind("new", 0) == 0; }, &probes);
        // Reading starts after the line that holds the result: no kept line is lost, and few old
        // lines are read again.
        reader.Seek(start);
        reader.ReadLine();
        EXPECT_LE(reader.Position(), starts[321]);
        EXPECT_GE(reader.Position(), starts[319]);
        EXPECT_LE(probes, 16);
    }
}

TEST(FindStartTest, AnEmptyOrTinyLogStartsAtItsBeginning) {
    LogFolder folder;
    for (const std::string& content : {std::string(), std::string("x"), std::string("only line\n")}) {
        WriteLog(folder / "log", content);
        LogFileReader reader;
        reader.Open(folder / "log");
        EXPECT_EQ(FindStart(reader, 0, reader.Size(), [](std::string) { return false; }), 0);
    }
}

} // namespace
} // namespace kavel

namespace kavel {
namespace {

// A view whose tree update fails on the main thread. It holds the reader at its next safe
// point first, so the test can read the state text before the reader writes another one.
class FailingView final : public ReaderView {
public:
    void SetServerNodeStatus(Server& server, ServerStatus status) override {
        if (status != ServerStatus::Reading || Failed)
            return;
        Failed = true;
        if (LogReader* reader = Space().Readers().ReaderOf(server))
            reader->Suspend();
        throw std::runtime_error("Baumknoten nicht erreichbar");
    }
    void ShowPopup(const std::string&, const std::string&, VisitorMark) override {}
    bool Failed = false;
};

TEST_F(LogReaderTest, AFailureInsideASynchronizedCallBecomesTheStateTextAndTheReaderGoesOn) {
    FailingView failing;
    Space().Readers().SetView(&failing);
    const auto log = Folder / "access.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html") + NcsaLine(2, 1, "/b.html"));
    LogReader& reader = Space().Readers().Start(AddServer(log));

    ASSERT_TRUE(RunUntil([&] { return failing.Failed && reader.Holding(); }));
    EXPECT_EQ(reader.State(), "Baumknoten nicht erreichbar");
    reader.ResumeSuspended();
    EXPECT_TRUE(RunUntil([&] { return Taken() == 2; }));
    Space().Readers().SetView(&View);
}

} // namespace
} // namespace kavel

namespace kavel {
namespace {

// The system's count of the times the thread gave up the processor while waiting.
std::int64_t VoluntarySwitches(std::int64_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
            return std::stoll(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

// A quiet log costs a reader one wake-up per poll and the main thread nothing: the pause is
// one wait, not a wake-up every half second, and a pass that finds no line shows no images.
TEST_F(LogReaderTest, AQuietReaderWakesOnceAPollAndAsksTheMainThreadNothing) {
    const auto log = Folder / "quiet.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    Server& server = AddServer(log);
    server.SetTimeLogPollCycleInMs(2500);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1 && reader.PassCount() >= 1; }));
    const std::size_t images = View.Images.size();
    const std::int64_t tid = reader.SystemThreadId();
    ASSERT_GT(tid, 0);
    const std::uint64_t passes = reader.PassCount();
    const std::int64_t before = VoluntarySwitches(tid);
    // Two pauses of five slices each and a pass between them.
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= passes + 2; }));
    const std::int64_t woken = VoluntarySwitches(tid) - before;
    EXPECT_LE(woken, 4) << "a pause that wakes every slice";
    EXPECT_EQ(View.Images.size(), images);

    // Lines: the node shows reading, then idle again.
    AppendLog(log, NcsaLine(2, 1, "/b.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return Taken() == 2 && View.Images.size() == images + 2; }));
    EXPECT_EQ(View.Images[images].Status, ServerStatus::Reading);
    EXPECT_EQ(View.Images[images + 1].Status, ServerStatus::Idle);
}

// A log with nothing to keep costs no entry memory, and what a reader kept goes back once the
// main thread removed it.
TEST_F(LogReaderTest, EntryMemoryIsTakenForKeptLinesOnlyAndGivenBack) {
    const std::uint64_t before = MappedEntryBlockBytes();
    const auto old = Folder / "old.log";
    std::string lines;
    for (int i = 0; i < 500; ++i) {
        lines += NcsaLine(i % 200, i % 60, "/old.html", 1);
    }
    WriteLog(old, lines);
    LogReader& quiet = Space().Readers().Start(AddServer(old, LogFormat::Ncsa, "old"));
    ASSERT_TRUE(RunUntil([&] { return quiet.PassCount() >= 1; }));
    EXPECT_GT(quiet.ProbeCount(), 0);
    EXPECT_EQ(MappedEntryBlockBytes(), before);

    const auto log = Folder / "kept.log";
    WriteLog(log, NcsaLine(1, 0, "/a.html"));
    LogReader& reader = Space().Readers().Start(AddServer(log));
    ASSERT_TRUE(RunUntil([&] { return Taken() == 1 && reader.PassCount() >= 1; }));
    // One small block, not a block as large as a busy reader's.
    EXPECT_GT(MappedEntryBlockBytes(), before);
    EXPECT_LE(MappedEntryBlockBytes(), before + (64u << 10));
    Space().Entries().Remove(Space().Entries().First());
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return MappedEntryBlockBytes() == before; }));
}

// A resolver whose answers the test scripts per address: at once, after a release, or never
// (until the end of the test). It counts the questions and how many were open at once. Its
// state outlives the test, as a question that never ended may still be asked of it.
class ScriptedResolver {
public:
    enum class Answer { Now, AfterRelease, Never };
    struct Script {
        std::map<std::string, Answer> Answers;
        // Every question waits until this many are open at once (or the release).
        int TogetherWith = 0;
    };

    explicit ScriptedResolver(Script script)
        : State_(std::make_shared<State>()) {
        State_->Plan = std::move(script);
        Space().Names().SetResolver([state = State_](std::string_view address) -> std::optional<std::string> {
            std::unique_lock lock(state->Lock);
            const std::string text(address);
            ++state->Asked[text];
            ++state->Open;
            state->MostOpen = std::max(state->MostOpen, state->Open);
            state->Together = state->Together || state->Open >= state->Plan.TogetherWith;
            state->Changed.notify_all();
            const auto found = state->Plan.Answers.find(text);
            const Answer answer = found == state->Plan.Answers.end() ? Answer::Now : found->second;
            if (answer == Answer::Now && state->Plan.TogetherWith > 0) {
                state->Changed.wait_for(lock, 10s, [&] { return state->Together || state->Released; });
            } else if (answer == Answer::AfterRelease) {
                state->Changed.wait(lock, [&] { return state->Released; });
            } else if (answer == Answer::Never) {
                state->Changed.wait(lock, [&] { return state->Ended; });
            }
            --state->Open;
            if (answer == Answer::Never) {
                return std::nullopt;
            }
            return "host-" + text.substr(text.rfind('.') + 1) + ".example";
        });
        Space().Names().Clear();
    }
    ~ScriptedResolver() {
        {
            std::lock_guard lock(State_->Lock);
            State_->Released = true;
            State_->Ended = true;
        }
        State_->Changed.notify_all();
        Space().Names().SetResolver(
            [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
        Space().Names().Clear();
    }

    void Release() {
        {
            std::lock_guard lock(State_->Lock);
            State_->Released = true;
        }
        State_->Changed.notify_all();
    }
    int Asked(const std::string& address) const {
        std::lock_guard lock(State_->Lock);
        const auto found = State_->Asked.find(address);
        return found == State_->Asked.end() ? 0 : found->second;
    }
    int AskedInAll() const {
        std::lock_guard lock(State_->Lock);
        int all = 0;
        for (const auto& [address, count] : State_->Asked) {
            all += count;
        }
        return all;
    }
    int MostOpen() const {
        std::lock_guard lock(State_->Lock);
        return State_->MostOpen;
    }

private:
    struct State {
        std::mutex Lock;
        std::condition_variable Changed;
        ScriptedResolver::Script Plan;
        std::map<std::string, int> Asked;
        int Open = 0;
        int MostOpen = 0;
        // Once as many were open as the script asks, every question is answered.
        bool Together = false;
        bool Released = false;
        bool Ended = false;
    };
    std::shared_ptr<State> State_;
};

// Readers with name look-up on and a deadline of the test's choosing.
class LogReaderNamesTest : public LogReaderTest {
protected:
    void UseNames(bool resolve, std::int32_t deadlineMs) {
        if (Options.Count() == 0) {
            Options.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, resolve);
            Options.AddItem("Options", "MiscDnsDeadlineMs", SettingKind::Integer, deadlineMs);
        }
        Options.SetValue("MiscDnsResolve", resolve);
        Options.SetValue("MiscDnsDeadlineMs", deadlineMs);
        Space().SetOptions(&Options);
    }
    void TearDown() override {
        LogReaderTest::TearDown();
        Space().SetOptions(nullptr);
    }
    // The host names of the queued entries, oldest first.
    static std::vector<std::string> HostNames() {
        std::vector<std::string> names;
        for (const LogEntry* entry = Space().Entries().First(); entry != nullptr;
             entry = Space().Entries().Next(entry)) {
            names.emplace_back(entry->Access()->HostName());
        }
        return names;
    }

    SettingsStore Options;
};

// The new addresses of a pass are asked together: each question here is answered only once
// all eight are open, which one question at a time would never reach before the deadline.
TEST_F(LogReaderNamesTest, TheNewAddressesOfAPassAreLookedUpTogether) {
    UseNames(true, 8000);
    ScriptedResolver resolver({{}, 8});
    const auto log = Folder / "access.log";
    std::string lines;
    for (int i = 1; i <= 8; ++i) {
        lines += NcsaLine(i, i, "/p.html");
    }
    WriteLog(log, lines);
    LogReader& reader = Space().Readers().Start(AddServer(log));
    ASSERT_TRUE(RunUntil([&] { return Taken() == 8 && reader.PassCount() >= 1; }));
    EXPECT_EQ(resolver.MostOpen(), 8);
    const std::vector<std::string> names = HostNames();
    for (int i = 1; i <= 8; ++i) {
        EXPECT_EQ(names[static_cast<std::size_t>(i - 1)], "host-" + std::to_string(i) + ".example");
    }
}

// A name that is not there by the deadline leaves its line shown as the address, in its place
// among the lines; the lines behind it get their names. A late answer serves later lines.
TEST_F(LogReaderNamesTest, ALineIsShownWithoutTheNameThatMissedItsDeadline) {
    for (const auto late : {ScriptedResolver::Answer::AfterRelease, ScriptedResolver::Answer::Never}) {
        SCOPED_TRACE(late == ScriptedResolver::Answer::Never ? "never answered" : "answered late");
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Entries().Clear();
        TakenLines.clear();
        UseNames(true, 300);
        ScriptedResolver resolver({{{"10.0.0.1", late}}, 0});
        const auto log = Folder / "access.log";
        WriteLog(log, "");
        LogReader& reader = Space().Readers().Start(AddServer(log));
        ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));

        AppendLog(log, NcsaLine(1, 1, "/late.html") + NcsaLine(2, 2, "/next.html"));
        reader.PollNow();
        // Taken while the first question is still open: its deadline, not its answer, let it go.
        ASSERT_TRUE(RunUntil([&] { return Taken() == 2; }));
        EXPECT_EQ(TakenLines[0] + "\n", NcsaLine(1, 1, "/late.html"));
        EXPECT_EQ(HostNames(), (std::vector<std::string>{"10.0.0.1", "host-2.example"}));
        EXPECT_FALSE(Space().Entries().First()->Access()->Resolved());
        EXPECT_EQ(resolver.Asked("10.0.0.1"), 1);
        if (late == ScriptedResolver::Answer::Never) {
            continue;
        }
        resolver.Release();
        ASSERT_TRUE(test::WaitUntil([] { return Space().Names().AllAnswered({"10.0.0.1"}); }));
        AppendLog(log, NcsaLine(1, 3, "/again.html"));
        reader.PollNow();
        ASSERT_TRUE(RunUntil([&] { return Taken() == 3; }));
        EXPECT_EQ(HostNames().back(), "host-1.example");
        EXPECT_EQ(resolver.Asked("10.0.0.1"), 1);
    }
}

// Lines that wait for their names do not hold the reading back: what is written meanwhile is
// read at the next poll, its names asked for while the earlier line still waits.
TEST_F(LogReaderNamesTest, LinesWrittenWhileOthersWaitForNamesAreReadAtTheNextPoll) {
    UseNames(true, 600000);
    ScriptedResolver resolver(
        {{{"10.0.0.1", ScriptedResolver::Answer::Never}, {"10.0.0.2", ScriptedResolver::Answer::Never}}, 0});
    const auto log = Folder / "access.log";
    WriteLog(log, "");
    Server& server = AddServer(log);
    server.SetTimeLogPollCycleInMs(500);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    AppendLog(log, NcsaLine(1, 1, "/first.html"));
    ASSERT_TRUE(RunUntil([&] { return resolver.Asked("10.0.0.1") == 1; }));
    AppendLog(log, NcsaLine(2, 2, "/second.html"));
    ASSERT_TRUE(RunUntil([&] { return resolver.Asked("10.0.0.2") == 1; }));
    EXPECT_EQ(Taken(), 0u);
}

// A line still waiting for its name when its log is rotated keeps its place ahead of the new
// file's lines, and is shown once its deadline has passed.
TEST_F(LogReaderNamesTest, ALineWaitingForItsNameStaysAheadOfTheRotatedLogsNewLines) {
    UseNames(true, 1000);
    ScriptedResolver resolver({{{"10.0.0.1", ScriptedResolver::Answer::Never}}, 0});
    const auto log = Folder / "access.log";
    test::LogWriter writer(log, "");
    Server& server = AddServer(log);
    server.SetTimeLogPollCycleInMs(500);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    AppendLog(log, NcsaLine(1, 1, "/old.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return resolver.Asked("10.0.0.1") == 1; }));
    writer.RotateAway();
    WriteLog(log, NcsaLine(2, 2, "/new.html"));
    reader.PollNow();

    ASSERT_TRUE(RunUntil([&] { return Taken() == 2; }));
    EXPECT_EQ(TakenLines[0] + "\n", NcsaLine(1, 1, "/old.html"));
    EXPECT_EQ(TakenLines[1] + "\n", NcsaLine(2, 2, "/new.html"));
    EXPECT_EQ(HostNames(), (std::vector<std::string>{"10.0.0.1", "host-2.example"}));
}

// A line that waits for its name while its log is gone is shown at its deadline; the reader
// then says again that its log is missing, and the node goes on showing it.
TEST_F(LogReaderNamesTest, ALineTakenWhileTheLogIsMissingLeavesTheMissingLogShown) {
    UseNames(true, 300);
    ScriptedResolver resolver({{{"10.0.0.1", ScriptedResolver::Answer::Never}}, 0});
    const auto log = Folder / "access.log";
    WriteLog(log, "");
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    AppendLog(log, NcsaLine(1, 1, "/gone.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return resolver.Asked("10.0.0.1") == 1; }));
    std::filesystem::remove(log);
    reader.PollNow();

    ASSERT_TRUE(RunUntil([&] { return Taken() == 1; }));
    EXPECT_TRUE(RunUntil([&] { return reader.State() == reader_state::FileMissing; })) << reader.State();
    ASSERT_FALSE(View.Images.empty());
    EXPECT_EQ(View.Images.back().Status, ServerStatus::Missing);
    EXPECT_TRUE(server.LogFileMissing());
}

// The end never waits for a look-up: a reader whose line waits for a name that will never
// come, with a deadline far away, ends at once.
TEST_F(LogReaderNamesTest, StoppingAReaderWhoseLineWaitsForANameEndsItAtOnce) {
    UseNames(true, 600000);
    ScriptedResolver resolver({{{"10.0.0.1", ScriptedResolver::Answer::Never}}, 0});
    const auto log = Folder / "access.log";
    WriteLog(log, "");
    Server& server = AddServer(log);
    LogReader& reader = Space().Readers().Start(server);
    ASSERT_TRUE(RunUntil([&] { return reader.PassCount() >= 1; }));
    AppendLog(log, NcsaLine(1, 1, "/a.html"));
    reader.PollNow();
    ASSERT_TRUE(RunUntil([&] { return resolver.Asked("10.0.0.1") == 1; }));

    const auto begin = std::chrono::steady_clock::now();
    Space().Readers().StopServer(server);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
    EXPECT_EQ(Taken(), 0u);
}

// The start search parses its probes without names; with look-up off no line ever waits and
// nothing is asked.
TEST_F(LogReaderNamesTest, TheStartSearchAndALogWithoutLookUpAskNoNames) {
    for (const bool resolve : {true, false}) {
        SCOPED_TRACE(resolve ? "look-up on" : "look-up off");
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Entries().Clear();
        TakenLines.clear();
        UseNames(resolve, 600000);
        ScriptedResolver resolver({{{"10.0.0.7", ScriptedResolver::Answer::Never}}, 0});
        const auto log = Folder / "mixed.log";
        std::string content;
        for (int i = 0; i < 2000; ++i) {
            content += NcsaLine(100 + i % 100, i % 60, "/old.html", 1);
        }
        content += NcsaLine(7, 0, "/new.html");
        WriteLog(log, content);
        LogReader& reader = Space().Readers().Start(AddServer(log));
        if (resolve) {
            // Only the kept line is asked for; it waits for its name until the reader stops.
            ASSERT_TRUE(RunUntil([&] { return resolver.Asked("10.0.0.7") == 1; }));
            EXPECT_GT(reader.ProbeCount(), 0);
            EXPECT_EQ(resolver.AskedInAll(), 1);
            EXPECT_EQ(Taken(), 0u);
        } else {
            ASSERT_TRUE(RunUntil([&] { return Taken() == 1 && reader.PassCount() >= 1; }));
            EXPECT_EQ(resolver.AskedInAll(), 0);
        }
    }
}

} // namespace
} // namespace kavel
