#include "acquisition/ReaderHandshake.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "platform/Clock.h"
#include "support/ReaderTestSupport.h"
#include "support/TestWorkspace.h"

#include <cstdio>
#include <gtest/gtest.h>

using kavel::test::Space;

namespace kavel {
namespace {

constexpr DateTime TestNow{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

// The readers here are never started: the main thread's half of the handshake is driven by hand,
// in both orders of notification and suspension.
class ReaderHandshakeTest : public ::testing::Test {
protected:
    void SetUp() override { Space().Entries().Clear(); }
    void TearDown() override { Space().Entries().Clear(); }

    void Queue(int count) {
        for (int i = 0; i < count; ++i) {
            char line[160];
            std::snprintf(
                line, sizeof line,
                "10.0.0.%d - - [10/Mar/2024:11:%02d:00 +0000] \"GET /p.html HTTP/1.1\" 200 1 \"-\" \"-\"",
                Next_, Next_ % 60);
            ++Next_;
            std::unique_ptr<LogEntry> entry = MakeEntry(line, Server_, EntrySettings::Of(Space()));
            ASSERT_NE(entry, nullptr);
            Space().Entries().Append(std::move(entry));
        }
    }

    test::ScopedNoNameLookups NoLookups;
    platform::ManualClock Clock{TestNow};
    platform::ScopedClock ClockInstalled{Clock};
    Server Server_;
    std::vector<std::string> Taken;
    int TakeOvers = 0;
    ReaderHandshake Handshake{Space(), [this](LogEntry& first) {
                                  ++TakeOvers;
                                  TakeOverNewEntries(Space().Entries(), first, [this](LogEntry& entry) {
                                      Taken.push_back(entry.Line);
                                  });
                              }};

private:
    int Next_ = 1;
};

TEST_F(ReaderHandshakeTest, AReaderSuspendedBeforeTheNotificationIsResumedAtOnce) {
    LogReader reader(Space());
    Queue(3);
    Handshake.SuspendReader(reader);
    EXPECT_TRUE(reader.Suspended());
    Handshake.OnReaderNotify(reader);
    EXPECT_FALSE(reader.Suspended());
    EXPECT_EQ(Handshake.PendingCount(), 0u);
    EXPECT_EQ(Taken.size(), 3u);
}

TEST_F(ReaderHandshakeTest, AReaderNotifyingBeforeItsSuspensionIsResumedAtTheNextIdleMoment) {
    LogReader reader(Space());
    Queue(2);
    Handshake.OnReaderNotify(reader);
    EXPECT_EQ(Taken.size(), 2u);
    EXPECT_EQ(Handshake.PendingCount(), 1u);
    // Not yet asleep: the idle moment leaves it in the list.
    EXPECT_EQ(Handshake.ResumePendingReader(), platform::IdleResult::Done);
    EXPECT_EQ(Handshake.PendingCount(), 1u);

    Handshake.SuspendReader(reader);
    EXPECT_TRUE(reader.Suspended());
    Handshake.ResumePendingReader();
    EXPECT_FALSE(reader.Suspended());
    EXPECT_EQ(Handshake.PendingCount(), 0u);
}

TEST_F(ReaderHandshakeTest, EachIdleMomentResumesAtMostOneReader) {
    LogReader first(Space());
    LogReader second(Space());
    Handshake.OnReaderNotify(first);
    Handshake.OnReaderNotify(second);
    Handshake.SuspendReader(second);
    Handshake.SuspendReader(first);

    Handshake.ResumePendingReader();
    EXPECT_FALSE(first.Suspended());
    EXPECT_TRUE(second.Suspended());
    Handshake.ResumePendingReader();
    EXPECT_FALSE(second.Suspended());
    EXPECT_EQ(Handshake.PendingCount(), 0u);
}

TEST_F(ReaderHandshakeTest, WhileClosingNotificationsAreIgnored) {
    LogReader reader(Space());
    Queue(4);
    Handshake.SetClosing(true);
    Handshake.SuspendReader(reader);
    Handshake.OnReaderNotify(reader);
    EXPECT_EQ(TakeOvers, 0);
    EXPECT_TRUE(reader.Suspended());
    EXPECT_EQ(Handshake.PendingCount(), 0u);
    EXPECT_TRUE(Space().Entries().Last()->IsNew);
}

TEST_F(ReaderHandshakeTest, OnlyTheNewEntriesAreTakenOverAndThenAreNoLongerNew) {
    LogReader reader(Space());
    Handshake.OnReaderNotify(reader);
    EXPECT_EQ(TakeOvers, 0);

    Queue(3);
    Handshake.SuspendReader(reader);
    Handshake.OnReaderNotify(reader);
    Queue(2);
    Handshake.SuspendReader(reader);
    Handshake.OnReaderNotify(reader);
    EXPECT_EQ(TakeOvers, 2);
    ASSERT_EQ(Taken.size(), 5u);
    EXPECT_EQ(Space().Entries().FirstNew(), nullptr);
    for (LogEntry* entry = Space().Entries().First(); entry != nullptr;
         entry = Space().Entries().Next(entry)) {
        EXPECT_FALSE(entry->IsNew);
    }
}

TEST_F(ReaderHandshakeTest, AReaderFreedWhileItWaitsForItsResumptionIsForgotten) {
    auto gone = std::make_unique<LogReader>(Space());
    LogReader stays(Space());
    Handshake.OnReaderNotify(*gone);
    Handshake.OnReaderNotify(stays);
    Handshake.SuspendReader(stays);
    gone.reset();
    Handshake.ResumePendingReader();
    EXPECT_FALSE(stays.Suspended());
    EXPECT_EQ(Handshake.PendingCount(), 0u);
}

TEST_F(ReaderHandshakeTest, AStoppedReaderIsNotSuspendedAgain) {
    LogReader reader(Space());
    reader.Terminate();
    Handshake.SuspendReader(reader);
    EXPECT_FALSE(reader.Suspended());
}

} // namespace
} // namespace kavel
