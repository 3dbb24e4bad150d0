#include "acquisition/EntryQueue.h"

#include "acquisition/RevisitRule.h"
#include "acquisition/Server.h"
#include "base/Text.h"
#include "config/AppSettings.h"
#include "net/NamePass.h"
#include "parsing/Parsers.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace kavel {

namespace {

using AsciiIgnoreCaseHash = FoldedHash<AsciiLower>;
using AsciiIgnoreCaseEqual = FoldedEqual<AsciiLower>;

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

// The chain of every host name in the queue: its newest entry (each entry links to the older
// and newer entries of its host) and a summary for the revisit rule. Removing an entry that
// held the earliest or latest time leaves the bounds stale; the next reader walks the chain
// once and stores them again. Readers share the queue's lock, so the bounds are atomics that
// any of them may refresh (all compute the same values).
struct HostChain {
    // The host name as the chain's first entry had it, and its hash ignoring ASCII case.
    std::string Name;
    std::uint64_t Hash = 0;
    LogEntry* Newest = nullptr;
    std::int32_t Revisitors = 0;
    mutable std::atomic<std::int64_t> Earliest{0};
    mutable std::atomic<std::int64_t> Latest{0};
    mutable std::atomic<bool> Stale{false};
};

// The chains by host name, compared ignoring ASCII case: an open-addressing table (linear
// probing, a power of two of slots) whose slots hold the hash and the chain. A name is stored
// once per host, in its chain, where a look-up finds it without visiting an entry; a look-up by
// view makes no string. Changed under the exclusive lock only.
struct EntryQueue::HostIndex {
    struct Slot {
        std::uint64_t Hash = 0;
        HostChain* Chain = nullptr;
    };
    std::vector<Slot> Slots;
    std::size_t Used = 0;

    HostIndex() = default;
    ~HostIndex() { Clear(); }
    HostIndex(const HostIndex&) = delete;
    HostIndex& operator=(const HostIndex&) = delete;

    static std::uint64_t HashOf(std::string_view host) { return AsciiIgnoreCaseHash()(host); }

    static bool Names(const HostChain& chain, std::string_view host) {
        return AsciiIgnoreCaseEqual()(chain.Name, host);
    }

    // The slot of the host's chain, or none.
    std::optional<std::size_t> SlotOf(std::string_view host, std::uint64_t hash) const {
        if (Slots.empty())
            return std::nullopt;
        const std::size_t mask = Slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = Slots[i];
            if (slot.Chain == nullptr)
                return std::nullopt;
            if (slot.Hash == hash && Names(*slot.Chain, host))
                return i;
        }
    }

    const HostChain* Find(std::string_view host) const {
        const std::optional<std::size_t> i = SlotOf(host, HashOf(host));
        return i ? Slots[*i].Chain : nullptr;
    }

    // The host's chain, made empty when the host is new (the caller links an entry at once).
    HostChain& FindOrAdd(std::string_view host) {
        const std::uint64_t hash = HashOf(host);
        if (const std::optional<std::size_t> i = SlotOf(host, hash))
            return *Slots[*i].Chain;
        if ((Used + 1) * 4 > Slots.size() * 3)
            Grow();
        auto chain = std::make_unique<HostChain>();
        chain->Name = host;
        chain->Hash = hash;
        const std::size_t mask = Slots.size() - 1;
        std::size_t i = hash & mask;
        while (Slots[i].Chain != nullptr)
            i = (i + 1) & mask;
        Slots[i] = {hash, chain.get()};
        ++Used;
        return *chain.release();
    }

    // Frees the chain, moving back the slots after it that would no longer be reached.
    void Erase(std::size_t i) {
        delete Slots[i].Chain;
        const std::size_t mask = Slots.size() - 1;
        std::size_t hole = i;
        for (std::size_t j = (i + 1) & mask; Slots[j].Chain != nullptr; j = (j + 1) & mask) {
            const std::size_t home = Slots[j].Hash & mask;
            // A slot stays when its home lies cyclically after the hole and up to itself.
            const bool reached = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (!reached) {
                Slots[hole] = Slots[j];
                hole = j;
            }
        }
        Slots[hole] = {};
        --Used;
    }

    // The slot of the chain the entry is linked into: found by the entry's name, and should the
    // name have been changed since the entry was appended, by the chain's newest entry.
    std::optional<std::size_t> SlotOfEntry(const LogEntry* entry) const {
        const std::string_view host = entry->Access->HostName();
        if (std::optional<std::size_t> i = SlotOf(host, HashOf(host)))
            return i;
        const LogEntry* newest = entry;
        while (newest->HostNext_)
            newest = newest->HostNext_;
        for (std::size_t i = 0; i < Slots.size(); ++i)
            if (Slots[i].Chain != nullptr && Slots[i].Chain->Newest == newest)
                return i;
        return std::nullopt;
    }

    void Grow() {
        std::vector<Slot> old(std::max<std::size_t>(Slots.size() * 2, 64));
        old.swap(Slots);
        const std::size_t mask = Slots.size() - 1;
        for (const Slot& slot : old) {
            if (slot.Chain == nullptr)
                continue;
            std::size_t i = slot.Hash & mask;
            while (Slots[i].Chain != nullptr)
                i = (i + 1) & mask;
            Slots[i] = slot;
        }
    }

    void Clear() {
        for (const Slot& slot : Slots)
            delete slot.Chain;
        Slots.clear();
        Used = 0;
    }
};

namespace {

constexpr std::size_t AlignedToMax(std::size_t size) {
    constexpr std::size_t align = alignof(std::max_align_t);
    return (size + align - 1) / align * align;
}

// What entries, records and their text blocks need: 8 bytes, not the 16 of malloc.
constexpr std::size_t EntryAlign = std::max(alignof(LogEntry), alignof(AccessRecord));
constexpr std::size_t AlignedForEntry(std::size_t size) {
    return (size + EntryAlign - 1) / EntryAlign * EntryAlign;
}

// A reader's entries are cut from blocks of its own: no malloc header per entry, few page
// faults, and a block goes back to the system as soon as its last entry is removed, whatever
// order the entries are removed in. A reader maps no block before it keeps its first entry;
// its first block is small and each next one twice as large, up to LargestBlock (where the
// system gives huge pages), so that thousands of quiet servers cost little and a busy one
// few page faults.
constexpr std::size_t LargestBlock = std::size_t{2} << 20;
constexpr std::size_t FirstBlock = std::size_t{16} << 10;
// Larger entries (overlong lines) come from malloc.
constexpr std::size_t LargestPooled = LargestBlock / 16;

// Every block starts at a multiple of LargestBlock, whatever its size, so that an entry finds
// its block by masking its address; the rest of that span is left to other mappings.
struct EntryBlock {
    explicit EntryBlock(std::size_t size)
        : Size(size) {}
    // The block's live entries, plus one while its reader still cuts from it.
    std::atomic<std::size_t> Holds{1};
    const std::size_t Size;
};
constexpr std::size_t BlockHeader = AlignedToMax(sizeof(EntryBlock));

std::atomic<std::uint64_t> MappedBlockBytes{0};

EntryBlock* MapBlock(std::size_t size) {
    // Mapped LargestBlock larger so that a start aligned to it fits; the rest goes at once.
    const std::size_t mapped = size + LargestBlock;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto begin = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (begin + LargestBlock - 1) & ~(LargestBlock - 1);
    if (aligned > begin)
        ::munmap(raw, aligned - begin);
    if (aligned + size < begin + mapped)
        ::munmap(reinterpret_cast<void*>(aligned + size), begin + mapped - aligned - size);
    void* block = reinterpret_cast<void*>(aligned);
    // Advice only: without huge pages the block works the same.
    if (size == LargestBlock)
        ::madvise(block, size, MADV_HUGEPAGE);
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + BlockHeader, size - BlockHeader);
    MappedBlockBytes.fetch_add(size, std::memory_order_relaxed);
    return ::new (block) EntryBlock(size);
}

void ReleaseBlock(EntryBlock* block) {
    if (block->Holds.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    const std::size_t size = block->Size;
    block->~EntryBlock();
    ASAN_UNPOISON_MEMORY_REGION(block, size);
    ::munmap(block, size);
    MappedBlockBytes.fetch_sub(size, std::memory_order_relaxed);
}

// The smallest block size, a power of two from FirstBlock on, that holds size bytes after the
// header.
std::size_t BlockSizeFor(std::size_t size) {
    std::size_t block = FirstBlock;
    while (block - BlockHeader < size)
        block *= 2;
    return block;
}

class EntryArena {
public:
    EntryArena() = default;
    ~EntryArena() {
        if (Block_)
            ReleaseBlock(Block_);
    }
    EntryArena(const EntryArena&) = delete;
    EntryArena& operator=(const EntryArena&) = delete;

    std::uint64_t Cut() const { return Cut_; }

    void* Allocate(std::size_t size) {
        size = AlignedForEntry(size);
        if (!Block_ || Used_ + size > Block_->Size) {
            const std::size_t blockSize = std::max(NextSize_, BlockSizeFor(size));
            EntryBlock* fresh = MapBlock(blockSize);
            if (Block_)
                ReleaseBlock(Block_);
            Block_ = fresh;
            Used_ = BlockHeader;
            NextSize_ = std::min(blockSize * 2, LargestBlock);
        }
        Block_->Holds.fetch_add(1, std::memory_order_relaxed);
        char* p = reinterpret_cast<char*>(Block_) + Used_;
        Used_ += size;
        Cut_ += size;
        ASAN_UNPOISON_MEMORY_REGION(p, size);
        return p;
    }

    // A block that holds no entry any more goes back, and the next one starts small again:
    // what the reader keeps is all gone.
    void ReleaseIfEmpty() {
        if (!Block_ || Block_->Holds.load(std::memory_order_acquire) != 1)
            return;
        ReleaseBlock(Block_);
        Block_ = nullptr;
        Used_ = 0;
        NextSize_ = FirstBlock;
    }

private:
    EntryBlock* Block_ = nullptr;
    std::size_t Used_ = 0;
    std::size_t NextSize_ = FirstBlock;
    std::uint64_t Cut_ = 0;
};

EntryArena& ThreadArena() {
    thread_local EntryArena arena;
    return arena;
}

} // namespace

std::uint64_t ThreadPooledEntryBytes() {
    return ThreadArena().Cut();
}

std::uint64_t MappedEntryBlockBytes() {
    return MappedBlockBytes.load(std::memory_order_relaxed);
}

void ReleaseEmptyEntryBlock() {
    ThreadArena().ReleaseIfEmpty();
}

void LogEntry::ReleasePooled(void* p) {
    auto* block = reinterpret_cast<EntryBlock*>(reinterpret_cast<std::uintptr_t>(p) & ~(LargestBlock - 1));
    // The entry's bytes stay poisoned until the block is unmapped, so that a use after removal
    // is reported.
    ASAN_POISON_MEMORY_REGION(p, sizeof(LogEntry));
    ReleaseBlock(block);
}

namespace {

std::uint64_t NextEntrySerial() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

namespace {

std::uint32_t LineSize(std::size_t size) {
    if (size >= 0x80000000u)
        throw std::length_error("log line of 2 GiB or longer");
    return static_cast<std::uint32_t>(size);
}

} // namespace

LineText::LineText(std::string_view text) {
    if (text.empty())
        return;
    const std::uint32_t size = LineSize(text.size());
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
    text.SizeAndOwned_ = LineSize(size);
    return text;
}

LineText::~LineText() {
    if (Owned())
        std::free(const_cast<char*>(Data_));
}

LineText::LineText(LineText&& other) noexcept
    : Data_(std::exchange(other.Data_, ""))
    , SizeAndOwned_(std::exchange(other.SizeAndOwned_, 0)) {}

LineText& LineText::operator=(LineText&& other) noexcept {
    if (this != &other) {
        if (Owned())
            std::free(const_cast<char*>(Data_));
        Data_ = std::exchange(other.Data_, "");
        SizeAndOwned_ = std::exchange(other.SizeAndOwned_, 0);
    }
    return *this;
}

// The flags share the line's 8-byte word; a layout that loses that costs every entry 8 bytes.
static_assert(sizeof(void*) != 8 || sizeof(LogEntry) == 88);

LogEntry::LogEntry(std::string_view line, kavel::Server* server)
    : LogEntry(LineText(line), server) {}

LogEntry::LogEntry(LineText line, kavel::Server* server)
    : Line(std::move(line))
    , Server(server)
    , Time(platform::Now())
    , Serial(NextEntrySerial()) {}

LogEntry::~LogEntry() = default;

void* LogEntry::operator new(std::size_t size) {
    if (void* p = std::malloc(size))
        return p;
    throw std::bad_alloc();
}

void LogEntry::operator delete(void* p) noexcept {
    std::free(p);
}

void LogEntry::operator delete(LogEntry* p, std::destroying_delete_t) {
    const bool pooled = p->Pooled_;
    p->~LogEntry();
    if (pooled)
        ReleasePooled(p);
    else
        std::free(p);
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
    LogEntry* e = entry.release();
    std::unique_lock lock(Lock_);
    if (!First_)
        First_ = e;
    if (Last_) {
        Last_->Next_ = e;
        e->Prev_ = Last_;
    }
    Last_ = e;
    if (e->Access) {
        HostChain& chain = Hosts_->FindOrAdd(e->Access->HostName());
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
        if (e->Access->VisitorState == VisitorKind::Revisitor)
            ++chain.Revisitors;
        e->Indexed_ = true;
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
    std::unique_ptr<LogEntry> owned(entry);
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
        // Looked up while the entry is still linked.
        const std::optional<std::size_t> slot = Hosts_->SlotOfEntry(entry);
        if (entry->HostPrev_)
            entry->HostPrev_->HostNext_ = entry->HostNext_;
        if (entry->HostNext_)
            entry->HostNext_->HostPrev_ = entry->HostPrev_;
        if (slot) {
            HostChain& chain = *Hosts_->Slots[*slot].Chain;
            if (chain.Newest == entry)
                chain.Newest = entry->HostPrev_;
            if (!chain.Newest) {
                Hosts_->Erase(*slot);
            } else {
                if (entry->Access->VisitorState == VisitorKind::Revisitor)
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
        LogEntry* next = chain->Next_;
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
    return entry ? entry->Prev_ : nullptr;
}

LogEntry* EntryQueue::Next(const LogEntry* entry) const {
    const ReadGuard lock(*this);
    return entry ? entry->Next_ : nullptr;
}

LogEntry* EntryQueue::FirstNew() const {
    const ReadGuard lock(*this);
    LogEntry* e = Last_;
    if (!e)
        return nullptr;
    while (e->Prev_ && e->Prev_->IsNew.load(std::memory_order_acquire))
        e = e->Prev_;
    return e->IsNew.load(std::memory_order_acquire) ? e : nullptr;
}

void EntryQueue::WalkHostBackward(std::string_view hostName,
                                  const std::function<bool(const LogEntry&)>& visit) const {
    const HostChain* chain = Hosts_->Find(hostName);
    if (chain == nullptr)
        return;
    for (const LogEntry* e = chain->Newest; e; e = e->HostPrev_)
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
        for (const LogEntry* e = chain.Newest; e; e = e->HostPrev_) {
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

void EntryQueue::WalkAllBackward(const std::function<bool(const LogEntry&)>& visit) const {
    for (const LogEntry* e = Last_; e; e = e->Prev_)
        if (!visit(*e))
            return;
}

EntryQueue& Entries() {
    static EntryQueue queue;
    return queue;
}

namespace {

bool IsExpiredAt(const Server* server, DateTime time, DateTime now) {
    if (!server)
        return false;
    const std::int64_t limit = server->TimeDeleteAfter();
    if (server->TimeDeleteAfterUnit() == KeepUnit::Hours)
        return WholeHoursBetween(time, now) >= limit;
    return WholeDaysBetween(time, now) >= limit;
}

bool IsExpiredAt(const Server* server, DateTime time) {
    return IsExpiredAt(server, time, platform::Now());
}

// The access of a line with its time (left alone when the line names none), the revisit rule
// applied unless visitorState is false; none for a line that is no access, and none for a line
// whose names settings.Names gives up on (still being looked up).
std::unique_ptr<AccessRecord> ParseAccess(std::string_view line, Server* server, bool draft,
                                          const EntrySettings& settings, DateTime& time,
                                          bool visitorState = true) {
    if (!line.empty() && line[0] == '#') {
        // A W3C log declares its field order in a directive; the lines after it follow it.
        if (server && server->LogType() == LogFormat::W3c)
            if (std::optional<W3cFieldLayout> layout = ParseW3cDirective(line))
                server->SetW3cLayout(std::make_shared<const W3cFieldLayout>(std::move(*layout)));
        return nullptr;
    }
    if (!line.empty() && line[0] == ' ')
        return nullptr;
    if (!server)
        return nullptr;
    ParseOptions options;
    options.W3cFields = server->W3CFields();
    options.W3cLayout = server->W3cLayout();
    options.TimeZone = server->TimeZone();
    options.ResolveNames = settings.ResolveNames;
    options.Names = settings.Names;
    options.Draft = draft;
    ParsedLine parsed;
    switch (server->LogType()) {
    case LogFormat::Ncsa:
        parsed = ParseNcsa(line, options);
        break;
    case LogFormat::W3c:
        parsed = ParseW3c(line, options);
        break;
    default:
        return nullptr;
    }
    if (!parsed.Record)
        return nullptr;
    if (parsed.Time)
        time = *parsed.Time;
    // Names are asked for only for a line that is kept; nothing is decided for a line that waits
    // for its names (the rule below remembers a revisitor by its name).
    if (settings.Names != nullptr && settings.Names->HasUnanswered() && !IsExpiredAt(server, time)) {
        settings.Names->AskMissing();
        if (settings.Names->ShouldDefer()) {
            settings.Names->Defer();
            return nullptr;
        }
    }
    // The rule runs before the keep period is applied: an old access still tells that its
    // visitor came back.
    if (visitorState && parsed.Record->IsDocument)
        ApplyRevisitRule(*parsed.Record, time, settings.RevisitorAfterMinutes);
    return std::move(parsed.Record);
}

} // namespace

bool ParseEntryLine(LogEntry& entry) {
    std::unique_ptr<AccessRecord> access =
        ParseAccess(entry.Line, entry.Server, false, EntrySettings::Current(), entry.Time);
    if (!access)
        return false;
    entry.Access = std::move(access);
    return true;
}

std::unique_ptr<LogEntry> ParseToEntry(std::string_view line, Server& server) {
    return ParseToEntry(line, server, EntrySettings::Current());
}

EntrySettings EntrySettings::Current() {
    EntrySettings settings;
    settings.ResolveNames = OptionMiscDnsResolve();
    settings.RevisitorAfterMinutes = OptionTimeRevisitorAfterMinutes();
    settings.NameDeadline = std::chrono::milliseconds{OptionMiscDnsDeadlineMs()};
    return settings;
}

bool LineWithinKeepPeriod(std::string_view line, Server& server) {
    DateTime time = platform::Now();
    const EntrySettings withoutNames;
    const std::unique_ptr<AccessRecord> draft = ParseAccess(line, &server, true, withoutNames, time, false);
    return draft && !IsExpiredAt(&server, time);
}

void AskNamesOfLine(std::string_view line, Server& server, const EntrySettings& settings) {
    if (!settings.ResolveNames || line.empty() || line[0] == '#')
        return;
    DateTime time = platform::Now();
    ParseAccess(line, &server, true, settings, time, false);
}

std::unique_ptr<LogEntry> ParseToEntry(std::string_view line, Server& server, const EntrySettings& settings) {
    DateTime time = platform::Now();
    const std::unique_ptr<AccessRecord> draft = ParseAccess(line, &server, true, settings, time);
    if (!draft || IsExpiredAt(&server, time))
        return nullptr;
    // Entry, access with its side texts, then the line: one allocation, freed by the entry's
    // operator delete.
    const std::size_t entrySize = AlignedForEntry(sizeof(LogEntry));
    const std::size_t accessSize = draft->PlacedSize();
    const std::uint32_t lineSize = LineSize(line.size());
    const std::size_t total = entrySize + accessSize + lineSize;
    const bool pooled = total <= LargestPooled;
    char* memory = static_cast<char*>(pooled ? ThreadArena().Allocate(total) : LogEntry::operator new(total));
    char* lineCopy = memory + entrySize + accessSize;
    if (!line.empty())
        std::memcpy(lineCopy, line.data(), line.size());
    std::unique_ptr<LogEntry> entry(::new (memory) LogEntry(LineText::Borrowed(lineCopy, lineSize), &server));
    entry->Pooled_ = pooled;
    entry->Time = time;
    entry->Access.reset(draft->PlaceCopy(memory + entrySize));
    return entry;
}

bool ParseEntry(LogEntry& entry) {
    if (!ParseEntryLine(entry))
        return false;
    if (IsExpired(entry)) {
        entry.Access.reset();
        return false;
    }
    return true;
}

bool IsExpired(const LogEntry& entry) {
    return IsExpiredAt(entry.Server, entry.Time);
}

bool IsExpired(const LogEntry& entry, DateTime now) {
    return IsExpiredAt(entry.Server, entry.Time, now);
}

} // namespace kavel
