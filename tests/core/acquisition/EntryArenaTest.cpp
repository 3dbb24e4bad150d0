#include "acquisition/EntryArena.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

namespace kavel {
namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

// Entries cut by two threads, small and overlong, are each found again by their number, and
// no two share one.
TEST(EntryArenaTest, NumbersNameTheirEntries) {
    EXPECT_EQ(EntryRefOf(nullptr), 0u);
    EXPECT_EQ(EntryAtRef<void>(0), nullptr);
    std::vector<void*> cut[2];
    const auto cutSome = [](std::vector<void*>& into) {
        for (std::size_t i = 0; i < 3000; ++i)
            into.push_back(CutPooledEntry(i % 500 == 0 ? 300 * KiB : 72 + 8 * (i % 40)));
    };
    std::thread other(cutSome, std::ref(cut[1]));
    cutSome(cut[0]);
    other.join();
    std::set<std::uint32_t> refs;
    for (const std::vector<void*>& entries : cut) {
        for (void* p : entries) {
            const std::uint32_t ref = EntryRefOf(p);
            EXPECT_NE(ref, 0u);
            EXPECT_EQ(EntryAtRef<void>(ref), p);
            refs.insert(ref);
        }
    }
    EXPECT_EQ(refs.size(), cut[0].size() + cut[1].size());
    for (const std::vector<void*>& entries : cut)
        for (void* p : entries)
            ReleasePooledEntry(p);
}

// An overlong entry's block of its own goes back with it, and its address space is taken again:
// more cycles than the whole span has blocks.
TEST(EntryArenaTest, BlocksOfOverlongEntriesGoBackAndTheirSpaceIsTakenAgain) {
    const std::uint64_t before = MappedEntryBlockBytes();
    for (int i = 0; i < 20000; ++i) {
        auto* p = static_cast<char*>(CutPooledEntry(200 * KiB));
        p[0] = 'a';
        p[200 * KiB - 1] = 'z';
        EXPECT_GE(MappedEntryBlockBytes(), before + 200 * KiB);
        ReleasePooledEntry(p);
        ASSERT_EQ(MappedEntryBlockBytes(), before) << "cycle " << i;
    }
}

// Blocks of one, two and three spans, taken and given back in mixed order, never overlap: every
// byte written to one is still there when the others have been written.
TEST(EntryArenaTest, BlocksOfSeveralSpansNeverOverlap) {
    struct Cut {
        char* Bytes;
        std::size_t Size;
        char Fill;
    };
    std::vector<Cut> live;
    const auto take = [&](std::size_t size) {
        auto* p = static_cast<char*>(CutPooledEntry(size));
        const char fill = static_cast<char>('a' + live.size() % 26);
        std::memset(p, fill, size);
        live.push_back({p, size, fill});
    };
    const auto give = [&](std::size_t i) {
        ReleasePooledEntry(live[i].Bytes);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (std::size_t size : {3 * MiB, 200 * KiB, 5 * MiB, 3 * MiB, 200 * KiB, 4 * MiB})
        take(size);
    give(2);
    give(0);
    // Fits neither hole alone, nor the two together unless they are merged wrongly.
    take(6 * MiB);
    take(300 * KiB);
    take(3 * MiB);
    for (std::size_t i = 0; i < 200; ++i)
        take(100 + i);
    for (const Cut& c : live)
        for (std::size_t i = 0; i < c.Size; i += 4093)
            ASSERT_EQ(c.Bytes[i], c.Fill) << c.Size << " bytes at " << static_cast<void*>(c.Bytes);
    while (!live.empty())
        give(live.size() - 1);
    ReleaseEmptyEntryBlock();
}

} // namespace
} // namespace kavel
