#include "acquisition/EntryArena.h"

#include "base/MemoryPoison.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <vector>

namespace kavel {

namespace {

constexpr std::size_t AlignedToMax(std::size_t size) {
    constexpr std::size_t align = alignof(std::max_align_t);
    return (size + align - 1) / align * align;
}

// A reader's entries are cut from blocks of its own: no malloc header per entry, few page
// faults, and a block goes back to the system as soon as its last entry is removed, whatever
// order the entries are removed in. A reader maps no block before it keeps its first entry;
// its first block is small and each next one twice as large, up to LargestBlock (where the
// system gives huge pages), so that thousands of quiet servers cost little and a busy one
// few page faults.
constexpr std::size_t LargestBlock = std::size_t{2} << 20;
constexpr std::size_t FirstBlock = std::size_t{16} << 10;
// Larger entries (overlong lines) get a block of their own.
constexpr std::size_t LargestPooled = LargestBlock / 16;

// Every block starts at a multiple of LargestBlock, whatever its size, so that an entry finds
// its block by masking its address; the rest of that span is left unmapped.
struct EntryBlock {
    explicit EntryBlock(std::size_t size)
        : Size(size) {}
    // The block's live entries, plus one while its reader still cuts from it.
    std::atomic<std::size_t> Holds{1};
    const std::size_t Size;
};
constexpr std::size_t BlockHeader = AlignedToMax(sizeof(EntryBlock));

std::atomic<std::uint64_t> MappedBlockBytes{0};

// Every entry lives in one reserved span of address space, so that the queue links entries by
// 32-bit numbers (EntryRefOf) instead of pointers. Reserving costs no memory; a block's pages
// are mapped when it is taken and given back when it goes. Where the system grants less
// address space, the span is smaller.
class EntryRegion {
public:
    static EntryRegion& Instance() {
        static EntryRegion region;
        return region;
    }

    // A block of size bytes (a power of two up to LargestBlock, or a multiple of it), mapped.
    void* Map(std::size_t size) {
        const std::size_t spans = (size + LargestBlock - 1) / LargestBlock;
        std::size_t first = 0;
        {
            const std::lock_guard lock(Lock_);
            first = TakeSpans(spans);
        }
        char* block = Begin_ + first * LargestBlock;
        if (::mmap(block, size, PROT_READ | PROT_WRITE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) ==
            MAP_FAILED) {
            GiveSpans(first, spans);
            throw std::bad_alloc();
        }
        return block;
    }

    // Gives the block's pages back; its address space stays reserved for later blocks.
    void Unmap(void* block, std::size_t size) {
        ::mmap(block, size, PROT_NONE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        GiveSpans(static_cast<std::size_t>(static_cast<char*>(block) - Begin_) / LargestBlock,
                  (size + LargestBlock - 1) / LargestBlock);
    }

private:
    EntryRegion() {
        // Entry numbers count 8-byte units: 32 GiB at most, less where the system says no.
        for (std::size_t size = std::size_t{32} << 30; size >= LargestBlock * 8; size /= 2) {
            void* raw = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            if (raw == MAP_FAILED)
                continue;
            const auto begin = reinterpret_cast<std::uintptr_t>(raw);
            const std::uintptr_t aligned = (begin + LargestBlock - 1) & ~(LargestBlock - 1);
            Begin_ = reinterpret_cast<char*>(aligned);
            Spans_.assign((begin + size - aligned) / LargestBlock, false);
            // The first span holds no entry, so that number 0 names none.
            Spans_[0] = true;
            EntryRegionStart = aligned;
            return;
        }
        throw std::bad_alloc();
    }

    // The first run of spans free spans; under Lock_.
    std::size_t TakeSpans(std::size_t spans) {
        std::size_t run = 0;
        for (std::size_t i = Hint_; i < Spans_.size(); ++i) {
            run = Spans_[i] ? 0 : run + 1;
            if (run != spans)
                continue;
            const std::size_t first = i + 1 - spans;
            std::fill(Spans_.begin() + static_cast<std::ptrdiff_t>(first),
                      Spans_.begin() + static_cast<std::ptrdiff_t>(i + 1), true);
            if (first == Hint_)
                Hint_ = i + 1;
            return first;
        }
        throw std::bad_alloc();
    }

    void GiveSpans(std::size_t first, std::size_t spans) {
        const std::lock_guard lock(Lock_);
        std::fill(Spans_.begin() + static_cast<std::ptrdiff_t>(first),
                  Spans_.begin() + static_cast<std::ptrdiff_t>(first + spans), false);
        Hint_ = std::min(Hint_, first);
    }

    char* Begin_ = nullptr;
    std::mutex Lock_;
    // Which spans of LargestBlock bytes are taken.
    std::vector<bool> Spans_;
    // Where the search for free spans starts: spans before it are all taken.
    std::size_t Hint_ = 1;
};

EntryBlock* MapBlock(std::size_t size) {
    void* block = EntryRegion::Instance().Map(size);
    // Advice only: without huge pages the block works the same.
    if (size >= LargestBlock)
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
    EntryRegion::Instance().Unmap(block, size);
    MappedBlockBytes.fetch_sub(size, std::memory_order_relaxed);
}

// The smallest block size, a power of two from FirstBlock on, that holds size bytes after the
// header; beyond LargestBlock a multiple of it.
std::size_t BlockSizeFor(std::size_t size) {
    if (size > LargestBlock - BlockHeader)
        return (size + BlockHeader + LargestBlock - 1) / LargestBlock * LargestBlock;
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
        if (size > LargestPooled)
            return AllocateApart(size);
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

    // An overlong entry in a block of its own, which goes back with it.
    void* AllocateApart(std::size_t size) {
        EntryBlock* block = MapBlock(BlockSizeFor(size));
        char* p = reinterpret_cast<char*>(block) + BlockHeader;
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

std::uintptr_t EntryRegionStart = 0;

void* CutPooledEntry(std::size_t size) {
    return ThreadArena().Allocate(size);
}

std::uint64_t ThreadPooledEntryBytes() {
    return ThreadArena().Cut();
}

std::uint64_t MappedEntryBlockBytes() {
    return MappedBlockBytes.load(std::memory_order_relaxed);
}

void ReleaseEmptyEntryBlock() {
    ThreadArena().ReleaseIfEmpty();
}

void ReleasePooledEntry(void* p) {
    auto* block = reinterpret_cast<EntryBlock*>(reinterpret_cast<std::uintptr_t>(p) & ~(LargestBlock - 1));
    // The entry's bytes stay poisoned until the block is unmapped, so that a use after removal
    // is reported.
    ASAN_POISON_MEMORY_REGION(p, sizeof(LogEntry));
    ReleaseBlock(block);
}

} // namespace kavel
