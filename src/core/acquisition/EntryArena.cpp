#include "acquisition/EntryArena.h"

#include "base/MemoryPoison.h"

#include <atomic>
#include <new>
#include <sys/mman.h>

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

std::size_t LargestPooledEntry() {
    return LargestPooled;
}

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
