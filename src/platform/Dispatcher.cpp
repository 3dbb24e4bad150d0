#include "platform/Dispatcher.h"

#include <atomic>
#include <stdexcept>
#include <utility>

namespace kavel::platform {

namespace {
std::atomic<Dispatcher*> InstalledDispatcher{nullptr};
// How often a wait for a condition looks at it again without being woken.
constexpr std::chrono::milliseconds ConditionRecheck{2};
} // namespace

Dispatcher& MainDispatcher() {
    Dispatcher* dispatcher = InstalledDispatcher.load(std::memory_order_acquire);
    if (dispatcher == nullptr) {
        throw std::logic_error("no main-thread dispatcher installed");
    }
    return *dispatcher;
}

bool HasMainDispatcher() {
    return InstalledDispatcher.load(std::memory_order_acquire) != nullptr;
}

void SetMainDispatcher(Dispatcher* dispatcher) {
    InstalledDispatcher.store(dispatcher, std::memory_order_release);
}

SynchronizedCallQueue::SynchronizedCallQueue(std::function<void()> onArrival)
    : OnArrival_(std::move(onArrival)) {}

void SynchronizedCallQueue::CallAndWait(std::function<void()> fn) {
    Call call;
    call.Fn = std::move(fn);
    {
        std::lock_guard lock(Lock_);
        Pending_.push_back(&call);
    }
    MainCv_.notify_one();
    if (OnArrival_) {
        OnArrival_();
    }
    std::unique_lock lock(Lock_);
    call.Ended.wait(lock, [&] { return call.Done; });
    if (call.Error) {
        std::rethrow_exception(call.Error);
    }
}

std::size_t SynchronizedCallQueue::RunPending() {
    std::deque<Call*> calls;
    {
        std::lock_guard lock(Lock_);
        calls.swap(Pending_);
    }
    for (Call* call : calls) {
        std::exception_ptr error;
        try {
            call->Fn();
        } catch (...) {
            error = std::current_exception();
        }
        // Notified under the lock: once it is released the caller may leave and destroy its
        // entry, which is not touched again.
        std::lock_guard lock(Lock_);
        call->Error = std::move(error);
        call->Done = true;
        call->Ended.notify_one();
    }
    return calls.size();
}

bool SynchronizedCallQueue::HasPending() const {
    std::lock_guard lock(Lock_);
    return !Pending_.empty();
}

void SynchronizedCallQueue::WaitUntil(const std::function<bool()>& done) {
    for (;;) {
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(Lock_);
            generation = WakeGeneration_;
        }
        RunPending();
        if (done()) {
            return;
        }
        // A Wake() after the generation was read makes the wait return at once, so a condition
        // that turned true between done() and the wait is not missed; one made true without a
        // Wake() is seen at the next look.
        std::unique_lock lock(Lock_);
        MainCv_.wait_for(lock, ConditionRecheck,
                         [&] { return !Pending_.empty() || WakeGeneration_ != generation; });
    }
}

void SynchronizedCallQueue::Wake() {
    {
        std::lock_guard lock(Lock_);
        ++WakeGeneration_;
    }
    MainCv_.notify_all();
}

LoopDispatcher::LoopDispatcher()
    : MainThread_(std::this_thread::get_id())
    , Calls_([this] {
        {
            std::lock_guard lock(Lock_);
            Arrived_ = true;
        }
        Cv_.notify_all();
    }) {}

LoopDispatcher::~LoopDispatcher() = default;

void LoopDispatcher::Synchronize(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    Calls_.CallAndWait(std::move(fn));
}

void LoopDispatcher::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(Lock_);
        Posted_.push_back(std::move(fn));
    }
    Cv_.notify_all();
}

std::size_t LoopDispatcher::ProcessSynchronizedCalls() {
    return Calls_.RunPending();
}

void LoopDispatcher::WaitProcessingSynchronized(const std::function<bool()>& done) {
    Calls_.WaitUntil(done);
}

void LoopDispatcher::Wake() {
    Calls_.Wake();
    {
        std::lock_guard lock(Lock_);
        Arrived_ = true;
    }
    Cv_.notify_all();
}

bool LoopDispatcher::IsMainThread() const {
    return std::this_thread::get_id() == MainThread_;
}

void LoopDispatcher::SetIdleHandler(std::function<IdleResult()> handler) {
    Idle_ = std::move(handler);
}

void LoopDispatcher::Run() {
    RunUntil({}, std::chrono::milliseconds::max());
}

bool LoopDispatcher::TakeEvents(std::deque<std::function<void()>>& posted) {
    std::lock_guard lock(Lock_);
    posted.swap(Posted_);
    Arrived_ = false;
    return !posted.empty();
}

bool LoopDispatcher::RunIdle() {
    if (!Idle_) {
        return false;
    }
    // The handler may replace itself; run a copy.
    std::function<IdleResult()> idle = Idle_;
    return idle() == IdleResult::CallAgain;
}

bool LoopDispatcher::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using SteadyClock = std::chrono::steady_clock;
    const SteadyClock::time_point start = SteadyClock::now();
    const SteadyClock::time_point deadline = timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(
                                                            SteadyClock::time_point::max() - start)
                                                 ? SteadyClock::time_point::max()
                                                 : start + timeout;
    bool idleDue = true;
    for (;;) {
        {
            std::lock_guard lock(Lock_);
            if (Quit_) {
                Quit_ = false;
                return done && done();
            }
        }
        std::deque<std::function<void()>> posted;
        const bool hadPosted = TakeEvents(posted);
        const bool hadCalls = Calls_.RunPending() > 0;
        for (std::function<void()>& fn : posted) {
            fn();
        }
        if (hadPosted || hadCalls) {
            idleDue = true;
        }
        if (done && done()) {
            return true;
        }
        {
            std::lock_guard lock(Lock_);
            if (!Posted_.empty()) {
                continue;
            }
        }
        if (Calls_.HasPending()) {
            continue;
        }
        if (idleDue) {
            idleDue = RunIdle();
            if (done && done()) {
                return true;
            }
            continue;
        }
        std::unique_lock lock(Lock_);
        const auto ready = [&] { return Quit_ || Arrived_ || !Posted_.empty(); };
        if (deadline == SteadyClock::time_point::max()) {
            Cv_.wait(lock, ready);
        } else if (!Cv_.wait_until(lock, deadline, ready)) {
            lock.unlock();
            return done && done();
        }
    }
}

void LoopDispatcher::ProcessPendingEvents() {
    std::deque<std::function<void()>> posted;
    TakeEvents(posted);
    Calls_.RunPending();
    for (std::function<void()>& fn : posted) {
        fn();
    }
    RunIdle();
}

void LoopDispatcher::Quit() {
    {
        std::lock_guard lock(Lock_);
        Quit_ = true;
    }
    Cv_.notify_all();
}

} // namespace kavel::platform
