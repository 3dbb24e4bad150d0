#include "acquisition/ReaderRegistry.h"

#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "platform/Dispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TestWorkspace.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>

using kavel::test::Space;

namespace kavel {
namespace {

// The readers here watch logs that do not exist and do not look for them again: each sleeps at
// once until it is stopped.
class ReaderRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeepFirstFile.AddItem("Options", "LogFollowNewFiles", SettingKind::Boolean, false);
        Space().SetOptions(&KeepFirstFile);
    }
    void TearDown() override {
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().SetOptions(nullptr);
    }

    Server& AddServer(const std::string& name) {
        auto server = std::make_unique<Server>();
        server->SetName(name);
        server->SetLogFileName((Folder / (name + ".log")).string());
        server->SetActive(true);
        Servers.push_back(std::move(server));
        return *Servers.back();
    }

    void WaitAsleep(LogReader& reader) {
        ASSERT_TRUE(test::RunLoopUntil(Loop, [&] { return reader.Holding(); }));
    }

    SettingsStore KeepFirstFile;
    platform::LoopDispatcher Loop;
    platform::ScopedDispatcher LoopInstalled{Loop};
    test::LogFolder Folder;
    std::vector<std::unique_ptr<Server>> Servers;
};

TEST_F(ReaderRegistryTest, StartReaderFillsTheFirstFreeSlotAndLinksTheServer) {
    Server& a = AddServer("a");
    Server& b = AddServer("b");
    Server& c = AddServer("c");
    LogReader& readerA = Space().Readers().Start(a);
    LogReader& readerB = Space().Readers().Start(b);
    EXPECT_EQ(a.Thread(), &readerA);
    EXPECT_EQ(Space().Readers().ReaderOf(b), &readerB);
    ASSERT_EQ(Space().Readers().Slots().size(), 2u);

    Space().Readers().StopServer(a);
    EXPECT_EQ(a.Thread(), nullptr);
    EXPECT_EQ(Space().Readers().ReaderOf(a), nullptr);
    EXPECT_FALSE(Space().Readers().Slots()[0].Used);

    Space().Readers().Start(c);
    ASSERT_EQ(Space().Readers().Slots().size(), 2u);
    EXPECT_EQ(Space().Readers().Slots()[0].Server, &c);
    EXPECT_EQ(Space().Readers().UsedCount(), 2u);
}

TEST_F(ReaderRegistryTest, StopAllReadersShowsEachServerInTableOrder) {
    const std::vector<std::string> names = {"Alpha", "Beta \"Zwei\"", "Gamma"};
    for (const std::string& name : names) {
        WaitAsleep(Space().Readers().Start(AddServer(name)));
    }
    std::vector<std::string> shown;
    Space().Readers().StopAll([&](const std::string& text) { shown.push_back(text); });
    EXPECT_EQ(shown,
              (std::vector<std::string>{test::StoppingStatus("Alpha"), test::StoppingStatus("Beta \"Zwei\""),
                                        test::StoppingStatus("Gamma")}));
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
    for (const auto& server : Servers) {
        EXPECT_EQ(server->Thread(), nullptr);
    }
}

// Every reader is asked to stop before the first is waited for, so that they all end together.
TEST_F(ReaderRegistryTest, StopAllReadersAsksEveryReaderBeforeItWaitsForOne) {
    std::vector<LogReader*> readers;
    for (const char* name : {"a", "b", "c", "d"}) {
        readers.push_back(&Space().Readers().Start(AddServer(name)));
        WaitAsleep(*readers.back());
    }
    std::vector<int> stoppedAtEachStatus;
    Space().Readers().StopAll([&](const std::string&) {
        int stopped = 0;
        for (const ReaderSlot& slot : Space().Readers().Slots()) {
            stopped += slot.Used && slot.Thread->Terminated() ? 1 : 0;
        }
        stoppedAtEachStatus.push_back(stopped);
    });
    EXPECT_EQ(stoppedAtEachStatus, (std::vector<int>{4, 3, 2, 1}));
}

// Thousands of servers start, rest, and end together within the deadline.
TEST_F(ReaderRegistryTest, ThreeThousandReadersStartAndStopWithinTheDeadline) {
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer follows every lock of every thread: fewer readers keep its run within
    // the deadline.
    constexpr int Count = 500;
#else
    constexpr int Count = 3000;
#endif
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < Count; ++i) {
        Space().Readers().Start(AddServer("s" + std::to_string(i)));
    }
    ASSERT_TRUE(test::RunLoopUntil(Loop, [] {
        for (const ReaderSlot& slot : Space().Readers().Slots()) {
            if (!slot.Thread->Holding()) {
                return false;
            }
        }
        return true;
    }));
    Space().Readers().StopAll();
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(60));
}

// The system's count of the times the thread gave up the processor while waiting.
long VoluntarySwitches(std::int64_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

// At the end of the program the readers stand still where they rest, without being woken, and
// never go on: the table is empty, the servers let go of them, each server's text was shown.
TEST_F(ReaderRegistryTest, ParkAllReadersLeavesRestingReadersWhereTheyAreForGood) {
    std::vector<LogReader*> readers;
    std::vector<std::int64_t> tids;
    for (const char* name : {"a", "b", "c"}) {
        readers.push_back(&Space().Readers().Start(AddServer(name)));
        WaitAsleep(*readers.back());
        tids.push_back(readers.back()->SystemThreadId());
    }
    std::vector<long> before;
    for (const std::int64_t tid : tids) {
        before.push_back(VoluntarySwitches(tid));
    }
    std::vector<std::string> shown;
    Space().Readers().ParkAll([&](const std::string& text) { shown.push_back(text); });
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_EQ(Space().Readers().UsedCount(), 0u);
    for (const auto& server : Servers) {
        EXPECT_EQ(server->Thread(), nullptr);
    }
    // Parked readers live on, untouched: their objects are never freed.
    ASSERT_TRUE(test::RunLoopUntil(Loop, [] { return true; }));
    for (std::size_t i = 0; i < readers.size(); ++i) {
        EXPECT_EQ(VoluntarySwitches(tids[i]), before[i]) << "a parked reader was woken";
        EXPECT_FALSE(readers[i]->Finished());
        EXPECT_EQ(readers[i]->State(), "Schlafend");
    }
}

TEST_F(ReaderRegistryTest, GetStateGivesTheReadersStateText) {
    LogReader& reader = Space().Readers().Start(AddServer("a"));
    WaitAsleep(reader);
    EXPECT_EQ(ReaderStateText(reader), "Schlafend");
    LogReader created(Space());
    EXPECT_EQ(ReaderStateText(created), reader_state::Created);
}

TEST_F(ReaderRegistryTest, ClearingTheTableStopsWhatStillRuns) {
    WaitAsleep(Space().Readers().Start(AddServer("a")));
    WaitAsleep(Space().Readers().Start(AddServer("b")));
    Space().Readers().Clear();
    EXPECT_TRUE(Space().Readers().Slots().empty());
    EXPECT_EQ(Servers[0]->Thread(), nullptr);
}

} // namespace
} // namespace kavel
