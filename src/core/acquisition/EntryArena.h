#pragma once

// Where entries live: a reader's entries, with their accesses and lines, are cut from blocks of
// its own; entries too large for a block, and entries made elsewhere, from malloc.

#include "acquisition/EntryQueue.h"
#include "parsing/AccessRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kavel {

// What entries, records and their text blocks need: 8 bytes, not the 16 of malloc.
inline constexpr std::size_t EntryAlign = std::max(alignof(LogEntry), alignof(AccessRecord));
constexpr std::size_t AlignedForEntry(std::size_t size) {
    return (size + EntryAlign - 1) / EntryAlign * EntryAlign;
}

// The largest entry cut from a block; larger ones (overlong lines) come from malloc.
std::size_t LargestPooledEntry();
// size bytes cut from the calling thread's current block (a new one when it is full).
void* CutPooledEntry(std::size_t size);
// Gives the memory of an entry cut from a block back to its block, which goes back to the
// system with its last entry.
void ReleasePooledEntry(void* p);

// Bytes of entry memory the calling thread has taken from its entry blocks so far (an entry's
// whole cost to the allocator: blocks carry no header per entry).
std::uint64_t ThreadPooledEntryBytes();
// Bytes of entry blocks the process has mapped now, of all threads.
std::uint64_t MappedEntryBlockBytes();
// The calling thread's current entry block goes back when none of its entries is queued any
// more (a reader before it rests), and its next block starts small again.
void ReleaseEmptyEntryBlock();

} // namespace kavel
