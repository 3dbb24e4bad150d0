#include "base/LineBlocks.h"

#include "base/MemoryPoison.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <vector>
#include <zstd.h>

namespace kavel {

namespace {

// The keys of a block are the addresses of one slot of LineBlockBytes in a reserved stretch
// that no one may read or write: a key read as a pointer faults at once. 64 GiB of addresses
// make a million blocks.
constexpr std::size_t RegionBlocks = std::size_t{1} << 20;
constexpr std::size_t RegionBytes = RegionBlocks * LineBlockBytes;
constexpr std::size_t ChunkBlocks = 4096;
constexpr std::uint32_t NoBlock = 0xFFFFFFFFu;
// Buffers of evicted blocks kept for the next ones brought back or opened.
constexpr std::size_t SpareBuffers = 8;

enum class BlockState : std::uint8_t { Free, Open, Resident, Evicted };

// Zstandard at level 1: it keeps access logs in an eighth to a ninth of their bytes, where LZ4
// keeps a fifth, and still compresses some 600 MB and decompresses some 2 GB a second per core
// (BlockCompressionBench), so that a block comes back in some 30 microseconds.
constexpr int CompressionLevel = 1;

// What a thread compresses its blocks with: a context kept from block to block (making one
// costs more than compressing a block) and room for the compressed bytes.
class BlockCompressor {
public:
    BlockCompressor() = default;
    ~BlockCompressor() { ZSTD_freeCCtx(Context_); }
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // The compressed bytes of block, or none when they cannot be had (no memory).
    std::string_view Compress(std::string_view block) {
        if (Context_ == nullptr)
            Context_ = ZSTD_createCCtx();
        if (Context_ == nullptr)
            return {};
        Scratch_.resize(ZSTD_compressBound(LineBlockBytes));
        const std::size_t size = ZSTD_compressCCtx(Context_, Scratch_.data(), Scratch_.size(), block.data(),
                                                   block.size(), CompressionLevel);
        if (ZSTD_isError(size) != 0)
            return {};
        return {Scratch_.data(), size};
    }

private:
    ZSTD_CCtx* Context_ = nullptr;
    std::vector<char> Scratch_;
};

struct BlockInfo {
    // The block's live lines, plus one while its reader still puts lines into it.
    std::atomic<std::uint32_t> Holds{0};
    // The rest under the region's lock, but Bytes, which a pin or the open block's reader reads.
    BlockState State = BlockState::Free;
    // Its last line went while a pin held it: it goes with the last pin.
    bool Dropped = false;
    std::uint32_t Pins = 0;
    std::uint32_t Used = 0;
    std::uint32_t CompressedSize = 0;
    std::unique_ptr<char[]> Compressed;
    // The block's bytes while it is open or resident.
    char* Bytes = nullptr;
    // Sealed blocks that are decompressed and held by no pin, least recently used first.
    std::uint32_t LruPrev = NoBlock;
    std::uint32_t LruNext = NoBlock;
    bool InLru = false;
};

class LineRegion {
public:
    LineRegion() {
        void* keys =
            ::mmap(nullptr, RegionBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (keys == MAP_FAILED)
            return;
        Keys_ = static_cast<const char*>(keys);
        line_blocks::KeysEnd.store(Keys_ + RegionBytes, std::memory_order_relaxed);
        line_blocks::KeysBegin.store(Keys_, std::memory_order_relaxed);
    }
    // Lives for the process: entries freed at its end still give their lines back.
    ~LineRegion() = delete;

    bool Usable() const { return Keys_ != nullptr; }
    std::uint32_t IndexOf(const char* key) const {
        return static_cast<std::uint32_t>(static_cast<std::size_t>(key - Keys_) / LineBlockBytes);
    }
    const char* Key(std::uint32_t index) const { return Keys_ + std::size_t{index} * LineBlockBytes; }
    BlockInfo& Info(std::uint32_t index) const {
        return Chunks_[index / ChunkBlocks].load(std::memory_order_acquire)[index % ChunkBlocks];
    }

    // A block for the calling thread to fill; NoBlock when every block is taken.
    std::uint32_t Open() {
        std::lock_guard lock(Mutex_);
        std::uint32_t index = NoBlock;
        if (!FreeBlocks_.empty()) {
            index = FreeBlocks_.back();
            FreeBlocks_.pop_back();
        } else if (NextFresh_ < RegionBlocks) {
            index = NextFresh_++;
            if (index % ChunkBlocks == 0)
                Chunks_[index / ChunkBlocks].store(new BlockInfo[ChunkBlocks], std::memory_order_release);
        } else {
            return NoBlock;
        }
        BlockInfo& info = Info(index);
        info.State = BlockState::Open;
        info.Holds.store(1, std::memory_order_relaxed);
        info.Used = 0;
        info.Dropped = false;
        info.Bytes = TakeBuffer();
        ++OpenCount_;
        return index;
    }

    // Seals an open block of used bytes: compressed by the calling thread (its reader), without
    // the lock, then handed to the cache.
    void Seal(std::uint32_t index, std::uint32_t used, BlockCompressor& compressor) {
        BlockInfo& info = Info(index);
        // A block whose lines are all gone already goes, unsealed. Only its reader adds holds,
        // so none comes meanwhile.
        if (used == 0 || info.Holds.load(std::memory_order_acquire) == 1) {
            Release(index);
            return;
        }
        // Compressed into the reader's scratch, then kept in an allocation of its size.
        const std::string_view compressedBytes = compressor.Compress({info.Bytes, used});
        const std::size_t compressedSize = compressedBytes.size();
        std::unique_ptr<char[]> compressed;
        if (compressedSize > 0) {
            try {
                compressed = std::make_unique_for_overwrite<char[]>(compressedSize);
                std::copy_n(compressedBytes.data(), compressedSize, compressed.get());
            } catch (const std::bad_alloc&) {
                // Kept uncompressed, as open blocks are.
            }
        }
        {
            std::lock_guard lock(Mutex_);
            --OpenCount_;
            info.Used = used;
            info.State = BlockState::Resident;
            ++SealedCount_;
            ++ResidentCount_;
            SealedTextBytes_ += used;
            if (compressed) {
                info.CompressedSize = static_cast<std::uint32_t>(compressedSize);
                info.Compressed = std::move(compressed);
                CompressedBytes_ += info.CompressedSize;
                // A block that could not be compressed stays as it is, outside the cache.
                if (info.Pins == 0)
                    PushLru(index);
                Trim();
            }
        }
        // The reader's own hold goes; the block goes with it when its lines are gone.
        Release(index);
    }

    // One hold of the block goes.
    void Release(std::uint32_t index) {
        BlockInfo& info = Info(index);
        if (info.Holds.fetch_sub(1, std::memory_order_acq_rel) != 1)
            return;
        std::lock_guard lock(Mutex_);
        if (info.Pins > 0)
            info.Dropped = true;
        else
            Free(index);
    }

    void Pin(std::uint32_t index) {
        std::lock_guard lock(Mutex_);
        BlockInfo& info = Info(index);
        const bool restored = info.State == BlockState::Evicted;
        if (restored)
            Restore(index);
        if (info.InLru)
            UnlinkLru(index);
        ++info.Pins;
        if (restored)
            Trim();
    }

    void Unpin(std::uint32_t index) {
        std::lock_guard lock(Mutex_);
        BlockInfo& info = Info(index);
        if (--info.Pins > 0)
            return;
        if (info.Dropped) {
            Free(index);
            return;
        }
        if (info.State == BlockState::Resident && info.Compressed) {
            PushLru(index);
            Trim();
        }
    }

    void SetCacheBlocks(std::size_t blocks) {
        std::lock_guard lock(Mutex_);
        CacheBlocks_ = std::max<std::size_t>(blocks, 1);
        Trim();
    }

    LineBlockCounts Counts() const {
        std::lock_guard lock(Mutex_);
        LineBlockCounts counts;
        counts.Open = OpenCount_;
        counts.Sealed = SealedCount_;
        counts.Resident = ResidentCount_;
        counts.SealedTextBytes = SealedTextBytes_;
        counts.CompressedBytes = CompressedBytes_;
        counts.Decompressions = Decompressions_;
        return counts;
    }

private:
    // Under the lock from here on.
    void Free(std::uint32_t index) {
        BlockInfo& info = Info(index);
        if (info.InLru)
            UnlinkLru(index);
        if (info.State == BlockState::Open) {
            --OpenCount_;
        } else {
            --SealedCount_;
            SealedTextBytes_ -= info.Used;
            CompressedBytes_ -= info.CompressedSize;
            if (info.State == BlockState::Resident)
                --ResidentCount_;
        }
        GiveBuffer(std::exchange(info.Bytes, nullptr));
        info.Compressed.reset();
        info.CompressedSize = 0;
        info.Used = 0;
        info.Dropped = false;
        info.State = BlockState::Free;
        FreeBlocks_.push_back(index);
    }

    void Evict(std::uint32_t index) {
        UnlinkLru(index);
        BlockInfo& info = Info(index);
        info.State = BlockState::Evicted;
        GiveBuffer(std::exchange(info.Bytes, nullptr));
        --ResidentCount_;
    }

    void Restore(std::uint32_t index) {
        BlockInfo& info = Info(index);
        if (Decompressor_ == nullptr)
            Decompressor_ = ZSTD_createDCtx();
        if (Decompressor_ == nullptr)
            throw std::bad_alloc();
        char* bytes = TakeBuffer();
        const std::size_t size = ZSTD_decompressDCtx(Decompressor_, bytes, LineBlockBytes,
                                                     info.Compressed.get(), info.CompressedSize);
        if (ZSTD_isError(size) != 0 || size != info.Used) {
            // Only a fault of memory gets here: reading on would show other bytes than logged.
            std::fputs("kavel: a sealed line block does not decompress to its lines\n", stderr);
            std::abort();
        }
        info.Bytes = bytes;
        info.State = BlockState::Resident;
        ++ResidentCount_;
        ++Decompressions_;
    }

    // Buffers go round: a pass over the queue brings back thousands of blocks, and a buffer
    // used again costs neither the system's pages nor their clearing.
    char* TakeBuffer() {
        char* buffer = nullptr;
        if (!Spare_.empty()) {
            buffer = Spare_.back();
            Spare_.pop_back();
        } else {
            buffer = static_cast<char*>(::operator new(LineBlockBytes));
        }
        ASAN_UNPOISON_MEMORY_REGION(buffer, LineBlockBytes);
        return buffer;
    }

    void GiveBuffer(char* buffer) {
        if (buffer == nullptr)
            return;
        if (Spare_.size() < SpareBuffers) {
            // A view kept past its pin is reported while the buffer waits.
            ASAN_POISON_MEMORY_REGION(buffer, LineBlockBytes);
            Spare_.push_back(buffer);
        } else {
            ::operator delete(buffer);
        }
    }

    void PushLru(std::uint32_t index) {
        BlockInfo& info = Info(index);
        info.LruPrev = LruNewest_;
        info.LruNext = NoBlock;
        if (LruNewest_ != NoBlock)
            Info(LruNewest_).LruNext = index;
        else
            LruOldest_ = index;
        LruNewest_ = index;
        info.InLru = true;
    }

    void UnlinkLru(std::uint32_t index) {
        BlockInfo& info = Info(index);
        if (info.LruPrev != NoBlock)
            Info(info.LruPrev).LruNext = info.LruNext;
        else
            LruOldest_ = info.LruNext;
        if (info.LruNext != NoBlock)
            Info(info.LruNext).LruPrev = info.LruPrev;
        else
            LruNewest_ = info.LruPrev;
        info.LruPrev = info.LruNext = NoBlock;
        info.InLru = false;
    }

    // Pinned blocks stay; of the others, the least recently used go until the cache holds its
    // number.
    void Trim() {
        while (ResidentCount_ > CacheBlocks_ && LruOldest_ != NoBlock)
            Evict(LruOldest_);
    }

    const char* Keys_ = nullptr;
    mutable std::mutex Mutex_;
    // Under the lock: what blocks are brought back with (the region lives as long as the program).
    ZSTD_DCtx* Decompressor_ = nullptr;
    std::atomic<BlockInfo*> Chunks_[RegionBlocks / ChunkBlocks] = {};
    std::uint32_t NextFresh_ = 0;
    std::vector<std::uint32_t> FreeBlocks_;
    std::vector<char*> Spare_;
    std::uint32_t LruOldest_ = NoBlock;
    std::uint32_t LruNewest_ = NoBlock;
    std::size_t CacheBlocks_ = DefaultLineCacheBlocks;
    std::size_t OpenCount_ = 0;
    std::size_t SealedCount_ = 0;
    std::size_t ResidentCount_ = 0;
    std::uint64_t SealedTextBytes_ = 0;
    std::uint64_t CompressedBytes_ = 0;
    std::uint64_t Decompressions_ = 0;
};

std::atomic<std::size_t> BlockFill{LineBlockBytes};

LineRegion& Region() {
    static LineRegion* region = new LineRegion;
    return *region;
}

// The calling thread's open block.
class OpenLineBlock {
public:
    OpenLineBlock() = default;
    ~OpenLineBlock() { Seal(); }
    OpenLineBlock(const OpenLineBlock&) = delete;
    OpenLineBlock& operator=(const OpenLineBlock&) = delete;

    BlockLine Cut(std::size_t size) {
        LineRegion& region = Region();
        if (size == 0 || size > LineBlockBytes || !region.Usable())
            return {};
        if (Index_ == NoBlock || Used_ + size > BlockFill.load(std::memory_order_relaxed)) {
            Seal();
            Index_ = region.Open();
            if (Index_ == NoBlock)
                return {};
        }
        BlockInfo& info = region.Info(Index_);
        const BlockLine line{region.Key(Index_) + Used_, info.Bytes + Used_};
        Used_ += static_cast<std::uint32_t>(size);
        info.Holds.fetch_add(1, std::memory_order_relaxed);
        LastCut_ = std::chrono::steady_clock::now();
        return line;
    }

    void Seal() {
        if (Index_ == NoBlock)
            return;
        Region().Seal(std::exchange(Index_, NoBlock), std::exchange(Used_, 0), Compressor_);
    }

    void SealIfQuiet(std::chrono::steady_clock::duration quietFor) {
        if (Index_ == NoBlock)
            return;
        if (std::chrono::steady_clock::now() - LastCut_ >= quietFor ||
            Region().Info(Index_).Holds.load(std::memory_order_acquire) == 1)
            Seal();
    }

private:
    std::uint32_t Index_ = NoBlock;
    std::uint32_t Used_ = 0;
    std::chrono::steady_clock::time_point LastCut_;
    BlockCompressor Compressor_;
};

OpenLineBlock& ThreadLineBlock() {
    thread_local OpenLineBlock block;
    return block;
}

} // namespace

const char* line_blocks::BytesOfKey(const char* key) {
    LineRegion& region = Region();
    const std::uint32_t index = region.IndexOf(key);
    const char* bytes = region.Info(index).Bytes;
    // Read without a pin, a sealed block's bytes may be gone: the key itself then faults.
    if (bytes == nullptr)
        return key;
    return bytes + (key - region.Key(index));
}

BlockLine CutBlockLine(std::size_t size) {
    return ThreadLineBlock().Cut(size);
}

void ReleaseBlockLine(const char* key) {
    if (InLineBlock(key)) {
        LineRegion& region = Region();
        region.Release(region.IndexOf(key));
    }
}

void SealOpenLineBlock() {
    ThreadLineBlock().Seal();
}

void SealQuietLineBlock(std::chrono::steady_clock::duration quietFor) {
    ThreadLineBlock().SealIfQuiet(quietFor);
}

void SetLineBlockFill(std::size_t bytes) {
    BlockFill.store(std::clamp<std::size_t>(bytes, 1, LineBlockBytes), std::memory_order_relaxed);
}

void SetLineCacheBlocks(std::size_t blocks) {
    Region().SetCacheBlocks(blocks);
}

LineBlockCounts CountLineBlocks() {
    return Region().Counts();
}

void LinePin::ReachKey(const char* key) {
    if (!InLineBlock(key))
        return;
    LineRegion& region = Region();
    const std::uint32_t index = region.IndexOf(key);
    if (index == Block_)
        return;
    Drop();
    region.Pin(index);
    Block_ = index;
}

void LinePin::Drop() {
    if (Block_ != NoBlock)
        Region().Unpin(std::exchange(Block_, NoBlock));
}

} // namespace kavel
