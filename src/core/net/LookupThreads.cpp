#include "net/LookupThreads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace kavel {

namespace {
// A thread without work this long ends; the next burst starts threads again.
constexpr std::chrono::seconds IdleEnd{10};
} // namespace

struct LookupThreads::Shared {
    explicit Shared(std::size_t maxThreads, std::size_t maxQueued)
        : MaxThreads(maxThreads)
        , MaxQueued(maxQueued) {}

    const std::size_t MaxThreads;
    const std::size_t MaxQueued;
    // Guards everything below.
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<std::function<void()>> Tasks;
    std::size_t Threads = 0;
    // Threads started that have not come to wait for tasks yet, and threads waiting: the tasks
    // they will take do not count against the queue's bound.
    std::size_t Starting = 0;
    std::size_t Idle = 0;
    bool Closing = false;
};

LookupThreads::LookupThreads(std::size_t maxThreads, std::size_t maxQueued)
    : Shared_(std::make_shared<Shared>(maxThreads, maxQueued)) {}

LookupThreads::~LookupThreads() {
    {
        std::lock_guard lock(Shared_->Lock);
        Shared_->Closing = true;
        Shared_->Tasks.clear();
    }
    Shared_->Arrived.notify_all();
}

bool LookupThreads::TryPost(std::function<void()> task) {
    Shared& shared = *Shared_;
    bool startThread = false;
    {
        std::lock_guard lock(shared.Lock);
        const std::size_t taker = shared.Idle + shared.Starting;
        if (shared.Tasks.size() >= shared.MaxQueued + taker)
            return false;
        shared.Tasks.push_back(std::move(task));
        // Tasks already queued wait for the idle and starting threads first.
        if (taker < shared.Tasks.size() && shared.Threads < shared.MaxThreads) {
            ++shared.Threads;
            ++shared.Starting;
            startThread = true;
        }
    }
    if (startThread) {
        try {
            std::thread([shared = Shared_] { Work(shared); }).detach();
        } catch (const std::system_error&) {
            // No thread to be had now: the threads that run take the task.
            std::lock_guard lock(shared.Lock);
            --shared.Threads;
            --shared.Starting;
        }
    }
    shared.Arrived.notify_one();
    return true;
}

std::size_t LookupThreads::ThreadCount() const {
    std::lock_guard lock(Shared_->Lock);
    return Shared_->Threads;
}

std::size_t LookupThreads::QueuedCount() const {
    std::lock_guard lock(Shared_->Lock);
    return Shared_->Tasks.size();
}

void LookupThreads::Work(const std::shared_ptr<Shared>& shared) {
    std::unique_lock lock(shared->Lock);
    --shared->Starting;
    for (;;) {
        ++shared->Idle;
        const bool woken = shared->Arrived.wait_for(
            lock, IdleEnd, [&] { return shared->Closing || !shared->Tasks.empty(); });
        --shared->Idle;
        if (!woken || shared->Closing)
            break;
        std::function<void()> task = std::move(shared->Tasks.front());
        shared->Tasks.pop_front();
        lock.unlock();
        // A task that throws ends only itself.
        try {
            task();
        } catch (...) {
        }
        task = nullptr;
        lock.lock();
    }
    --shared->Threads;
}

} // namespace kavel
