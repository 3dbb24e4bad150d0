#pragma once

// Where the lines of queued entries live. A reader copies each kept line into an open block of
// its own; a block that is full, or whose reader found no new line for a while, is sealed: its
// bytes are compressed (Zstandard) and the uncompressed copy goes. Every line is kept byte for byte:
// nothing is ever read again from the log.
//
// A line in a block is known by its key, an address in a stretch reserved for keys alone (no
// memory lies behind it), so that the key of a line and the slices of its access stay the same
// whatever becomes of the block. Whoever reads an entry's line, or a text of its access, holds
// a LinePin on it: the pin keeps the block's bytes in memory (decompressed into a buffer of the
// cache when it was sealed), and LineBytes finds them by the key. A small cache keeps the
// blocks read last, so that painting and passes in queue order decompress each block once.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace kavel {

// Bytes of line text per block.
inline constexpr std::size_t LineBlockBytes = std::size_t{64} << 10;

namespace line_blocks {
// The stretch of keys: set once, when the first block is made.
inline std::atomic<const char*> KeysBegin{nullptr};
inline std::atomic<const char*> KeysEnd{nullptr};
// The bytes of the line at key, in a block that a pin holds.
const char* BytesOfKey(const char* key);
} // namespace line_blocks

// Whether the pointer is the key of a line in a block.
inline bool InLineBlock(const char* p) {
    const char* begin = line_blocks::KeysBegin.load(std::memory_order_relaxed);
    return begin != nullptr && p >= begin && p < line_blocks::KeysEnd.load(std::memory_order_relaxed);
}

// The bytes a line pointer stands for: those of its block when it is a key (under a pin), else
// the pointer itself.
inline const char* LineBytes(const char* p) {
    return InLineBlock(p) ? line_blocks::BytesOfKey(p) : p;
}

// Room for a line of size bytes in the calling thread's open block, which is sealed and
// replaced when the line does not fit: the line's key and where to write its bytes now. None
// (both null) for a line longer than a block, an empty one, or when no block can be had (the
// caller then keeps the line with its entry).
struct BlockLine {
    const char* Key = nullptr;
    char* Bytes = nullptr;
};
BlockLine CutBlockLine(std::size_t size);
// The line of the key is no longer kept; its block goes with its last line.
void ReleaseBlockLine(const char* key);

// Seals the calling thread's open block now; one without lines goes.
void SealOpenLineBlock();
// Seals the calling thread's open block when no line was put into it for quietFor (a reader
// before it rests); one without lines goes.
void SealQuietLineBlock(std::chrono::steady_clock::duration quietFor);

// A block is sealed once it holds this many bytes (LineBlockBytes unless a test asks for
// smaller blocks, down to one line each).
void SetLineBlockFill(std::size_t bytes);

// How many sealed blocks stay decompressed while no pin holds them (at least one). Pinned
// blocks stay whatever the number.
void SetLineCacheBlocks(std::size_t blocks);
inline constexpr std::size_t DefaultLineCacheBlocks = 64;

struct LineBlockCounts {
    std::size_t Open = 0;
    std::size_t Sealed = 0;
    // Sealed blocks whose bytes are decompressed now, pinned or cached.
    std::size_t Resident = 0;
    // Line bytes in sealed blocks, and what they take compressed.
    std::uint64_t SealedTextBytes = 0;
    std::uint64_t CompressedBytes = 0;
    // Decompressions so far, over the process' life.
    std::uint64_t Decompressions = 0;
};
LineBlockCounts CountLineBlocks();

// Keeps the block of the line it last reached in memory: every text of the entry's line and
// access may be read while the pin holds it. A pass over entries in queue order keeps one pin
// and reaches each entry in turn, so that a block is decompressed once per pass. Lines kept
// outside blocks need no pin, and reaching them costs nothing. One thread's object.
class LinePin {
public:
    LinePin() = default;
    // Anything with a Line whose Key() is a line pointer: a queued entry.
    template <class Entry>
    explicit LinePin(const Entry& entry) {
        Reach(entry);
    }
    ~LinePin() { Drop(); }
    LinePin(LinePin&& other) noexcept
        : Block_(std::exchange(other.Block_, NoBlock)) {}
    LinePin& operator=(LinePin&& other) noexcept {
        if (this != &other) {
            Drop();
            Block_ = std::exchange(other.Block_, NoBlock);
        }
        return *this;
    }
    LinePin(const LinePin&) = delete;
    LinePin& operator=(const LinePin&) = delete;

    template <class Entry>
    void Reach(const Entry& entry) {
        ReachKey(entry.Line.Key());
    }
    void ReachKey(const char* key);
    // Lets go of the block held.
    void Drop();

private:
    static constexpr std::uint32_t NoBlock = 0xFFFFFFFFu;
    std::uint32_t Block_ = NoBlock;
};

} // namespace kavel
