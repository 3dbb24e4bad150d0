#include "acquisition/EntryQueue.h"

#include "acquisition/EntryArena.h"
#include "acquisition/EntryHostIndex.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "platform/Clock.h"

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kavel {

namespace {

// The shared locks the calling thread holds, with their depth, so that a holder may take a
// queue's shared lock again without asking the lock (a second shared acquisition by the same
// thread may wait behind a queued writer and deadlock).
struct HeldLock {
    const EntryQueue* Queue;
    int Depth;
};
thread_local std::vector<HeldLock> HeldLocks;

HeldLock* FindHeld(const EntryQueue* queue) {
    for (HeldLock& held : HeldLocks)
        if (held.Queue == queue)
            return &held;
    return nullptr;
}

} // namespace

namespace {

// The entry of a link number.
LogEntry* At(std::uint32_t ref) {
    return EntryAtRef<LogEntry>(ref);
}

std::uint64_t NextEntrySerial() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

std::uint32_t LineText::CheckedSize(std::size_t size) {
    if (size >= 0x80000000u)
        throw std::length_error("log line of 2 GiB or longer");
    return static_cast<std::uint32_t>(size);
}

LineText::LineText(std::string_view text) {
    if (text.empty())
        return;
    const std::uint32_t size = CheckedSize(text.size());
    char* copy = static_cast<char*>(std::malloc(text.size()));
    if (copy == nullptr)
        throw std::bad_alloc();
    std::memcpy(copy, text.data(), text.size());
    Data_ = copy;
    SizeAndOwned_ = size | OwnedBit;
}

LineText LineText::Borrowed(const char* data, std::size_t size) {
    LineText text;
    text.Data_ = data;
    text.SizeAndOwned_ = CheckedSize(size);
    return text;
}

LineText::~LineText() {
    if (Owned())
        std::free(const_cast<char*>(Data_));
    else
        ReleaseBlockLine(Data_);
}

LineText::LineText(LineText&& other) noexcept
    : Data_(std::exchange(other.Data_, ""))
    , SizeAndOwned_(std::exchange(other.SizeAndOwned_, 0)) {}

LineText& LineText::operator=(LineText&& other) noexcept {
    if (this != &other) {
        if (Owned())
            std::free(const_cast<char*>(Data_));
        else
            ReleaseBlockLine(Data_);
        Data_ = std::exchange(other.Data_, "");
        SizeAndOwned_ = std::exchange(other.SizeAndOwned_, 0);
    }
    return *this;
}

// The flags share the line's 8-byte word; a layout that loses that costs every entry 8 bytes.
static_assert(sizeof(void*) != 8 || sizeof(LogEntry) == 56);

ListHandle ListHandles::Take() {
    for (std::size_t i = 1; i < Taken_.size(); ++i) {
        if (!Taken_[i]) {
            Taken_[i] = true;
            return static_cast<ListHandle>(i);
        }
    }
    throw std::length_error("more than 255 lists show entries");
}

void ListHandles::Give(ListHandle handle) {
    Taken_[static_cast<std::size_t>(handle)] = false;
}

std::unique_ptr<LogEntry> LogEntry::Make(std::string_view line, kavel::Server* server) {
    return std::unique_ptr<LogEntry>(new LogEntry(LineText(line), server));
}

LogEntry::LogEntry(LineText line, kavel::Server* server)
    : Line(std::move(line))
    , Server(server)
    , Time(platform::Now())
    , Serial(NextEntrySerial()) {}

LogEntry::~LogEntry() {
    // A placed access is only destroyed, one given by SetAccess freed.
    delete Access();
}

void LogEntry::SetAccess(std::unique_ptr<AccessRecord> access) {
    if ((Bits_ & AccessPlacedBit) != 0)
        throw std::logic_error("LogEntry::SetAccess on an entry made with its access");
    AccessRecord* const old = Access();
    char* after = reinterpret_cast<char*>(this) + AccessOffset;
    if (access) {
        ::new (after) AccessRecord*(access.release());
        Bits_ = static_cast<std::uint8_t>(Bits_ | AccessApartBit);
    } else {
        Bits_ = static_cast<std::uint8_t>(Bits_ & ~AccessApartBit);
    }
    delete old;
}

void* LogEntry::operator new(std::size_t size) {
    // With room for the pointer to an access given later.
    return CutPooledEntry(std::max(size, AccessOffset) + sizeof(AccessRecord*));
}

void LogEntry::operator delete(void* p) noexcept {
    ReleasePooledEntry(p);
}

void LogEntry::operator delete(LogEntry* p, std::destroying_delete_t) {
    p->~LogEntry();
    ReleasePooledEntry(p);
}

EntryQueue::EntryQueue()
    : Hosts_(std::make_unique<HostIndex>()) {}

EntryQueue::~EntryQueue() {
    Clear();
}

EntryQueue::ReadGuard::ReadGuard(const EntryQueue& queue)
    : Queue_(&queue) {
    queue.LockShared();
}

EntryQueue::ReadGuard::~ReadGuard() {
    if (Queue_)
        Queue_->UnlockShared();
}

EntryQueue::ReadGuard::ReadGuard(ReadGuard&& other) noexcept
    : Queue_(std::exchange(other.Queue_, nullptr)) {}

EntryQueue::ReadGuard EntryQueue::ReadLock() const {
    return ReadGuard(*this);
}

bool EntryQueue::ReadLockHeld() const {
    return FindHeld(this) != nullptr;
}

void EntryQueue::LockShared() const {
    if (HeldLock* held = FindHeld(this)) {
        ++held->Depth;
        return;
    }
    Lock_.lock_shared();
    HeldLocks.push_back({this, 1});
}

void EntryQueue::UnlockShared() const {
    HeldLock* held = FindHeld(this);
    if (!held)
        return;
    if (--held->Depth > 0)
        return;
    *held = HeldLocks.back();
    HeldLocks.pop_back();
    Lock_.unlock_shared();
}

LogEntry* EntryQueue::Append(std::unique_ptr<LogEntry> entry) {
    if (!entry)
        return nullptr;
    if (ReadLockHeld())
        throw std::logic_error("EntryQueue::Append under the shared lock");
    // The host name is read from the line (its address) unless it was looked up.
    const LinePin pin(*entry);
    LogEntry* e = entry.release();
    std::unique_lock lock(Lock_);
    if (!First_)
        First_ = e;
    if (Last_) {
        Last_->Next_ = EntryRefOf(e);
        e->Prev_ = EntryRefOf(Last_);
    }
    Last_ = e;
    if (e->Access()) {
        HostChain& chain = Hosts_->FindOrAdd(e->Access()->HostName());
        const std::int64_t time = e->Time.Ms;
        if (chain.Newest) {
            chain.Newest->HostNext_ = EntryRefOf(e);
            e->HostPrev_ = EntryRefOf(chain.Newest);
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
        if (e->Access()->VisitorState == VisitorKind::Revisitor)
            ++chain.Revisitors;
        e->Bits_ = static_cast<std::uint8_t>(e->Bits_ | LogEntry::IndexedBit);
    }
    if (e->Server)
        e->Server->AddQueueCount(1);
    Count_.fetch_add(1, std::memory_order_relaxed);
    return e;
}

void EntryQueue::Remove(LogEntry* entry) {
    if (!entry)
        return;
    if (ReadLockHeld())
        throw std::logic_error("EntryQueue::Remove under the shared lock");
    const LinePin pin(*entry);
    std::unique_ptr<LogEntry> owned(entry);
    std::unique_lock lock(Lock_);
    if (entry == First_)
        First_ = At(entry->Next_);
    else
        At(entry->Prev_)->Next_ = entry->Next_;
    if (entry == Last_)
        Last_ = At(entry->Prev_);
    else
        At(entry->Next_)->Prev_ = entry->Prev_;
    if ((entry->Bits_ & LogEntry::IndexedBit) != 0) {
        // Looked up while the entry is still linked.
        const std::optional<std::size_t> slot = Hosts_->SlotOfEntry(entry);
        if (entry->HostPrev_)
            At(entry->HostPrev_)->HostNext_ = entry->HostNext_;
        if (entry->HostNext_)
            At(entry->HostNext_)->HostPrev_ = entry->HostPrev_;
        if (slot) {
            HostChain& chain = *Hosts_->Slots[*slot].Chain;
            if (chain.Newest == entry)
                chain.Newest = At(entry->HostPrev_);
            if (!chain.Newest) {
                Hosts_->Erase(*slot);
            } else {
                if (entry->Access()->VisitorState == VisitorKind::Revisitor)
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

void EntryQueue::Clear() {
    if (ReadLockHeld())
        throw std::logic_error("EntryQueue::Clear under the shared lock");
    LogEntry* chain = nullptr;
    {
        std::unique_lock lock(Lock_);
        chain = First_;
        First_ = nullptr;
        Last_ = nullptr;
        Hosts_->Clear();
        Count_.store(0, std::memory_order_relaxed);
    }
    while (chain) {
        LogEntry* next = At(chain->Next_);
        delete chain;
        chain = next;
    }
}

LogEntry* EntryQueue::First() const {
    const ReadGuard lock(*this);
    return First_;
}

LogEntry* EntryQueue::Last() const {
    const ReadGuard lock(*this);
    return Last_;
}

LogEntry* EntryQueue::Prev(const LogEntry* entry) const {
    const ReadGuard lock(*this);
    return entry ? At(entry->Prev_) : nullptr;
}

LogEntry* EntryQueue::Next(const LogEntry* entry) const {
    const ReadGuard lock(*this);
    return entry ? At(entry->Next_) : nullptr;
}

LogEntry* EntryQueue::FirstNew() const {
    const ReadGuard lock(*this);
    LogEntry* e = Last_;
    if (!e)
        return nullptr;
    while (e->Prev_ && At(e->Prev_)->IsNew.load(std::memory_order_acquire))
        e = At(e->Prev_);
    return e->IsNew.load(std::memory_order_acquire) ? e : nullptr;
}

void EntryQueue::WalkHostBackward(std::string_view hostName,
                                  const std::function<bool(const LogEntry&)>& visit) const {
    const HostChain* chain = Hosts_->Find(hostName);
    if (chain == nullptr)
        return;
    for (const LogEntry* e = chain->Newest; e; e = At(e->HostPrev_))
        if (!visit(*e))
            return;
}

std::optional<EntryQueue::HostSummary> EntryQueue::SummaryOf(std::string_view hostName) const {
    const HostChain* found = Hosts_->Find(hostName);
    if (found == nullptr)
        return std::nullopt;
    const HostChain& chain = *found;
    if (chain.Stale.load(std::memory_order_acquire)) {
        std::int64_t earliest = chain.Newest->Time.Ms;
        std::int64_t latest = earliest;
        for (const LogEntry* e = chain.Newest; e; e = At(e->HostPrev_)) {
            earliest = std::min(earliest, e->Time.Ms);
            latest = std::max(latest, e->Time.Ms);
        }
        chain.Earliest.store(earliest, std::memory_order_relaxed);
        chain.Latest.store(latest, std::memory_order_relaxed);
        chain.Stale.store(false, std::memory_order_release);
    }
    HostSummary summary;
    summary.AnyRevisitor = chain.Revisitors > 0;
    summary.Earliest = DateTime{chain.Earliest.load(std::memory_order_relaxed)};
    summary.Latest = DateTime{chain.Latest.load(std::memory_order_relaxed)};
    return summary;
}

} // namespace kavel
