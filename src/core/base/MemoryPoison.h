#pragma once

// Marks memory that must not be read (freed entries, evicted line blocks) for the address
// sanitizer, which then reports a read as a use after poison; nothing in other builds.

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif
