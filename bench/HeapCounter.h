#pragma once

#include <cstdint>

namespace kavel::bench {

// The bytes the program holds on the heap now, as the replaced global operator new and delete
// count them (HeapCounter.cpp, linked into the benchmarks that measure memory).
std::int64_t LiveHeapBytes();

} // namespace kavel::bench
