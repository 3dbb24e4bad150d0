#include "platform/qt/QtDispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kavel::platform {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "QtDispatcherTest";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs Qt's event loop until done() holds (looked at every few milliseconds) or the deadline.
bool RunEventLoopUntil(const std::function<bool()>& done, int deadlineMs = 20000) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(5);
    QTimer::singleShot(deadlineMs, &loop, [&] { loop.quit(); });
    loop.exec();
    return done();
}

class QtDispatcherTest : public ::testing::Test {
protected:
    QtDispatcherTest() { App(); }
};

TEST_F(QtDispatcherTest, PostedCallsRunOnTheMainThreadInTheirOrder) {
    QtDispatcher dispatcher;
    std::vector<int> order;
    bool allOnMain = true;
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) {
            dispatcher.Post([&, i] {
                allOnMain = allOnMain && dispatcher.IsMainThread();
                order.push_back(i);
            });
        }
    });
    poster.join();
    ASSERT_TRUE(RunEventLoopUntil([&] { return order.size() == 50; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

// No timer wakes this loop: only the arrival of the call does, and the call is run when the loop
// is about to block again.
TEST_F(QtDispatcherTest, ASynchronizedCallWakesTheIdleLoopAndRunsThere) {
    QtDispatcher dispatcher;
    QEventLoop loop;
    bool ranOnMain = false;
    bool timedOut = false;
    std::atomic<bool> returned{false};
    QTimer::singleShot(20000, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    std::thread caller([&] {
        dispatcher.Synchronize([&] {
            ranOnMain = dispatcher.IsMainThread();
            loop.quit();
        });
        returned = true;
    });
    loop.exec();
    caller.join();
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(returned);
}

TEST_F(QtDispatcherTest, AnExceptionOfASynchronizedCallReachesTheCaller) {
    QtDispatcher dispatcher;
    std::atomic<bool> caught{false};
    std::atomic<bool> finished{false};
    std::thread caller([&] {
        try {
            dispatcher.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        finished = true;
    });
    ASSERT_TRUE(RunEventLoopUntil([&] { return finished.load(); }));
    caller.join();
    EXPECT_TRUE(caught);
}

TEST_F(QtDispatcherTest, WaitingForAThreadRunsItsSynchronizedCallsButNoPostedOnes) {
    QtDispatcher dispatcher;
    std::atomic<int> calls{0};
    std::atomic<bool> finished{false};
    bool postedRan = false;
    dispatcher.Post([&] { postedRan = true; });
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            dispatcher.Synchronize([&] { ++calls; });
        }
        finished = true;
        dispatcher.Wake();
    });
    dispatcher.WaitProcessingSynchronized([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(calls, 20);
    EXPECT_FALSE(postedRan);
    ASSERT_TRUE(RunEventLoopUntil([&] { return postedRan; }));
}

TEST_F(QtDispatcherTest, TheIdleHandlerRunsWhenTheLoopFallsIdle) {
    QtDispatcher dispatcher;
    int idleCalls = 0;
    dispatcher.SetIdleHandler([&] {
        ++idleCalls;
        return idleCalls < 3 ? IdleResult::CallAgain : IdleResult::Done;
    });
    ASSERT_TRUE(RunEventLoopUntil([&] { return idleCalls >= 3; }));
    dispatcher.SetIdleHandler({});
}

} // namespace
} // namespace kavel::platform
