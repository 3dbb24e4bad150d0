#include "net/LookupThreads.h"

#include "support/ReaderTestSupport.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace kavel {
namespace {

// Tasks that hold their thread until the gate opens, counting how many run at once.
struct Gate {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Open = false;
    int Running = 0;
    int MostRunning = 0;
    int Done = 0;

    void Pass() {
        std::unique_lock lock(Lock);
        ++Running;
        MostRunning = std::max(MostRunning, Running);
        Changed.notify_all();
        Changed.wait(lock, [this] { return Open; });
        --Running;
        ++Done;
    }
    void Release() {
        {
            std::lock_guard lock(Lock);
            Open = true;
        }
        Changed.notify_all();
    }
    int Count(int Gate::*field) {
        std::lock_guard lock(Lock);
        return this->*field;
    }
};

// Threads are started as tasks come, up to the limit; tasks beyond it wait, and beyond the
// queue's bound they are refused at once rather than making the caller wait.
TEST(LookupThreads, RunTogetherUpToTheLimitAndRefuseWhatTheQueueCannotHold) {
    const auto gate = std::make_shared<Gate>();
    LookupThreads threads(3, 2);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(threads.TryPost([gate] { gate->Pass(); }));
    }
    ASSERT_TRUE(test::WaitUntil([&] { return gate->Count(&Gate::Running) == 3; }));
    EXPECT_TRUE(threads.TryPost([gate] { gate->Pass(); }));
    EXPECT_TRUE(threads.TryPost([gate] { gate->Pass(); }));
    EXPECT_FALSE(threads.TryPost([gate] { gate->Pass(); }));
    EXPECT_EQ(threads.QueuedCount(), 2u);
    EXPECT_EQ(threads.ThreadCount(), 3u);

    gate->Release();
    ASSERT_TRUE(test::WaitUntil([&] { return gate->Count(&Gate::Done) == 5; }));
    EXPECT_EQ(gate->Count(&Gate::MostRunning), 3);
    EXPECT_EQ(threads.QueuedCount(), 0u);
}

// The object may go while a task still runs: the task ends normally and its thread with it.
TEST(LookupThreads, AThreadOutlivesItsPoolWithoutHarm) {
    const auto gate = std::make_shared<Gate>();
    {
        LookupThreads threads(1, 1);
        ASSERT_TRUE(threads.TryPost([gate] { gate->Pass(); }));
        ASSERT_TRUE(test::WaitUntil([&] { return gate->Count(&Gate::Running) == 1; }));
    }
    gate->Release();
    EXPECT_TRUE(test::WaitUntil([&] { return gate->Count(&Gate::Done) == 1; }));
}

} // namespace
} // namespace kavel
