#pragma once

// Where entries live: every entry, with its access and often its line, is cut from the entry
// blocks of the thread that makes it (an overlong one gets a block of its own). All blocks lie in
// one reserved span of address space, so that an entry is also known by a 32-bit number.

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

// size bytes cut from the calling thread's current block (a new one when it is full).
void* CutPooledEntry(std::size_t size);

// Where the span of entry blocks begins; set before the first block is taken.
extern std::uintptr_t EntryRegionStart;
// The number of an entry (of memory from CutPooledEntry), 0 for none.
inline std::uint32_t EntryRefOf(const void* p) {
    return p == nullptr ? 0u
                        : static_cast<std::uint32_t>(
                              (reinterpret_cast<std::uintptr_t>(p) - EntryRegionStart) / EntryAlign);
}
template <class T>
T* EntryAtRef(std::uint32_t ref) {
    return ref == 0 ? nullptr : reinterpret_cast<T*>(EntryRegionStart + std::uintptr_t{ref} * EntryAlign);
}
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
