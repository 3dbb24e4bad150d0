#pragma once

#include "parsing/Filter.h"
#include "platform/DateTime.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace kavel {

class TServer;
class TEntryQueue;

// One accepted log line with its parsed access. Created by a reader, appended to the entry
// queue, taken over and finally removed by the main thread.
class TQueue {
public:
    // Time starts as the current local time.
    TQueue(std::string line, TServer* server);
    ~TQueue();
    TQueue(const TQueue&) = delete;
    TQueue& operator=(const TQueue&) = delete;

    std::string Line;
    std::unique_ptr<TFilter> Access;
    TServer* Server = nullptr;
    TDateTime Time;
    // Main thread only: the row that shows the entry.
    void* ListItem = nullptr;
    // Cleared by the main thread when it takes the entry over; readers look at it while
    // they search for the popup's entry.
    std::atomic<bool> IsNew{true};
    // Main thread only: 0 not yet shown, 1 hidden by a display filter, 2 shown.
    std::uint8_t DisplayState = 0;

private:
    friend class TEntryQueue;
    // Whether the entry is in its host's chain (entries without an access are not).
    bool Indexed_ = false;
    TQueue* Prev_ = nullptr;
    TQueue* Next_ = nullptr;
    // Chain of the entries of the same host name (compared ignoring ASCII case), kept by the
    // queue so that the revisit rule need not walk other hosts' entries.
    TQueue* HostPrev_ = nullptr;
    TQueue* HostNext_ = nullptr;
};

// The process-wide queue of accepted accesses, oldest first. Readers append; only the main
// thread removes. One reader/writer lock guards the links; a holder of the shared lock may
// take it again.
class TEntryQueue {
public:
    TEntryQueue();
    ~TEntryQueue();
    TEntryQueue(const TEntryQueue&) = delete;
    TEntryQueue& operator=(const TEntryQueue&) = delete;

    // Appends an entry with an access; the queue owns it from now on. Must not be called
    // while the calling thread holds the shared lock.
    TQueue* Append(std::unique_ptr<TQueue> entry);
    // Unlinks and frees the entry (main thread only).
    void Remove(TQueue* entry);
    // Frees every entry; the servers' QueueCount is not touched (end of the program).
    void Clear();

    TQueue* GetFirst() const;
    TQueue* GetLast() const;
    TQueue* GetPrev(const TQueue* entry) const;
    TQueue* GetNext(const TQueue* entry) const;
    // Read without the lock: an indication only.
    std::int32_t GetCount() const { return Count_.load(std::memory_order_relaxed); }
    // The oldest entry of the run of new entries at the newest end, or none.
    TQueue* FirstNew() const;

    // The shared lock for walks of several links; a thread that holds it may take it again
    // (the nested guard then leaves the lock alone). Never append or remove while holding it.
    class TReadLock {
    public:
        explicit TReadLock(const TEntryQueue& queue);
        ~TReadLock();
        TReadLock(TReadLock&& other) noexcept;
        TReadLock(const TReadLock&) = delete;
        TReadLock& operator=(const TReadLock&) = delete;
        TReadLock& operator=(TReadLock&&) = delete;

    private:
        const TEntryQueue* Queue_;
    };
    TReadLock ReadLock() const;
    // Whether the calling thread holds the shared lock of this queue.
    bool ReadLockHeld() const;

    // Under a held ReadLock: visits the entries whose access' HostName equals hostName
    // ignoring ASCII case, newest first, until visit returns false. The index behind it
    // takes the host name, time and VisitorState an access had when it was appended; queued
    // entries keep them.
    void WalkHostBackward(std::string_view hostName, const std::function<bool(const TQueue&)>& visit) const;
    // What the revisit rule needs to know of a host's queued accesses: whether there are any,
    // whether one of them is a revisitor's, and the earliest and latest of their times.
    struct THostSummary {
        bool AnyRevisitor = false;
        TDateTime Earliest;
        TDateTime Latest;
    };
    // Under a held ReadLock: the summary of the entries whose access' HostName equals
    // hostName ignoring ASCII case; none when there are none. Costs a hash look-up, whatever
    // the number of entries (a removal of an earliest or latest entry is paid by one walk of
    // that host's entries on the next call).
    std::optional<THostSummary> HostSummary(std::string_view hostName) const;
    // Under a held ReadLock: the same walk over the whole queue, for comparison in tests.
    void WalkAllBackward(const std::function<bool(const TQueue&)>& visit) const;

private:
    void LockShared() const;
    void UnlockShared() const;

    struct THostIndex;
    mutable std::shared_mutex Lock_;
    TQueue* First_ = nullptr;
    TQueue* Last_ = nullptr;
    std::atomic<std::int32_t> Count_{0};
    std::unique_ptr<THostIndex> Hosts_;
};

TEntryQueue& EntryQueue();

// Parses the entry's line by its server's log type and applies the keep period; true when
// the entry is to stay (it then has an access).
bool ParseEntry(TQueue& entry);
// Keep-period test against the current local time.
bool IsExpired(const TQueue& entry);

} // namespace kavel
