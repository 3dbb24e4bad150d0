#include "acquisition/Queue.h"

#include "acquisition/PoolSystem.h"
#include "acquisition/Servers.h"
#include "platform/Clock.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kavel {

namespace {

using TAsciiIgnoreCaseHash = TFoldedHash<AsciiLower>;
using TAsciiIgnoreCaseEqual = TFoldedEqual<AsciiLower>;

// The shared locks the calling thread holds, with their depth, so that a holder may take a
// queue's shared lock again without asking the lock (a second shared acquisition by the same
// thread may wait behind a queued writer and deadlock).
struct THeldLock {
    const TEntryQueue* Queue;
    int Depth;
};
thread_local std::vector<THeldLock> HeldLocks;

THeldLock* FindHeld(const TEntryQueue* queue) {
    for (THeldLock& held : HeldLocks)
        if (held.Queue == queue)
            return &held;
    return nullptr;
}

} // namespace

// The chain of every host name in the queue: its newest entry (each entry links to the older
// and newer entries of its host) and a summary for the revisit rule. Removing an entry that
// held the earliest or latest time leaves the bounds stale; the next reader walks the chain
// once and stores them again. Readers share the queue's lock, so the bounds are atomics that
// any of them may refresh (all compute the same values).
struct THostChain {
    TQueue* Newest = nullptr;
    std::int32_t Revisitors = 0;
    mutable std::atomic<std::int64_t> Earliest{0};
    mutable std::atomic<std::int64_t> Latest{0};
    mutable std::atomic<bool> Stale{false};
};

struct TEntryQueue::THostIndex {
    std::unordered_map<std::string, THostChain, TAsciiIgnoreCaseHash, TAsciiIgnoreCaseEqual> Chains;
};

TQueue::TQueue(std::string line, TServer* server)
    : Line(std::move(line))
    , Server(server)
    , Time(platform::Now()) {}

TQueue::~TQueue() = default;

TEntryQueue::TEntryQueue()
    : Hosts_(std::make_unique<THostIndex>()) {}

TEntryQueue::~TEntryQueue() {
    Clear();
}

TEntryQueue::TReadLock::TReadLock(const TEntryQueue& queue)
    : Queue_(&queue) {
    queue.LockShared();
}

TEntryQueue::TReadLock::~TReadLock() {
    if (Queue_)
        Queue_->UnlockShared();
}

TEntryQueue::TReadLock::TReadLock(TReadLock&& other) noexcept
    : Queue_(std::exchange(other.Queue_, nullptr)) {}

TEntryQueue::TReadLock TEntryQueue::ReadLock() const {
    return TReadLock(*this);
}

bool TEntryQueue::ReadLockHeld() const {
    return FindHeld(this) != nullptr;
}

void TEntryQueue::LockShared() const {
    if (THeldLock* held = FindHeld(this)) {
        ++held->Depth;
        return;
    }
    Lock_.lock_shared();
    HeldLocks.push_back({this, 1});
}

void TEntryQueue::UnlockShared() const {
    THeldLock* held = FindHeld(this);
    if (!held)
        return;
    if (--held->Depth > 0)
        return;
    *held = HeldLocks.back();
    HeldLocks.pop_back();
    Lock_.unlock_shared();
}

TQueue* TEntryQueue::Append(std::unique_ptr<TQueue> entry) {
    if (!entry)
        return nullptr;
    if (ReadLockHeld())
        throw std::logic_error("TEntryQueue::Append under the shared lock");
    TQueue* e = entry.release();
    std::unique_lock lock(Lock_);
    if (!First_)
        First_ = e;
    if (Last_) {
        Last_->Next_ = e;
        e->Prev_ = Last_;
    }
    Last_ = e;
    if (e->Access) {
        THostChain& chain = Hosts_->Chains.try_emplace(std::string(e->Access->HostName())).first->second;
        const std::int64_t time = e->Time.Ms;
        if (chain.Newest) {
            chain.Newest->HostNext_ = e;
            e->HostPrev_ = chain.Newest;
            if (time < chain.Earliest.load(std::memory_order_relaxed))
                chain.Earliest.store(time, std::memory_order_relaxed);
            if (time > chain.Latest.load(std::memory_order_relaxed))
                chain.Latest.store(time, std::memory_order_relaxed);
        } else {
            chain.Earliest.store(time, std::memory_order_relaxed);
            chain.Latest.store(time, std::memory_order_relaxed);
            chain.Stale.store(false, std::memory_order_relaxed);
        }
        chain.Newest = e;
        if (e->Access->VisitorState == 2)
            ++chain.Revisitors;
        e->Indexed_ = true;
    }
    if (e->Server)
        e->Server->AddQueueCount(1);
    Count_.fetch_add(1, std::memory_order_relaxed);
    return e;
}

void TEntryQueue::Remove(TQueue* entry) {
    if (!entry)
        return;
    if (ReadLockHeld())
        throw std::logic_error("TEntryQueue::Remove under the shared lock");
    std::unique_ptr<TQueue> owned(entry);
    std::unique_lock lock(Lock_);
    if (entry == First_)
        First_ = entry->Next_;
    else
        entry->Prev_->Next_ = entry->Next_;
    if (entry == Last_)
        Last_ = entry->Prev_;
    else
        entry->Next_->Prev_ = entry->Prev_;
    if (entry->Indexed_) {
        const auto found = Hosts_->Chains.find(entry->Access->HostName());
        if (entry->HostPrev_)
            entry->HostPrev_->HostNext_ = entry->HostNext_;
        if (entry->HostNext_)
            entry->HostNext_->HostPrev_ = entry->HostPrev_;
        if (found != Hosts_->Chains.end()) {
            THostChain& chain = found->second;
            if (chain.Newest == entry)
                chain.Newest = entry->HostPrev_;
            if (!chain.Newest) {
                Hosts_->Chains.erase(found);
            } else {
                if (entry->Access->VisitorState == 2)
                    --chain.Revisitors;
                const std::int64_t time = entry->Time.Ms;
                if (time == chain.Earliest.load(std::memory_order_relaxed) ||
                    time == chain.Latest.load(std::memory_order_relaxed))
                    chain.Stale.store(true, std::memory_order_relaxed);
            }
        }
    }
    if (entry->Server)
        entry->Server->AddQueueCount(-1);
    Count_.fetch_sub(1, std::memory_order_relaxed);
    lock.unlock();
    // The entry and its access are freed outside the lock.
}

void TEntryQueue::Clear() {
    if (ReadLockHeld())
        throw std::logic_error("TEntryQueue::Clear under the shared lock");
    TQueue* chain = nullptr;
    {
        std::unique_lock lock(Lock_);
        chain = First_;
        First_ = nullptr;
        Last_ = nullptr;
        Hosts_->Chains.clear();
        Count_.store(0, std::memory_order_relaxed);
    }
    while (chain) {
        TQueue* next = chain->Next_;
        delete chain;
        chain = next;
    }
}

TQueue* TEntryQueue::GetFirst() const {
    const TReadLock lock(*this);
    return First_;
}

TQueue* TEntryQueue::GetLast() const {
    const TReadLock lock(*this);
    return Last_;
}

TQueue* TEntryQueue::GetPrev(const TQueue* entry) const {
    const TReadLock lock(*this);
    return entry ? entry->Prev_ : nullptr;
}

TQueue* TEntryQueue::GetNext(const TQueue* entry) const {
    const TReadLock lock(*this);
    return entry ? entry->Next_ : nullptr;
}

TQueue* TEntryQueue::FirstNew() const {
    const TReadLock lock(*this);
    TQueue* e = Last_;
    if (!e)
        return nullptr;
    while (e->Prev_ && e->Prev_->IsNew.load(std::memory_order_acquire))
        e = e->Prev_;
    return e->IsNew.load(std::memory_order_acquire) ? e : nullptr;
}

void TEntryQueue::WalkHostBackward(std::string_view hostName,
                                   const std::function<bool(const TQueue&)>& visit) const {
    const auto found = Hosts_->Chains.find(hostName);
    if (found == Hosts_->Chains.end())
        return;
    for (const TQueue* e = found->second.Newest; e; e = e->HostPrev_)
        if (!visit(*e))
            return;
}

std::optional<TEntryQueue::THostSummary> TEntryQueue::HostSummary(std::string_view hostName) const {
    const auto found = Hosts_->Chains.find(hostName);
    if (found == Hosts_->Chains.end())
        return std::nullopt;
    const THostChain& chain = found->second;
    if (chain.Stale.load(std::memory_order_acquire)) {
        std::int64_t earliest = chain.Newest->Time.Ms;
        std::int64_t latest = earliest;
        for (const TQueue* e = chain.Newest; e; e = e->HostPrev_) {
            earliest = std::min(earliest, e->Time.Ms);
            latest = std::max(latest, e->Time.Ms);
        }
        chain.Earliest.store(earliest, std::memory_order_relaxed);
        chain.Latest.store(latest, std::memory_order_relaxed);
        chain.Stale.store(false, std::memory_order_release);
    }
    THostSummary summary;
    summary.AnyRevisitor = chain.Revisitors > 0;
    summary.Earliest = TDateTime{chain.Earliest.load(std::memory_order_relaxed)};
    summary.Latest = TDateTime{chain.Latest.load(std::memory_order_relaxed)};
    return summary;
}

void TEntryQueue::WalkAllBackward(const std::function<bool(const TQueue&)>& visit) const {
    for (const TQueue* e = Last_; e; e = e->Prev_)
        if (!visit(*e))
            return;
}

TEntryQueue& EntryQueue() {
    static TEntryQueue queue;
    return queue;
}

bool ParseEntry(TQueue& entry) {
    if (!entry.Line.empty() && (entry.Line[0] == '#' || entry.Line[0] == ' '))
        return false;
    if (!entry.Server)
        return false;
    switch (entry.Server->LogType()) {
    case 0:
        ParseNCSA(entry);
        break;
    case 1:
        ParseW3C(entry);
        break;
    default:
        return false;
    }
    if (!entry.Access)
        return false;
    if (IsExpired(entry)) {
        entry.Access.reset();
        return false;
    }
    return true;
}

bool IsExpired(const TQueue& entry) {
    if (!entry.Server)
        return false;
    const std::int64_t limit = entry.Server->TimeDeleteAfter();
    const TDateTime now = platform::Now();
    if (entry.Server->TimeDeleteAfterUnit() == 1)
        return WholeHoursBetween(entry.Time, now) >= limit;
    return WholeDaysBetween(entry.Time, now) >= limit;
}

} // namespace kavel
