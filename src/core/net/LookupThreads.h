#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace kavel {

// A few threads for tasks that may wait seconds for the network (reverse name queries). They
// are started when tasks arrive and no thread is free, up to a limit, and end after a while
// without work. Nobody ever waits for them: a query that hangs holds its thread, never the
// program, whose end does not wait for it. What the threads use is shared with them, so it
// outlives this object for as long as a thread still runs.
class LookupThreads {
public:
    LookupThreads(std::size_t maxThreads, std::size_t maxQueued);
    // Idle threads end at once; busy ones when their task is done.
    ~LookupThreads();
    LookupThreads(const LookupThreads&) = delete;
    LookupThreads& operator=(const LookupThreads&) = delete;

    // Queues the task; false (and nothing queued) when maxQueued tasks wait already beyond those
    // that idle or starting threads are about to take.
    bool TryPost(std::function<void()> task);
    // Threads running now, and tasks waiting for one.
    std::size_t ThreadCount() const;
    std::size_t QueuedCount() const;

private:
    struct Shared;
    static void Work(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> Shared_;
};

} // namespace kavel
