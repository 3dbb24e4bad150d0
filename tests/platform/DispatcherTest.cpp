#include "platform/Dispatcher.h"

#include "support/ReaderTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kavel::platform {
namespace {

using namespace std::chrono_literals;
using test::RunLoopUntil;

TEST(LoopDispatcherTest, PostedCallsRunOnTheMainThreadInTheirOrder) {
    LoopDispatcher loop;
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) {
            loop.Post([&, i] {
                allOnMain = allOnMain && loop.IsMainThread();
                order.push_back(i);
            });
        }
    });
    poster.join();
    ASSERT_TRUE(RunLoopUntil(loop, [&] { return order.size() == 50; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(LoopDispatcherTest, SynchronizeBlocksTheCallerUntilTheMainThreadRanIt) {
    LoopDispatcher loop;
    std::atomic<bool> ran{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> ranOnMain{false};
    std::thread caller([&] {
        loop.Synchronize([&] {
            ranOnMain = loop.IsMainThread();
            ran = true;
        });
        returned = true;
    });
    // While the main thread does not look at its calls, the caller waits.
    ASSERT_TRUE(test::WaitUntil([&] { return loop.HasPendingSynchronizedCalls(); }));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(returned);
    EXPECT_EQ(loop.ProcessSynchronizedCalls(), 1u);
    caller.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(returned);
}

TEST(LoopDispatcherTest, SynchronizeOnTheMainThreadRunsAtOnce) {
    LoopDispatcher loop;
    bool ran = false;
    loop.Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(LoopDispatcherTest, AnExceptionOfASynchronizedCallReachesTheCaller) {
    LoopDispatcher loop;
    std::atomic<bool> caught{false};
    std::atomic<bool> finished{false};
    std::thread caller([&] {
        try {
            loop.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& error) {
            caught = std::string(error.what()) == "boom";
        }
        finished = true;
    });
    ASSERT_TRUE(RunLoopUntil(loop, [&] { return finished.load(); }));
    caller.join();
    EXPECT_TRUE(caught);
}

// The main thread waits for a thread that is itself waiting in a synchronized call: the wait runs
// the call, so neither blocks the other.
TEST(LoopDispatcherTest, WaitingForAThreadRunsItsSynchronizedCalls) {
    LoopDispatcher loop;
    ScopedDispatcher installed(loop);
    std::atomic<int> calls{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            loop.Synchronize([&] { ++calls; });
        }
        finished = true;
        loop.Wake();
    });
    bool postedRan = false;
    loop.Post([&] { postedRan = true; });
    loop.WaitProcessingSynchronized([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(calls, 20);
    // Posted calls wait for the loop.
    EXPECT_FALSE(postedRan);
    loop.ProcessPendingEvents();
    EXPECT_TRUE(postedRan);
}

TEST(LoopDispatcherTest, TheIdleHandlerRunsOnceAfterEachBatchOfEventsWhenItIsDone) {
    LoopDispatcher loop;
    int idleCalls = 0;
    loop.SetIdleHandler([&] {
        ++idleCalls;
        return IdleResult::Done;
    });
    // Nothing pending: one idle call at the start, then the loop sleeps until the timeout.
    EXPECT_FALSE(loop.RunUntil({}, 30ms));
    EXPECT_EQ(idleCalls, 1);
    int posted = 0;
    loop.Post([&] { ++posted; });
    ASSERT_TRUE(RunLoopUntil(loop, [&] { return posted == 1 && idleCalls >= 2; }));
    const int afterPost = idleCalls;
    EXPECT_FALSE(loop.RunUntil({}, 20ms));
    EXPECT_LE(idleCalls, afterPost + 1);
}

TEST(LoopDispatcherTest, AnIdleHandlerThatWantsMoreIsCalledAgainWithoutAnEvent) {
    LoopDispatcher loop;
    int idleCalls = 0;
    loop.SetIdleHandler([&] {
        ++idleCalls;
        return idleCalls < 5 ? IdleResult::CallAgain : IdleResult::Done;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return idleCalls == 5; }, 10s));
}

TEST(LoopDispatcherTest, QuitFromAnotherThreadEndsRun) {
    LoopDispatcher loop;
    std::thread quitter([&] { loop.Quit(); });
    loop.Run();
    quitter.join();
    SUCCEED();
}

TEST(LoopDispatcherTest, RunUntilReportsTheTimeout) {
    LoopDispatcher loop;
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 10ms));
    EXPECT_TRUE(loop.RunUntil([] { return true; }, 10ms));
}

TEST(LoopDispatcherTest, ManyThreadsSynchronizeAtOnce) {
    LoopDispatcher loop;
    int counter = 0; // touched on the main thread only
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                loop.Synchronize([&] { ++counter; });
            }
            ++done;
        });
    }
    ASSERT_TRUE(RunLoopUntil(loop, [&] { return done == 8; }));
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 800);
}

TEST(MainDispatcherTest, IsInstalledForTheScopeOnly) {
    EXPECT_FALSE(HasMainDispatcher());
    EXPECT_THROW(MainDispatcher(), std::logic_error);
    {
        LoopDispatcher loop;
        ScopedDispatcher installed(loop);
        EXPECT_EQ(&MainDispatcher(), &loop);
    }
    EXPECT_FALSE(HasMainDispatcher());
}

} // namespace
} // namespace kavel::platform
