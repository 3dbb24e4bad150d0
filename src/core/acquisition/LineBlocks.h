#pragma once

// Where the lines of queued entries live. A reader copies each kept line into an open block of
// its own; a block that is full, or whose reader found no new line for a while, is sealed: its
// bytes are compressed (LZ4) and the uncompressed pages given back to the system. Whoever reads
// an entry's line, or a text of its access (slices of the line), holds a LinePin on it; a pin
// makes a sealed block's bytes readable again at the same addresses, and a small cache keeps
// the blocks read last so that painting and passes in queue order decompress each block once.
// Every line is kept byte for byte: nothing is ever read again from the log.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace kavel {

class LogEntry;

// Bytes of line text per block.
inline constexpr std::size_t LineBlockBytes = std::size_t{64} << 10;

// size bytes for a line in the calling thread's open block, which is sealed and replaced when
// the line does not fit; null for a line longer than a block, an empty one, or when no block
// can be had (the caller then keeps the line with its entry).
char* CutBlockLine(std::size_t size);
// Whether data lies in a line block.
bool InLineBlock(const char* data);
// The line at data is no longer kept; its block goes back with its last line.
void ReleaseBlockLine(const char* data);

// Seals the calling thread's open block now; one without lines goes back.
void SealOpenLineBlock();
// Seals the calling thread's open block when no line was put into it for quietFor (a reader
// before it rests); one without lines goes back.
void SealQuietLineBlock(std::chrono::steady_clock::duration quietFor);

// A block is sealed once it holds this many bytes (LineBlockBytes unless a test asks for
// smaller blocks, down to one line each).
void SetLineBlockFill(std::size_t bytes);

// How many sealed blocks stay decompressed while no pin holds them (at least one). Pinned
// blocks stay whatever the number.
void SetLineCacheBlocks(std::size_t blocks);
std::size_t LineCacheBlocks();
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

// Keeps the block of the line it last reached readable: every text of the entry's line and
// access may be read while the pin holds it. A pass over entries in queue order keeps one pin
// and reaches each entry in turn, so that a block is decompressed once per pass. Lines kept
// outside blocks need no pin, and reaching them costs nothing. One thread's object.
class LinePin {
public:
    LinePin() = default;
    explicit LinePin(const LogEntry& entry) { Reach(entry); }
    explicit LinePin(const LogEntry* entry) {
        if (entry)
            Reach(*entry);
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

    void Reach(const LogEntry& entry);
    void Reach(const char* line);
    // Lets go of the block held.
    void Drop();

private:
    static constexpr std::uint32_t NoBlock = 0xFFFFFFFFu;
    std::uint32_t Block_ = NoBlock;
};

} // namespace kavel
