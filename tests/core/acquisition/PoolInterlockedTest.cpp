#include "acquisition/PoolInterlocked.h"

#include "platform/Dispatcher.h"
#include "support/ReaderTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace kavel {
namespace {

using test::RunLoopUntil;

class PoolInterlockedTest : public ::testing::Test {
protected:
    platform::LoopDispatcher Loop;
    platform::ScopedDispatcher Installed{Loop};

    // Runs body on a thread of its own while the main loop runs; returns when it ended.
    void OnThread(const std::function<void()>& body) {
        std::atomic<bool> finished{false};
        std::thread thread([&] {
            body();
            finished = true;
        });
        EXPECT_TRUE(RunLoopUntil(Loop, [&] { return finished.load(); }));
        thread.join();
    }
};

TEST_F(PoolInterlockedTest, OneIntegerArrivesAsAnArrayOfOneOnTheMainThread) {
    TPoolInterlockedArgs received;
    bool onMain = false;
    OnThread([&] {
        SynchronizeArgs({std::int64_t{42}}, [&](const TPoolInterlockedArgs& args) {
            received = args;
            onMain = Loop.IsMainThread();
        });
    });
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(std::get<std::int64_t>(received[0]), 42);
    EXPECT_TRUE(onMain);
}

TEST_F(PoolInterlockedTest, ArgumentsOfEveryKindArriveInTheirOrder) {
    int object = 7;
    TPoolInterlockedArgs received;
    OnThread([&] {
        SynchronizeArgs({PointerArg(&object), std::string("Dokumentzugriff"), true, 2.5},
                        [&](const TPoolInterlockedArgs& args) { received = args; });
    });
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(ArgPointer<int>(received[0]), &object);
    EXPECT_EQ(std::get<std::string>(received[1]), "Dokumentzugriff");
    EXPECT_TRUE(std::get<bool>(received[2]));
    EXPECT_DOUBLE_EQ(std::get<double>(received[3]), 2.5);
}

TEST_F(PoolInterlockedTest, AnEmptyListRaisesENoArgsInTheCallerWithoutCalling) {
    bool called = false;
    bool raised = false;
    std::string message;
    OnThread([&] {
        try {
            SynchronizeArgs({}, [&](const TPoolInterlockedArgs&) { called = true; });
        } catch (const ENoArgs& error) {
            raised = true;
            message = error.what();
        }
    });
    EXPECT_TRUE(raised);
    EXPECT_FALSE(called);
    EXPECT_EQ(message, "Keine Aufrufargumente angegeben; normales Synchronize() verwenden");
}

TEST_F(PoolInterlockedTest, FailuresOnTheMainThreadDoNotReachTheCaller) {
    struct TCase {
        const char* Name;
        TPoolInterlockedMethod Method;
    };
    const TCase cases[] = {
        {"throwing method", [](const TPoolInterlockedArgs&) { throw std::runtime_error("kaputt"); }},
        {"no method", TPoolInterlockedMethod{}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        bool returnedNormally = false;
        OnThread([&] {
            try {
                SynchronizeArgs({std::int64_t{1}}, c.Method);
                returnedNormally = true;
            } catch (...) {
            }
        });
        EXPECT_TRUE(returnedNormally);
    }
}

TEST_F(PoolInterlockedTest, DoSyncWithoutAMethodRaisesENoProc) {
    TPoolInterlocked call;
    call.SetArgs({std::int64_t{1}});
    try {
        call.DoSync();
        FAIL() << "ENoProc expected";
    } catch (const ENoProc& error) {
        EXPECT_STREQ(error.what(), "Keine Prozedur angegeben");
    }
}

TEST_F(PoolInterlockedTest, TheCallerWaitsWhileTheMainThreadIsBusy) {
    std::atomic<bool> called{false};
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        SynchronizeArgs({std::int64_t{5}}, [&](const TPoolInterlockedArgs&) { called = true; });
        returned = true;
    });
    // The main thread does something else until the call waits for it.
    ASSERT_TRUE(test::WaitUntil([&] { return Loop.HasPendingSynchronizedCalls(); }));
    EXPECT_FALSE(called);
    EXPECT_FALSE(returned);
    ASSERT_TRUE(RunLoopUntil(Loop, [&] { return returned.load(); }));
    caller.join();
    EXPECT_TRUE(called);
}

} // namespace
} // namespace kavel
