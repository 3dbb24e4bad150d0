#pragma once

#include "platform/ScopedInstall.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kavel::platform {

// What the idle handler tells the loop: wait for the next event, or call it again at once.
enum class IdleResult { Done, CallAgain };

// The main thread's door for the other threads. A reader thread never touches what the main
// thread owns (windows, the server list, the reader table); it either runs a function on the
// main thread and waits for it (a synchronized call) or leaves a function there and goes on
// (a posted message).
class Dispatcher {
public:
    virtual ~Dispatcher() = default;

    // Runs fn on the main thread and blocks the calling thread until it has run. The main
    // thread runs synchronized calls when it is idle and while it waits for another thread to
    // end (WaitProcessingSynchronized). Called on the main thread, fn runs at once. An
    // exception thrown by fn is thrown again in the caller.
    virtual void Synchronize(std::function<void()> fn) = 0;
    // Queues fn for the main thread and returns at once. Posted functions run in the order
    // they were posted, from the main loop only (not while the main thread waits for a thread).
    virtual void Post(std::function<void()> fn) = 0;
    // Main thread: runs the synchronized calls that are waiting now; returns how many ran.
    virtual std::size_t ProcessSynchronizedCalls() = 0;
    // Main thread: blocks until done() holds, running synchronized calls as they arrive.
    // done() is looked at again after each call, after each Wake() and at least every few
    // milliseconds, so that a thread that makes it true as the last thing it does (a reader at
    // its end) need not touch the dispatcher afterwards.
    virtual void WaitProcessingSynchronized(const std::function<bool()>& done) = 0;
    // Any thread: makes a waiting WaitProcessingSynchronized look at its condition again.
    virtual void Wake() = 0;
    virtual bool IsMainThread() const = 0;
    // Main thread: the handler that runs whenever the loop has nothing left to do (the
    // application's idle handler). An empty function removes it.
    virtual void SetIdleHandler(std::function<IdleResult()> handler) = 0;
};

// The process-wide dispatcher. Install it on the main thread before any reader starts and
// uninstall it after every reader ended. MainDispatcher() throws std::logic_error when none is
// installed.
Dispatcher& MainDispatcher();
bool HasMainDispatcher();
void SetMainDispatcher(Dispatcher* dispatcher);

using ScopedDispatcher = ScopedInstall<Dispatcher, &SetMainDispatcher>;

// The waiting room of synchronized calls, shared by the dispatcher implementations. Callers
// wait on their own entry, each on a condition of its own, so that a call that ends wakes its
// caller only (with thousands of readers waiting, one shared condition woke them all for every
// call); the main thread takes the entries out and runs them. onArrival runs
// in the calling thread after a call was queued, without any lock held, so that a dispatcher
// can wake its loop.
class SynchronizedCallQueue {
public:
    explicit SynchronizedCallQueue(std::function<void()> onArrival = {});
    SynchronizedCallQueue(const SynchronizedCallQueue&) = delete;
    SynchronizedCallQueue& operator=(const SynchronizedCallQueue&) = delete;

    // Any thread but the main thread: queue fn and block until the main thread ran it.
    void CallAndWait(std::function<void()> fn);
    std::size_t RunPending();
    bool HasPending() const;
    void WaitUntil(const std::function<bool()>& done);
    void Wake();

private:
    struct Call {
        std::function<void()> Fn;
        std::exception_ptr Error;
        // Both under Lock_; the caller waits on Ended.
        bool Done = false;
        std::condition_variable Ended;
    };
    std::function<void()> OnArrival_;
    mutable std::mutex Lock_;
    std::condition_variable MainCv_;
    std::deque<Call*> Pending_;
    std::uint64_t WakeGeneration_ = 0;
};

// A plain loop for the headless tool and the tests: the thread that creates it is the main
// thread. Run/RunUntil process posted functions, synchronized calls and the idle handler, and
// sleep on a condition variable when nothing is pending.
class LoopDispatcher final : public Dispatcher {
public:
    LoopDispatcher();
    ~LoopDispatcher() override;

    void Synchronize(std::function<void()> fn) override;
    void Post(std::function<void()> fn) override;
    std::size_t ProcessSynchronizedCalls() override;
    void WaitProcessingSynchronized(const std::function<bool()>& done) override;
    void Wake() override;
    bool IsMainThread() const override;
    void SetIdleHandler(std::function<IdleResult()> handler) override;

    // Main thread: runs the loop until Quit().
    void Run();
    // Main thread: runs the loop until done() holds (looked at after every event), the
    // timeout passes or Quit() is called; true when done() held. An empty done runs until
    // the timeout or Quit().
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Main thread: runs what is pending now (and the idle handler once when something ran or
    // nothing was pending), without waiting.
    void ProcessPendingEvents();
    // Any thread: ends Run/RunUntil at its next turn.
    void Quit();
    // Whether a synchronized call waits for the main thread now.
    bool HasPendingSynchronizedCalls() const { return Calls_.HasPending(); }

private:
    bool TakeEvents(std::deque<std::function<void()>>& posted);
    bool RunIdle();

    std::thread::id MainThread_;
    SynchronizedCallQueue Calls_;
    mutable std::mutex Lock_;
    std::condition_variable Cv_;
    std::deque<std::function<void()>> Posted_;
    bool Arrived_ = false;
    bool Quit_ = false;
    std::function<IdleResult()> Idle_;
};

} // namespace kavel::platform
