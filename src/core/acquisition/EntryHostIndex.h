#pragma once

// The queue's index of its entries by host name; only the queue includes it.

#include "acquisition/EntryArena.h"
#include "acquisition/EntryQueue.h"
#include "base/Text.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// The chain of every host name in the queue: its newest entry (each entry links to the older
// and newer entries of its host) and a summary for the revisit rule. Removing an entry that
// held the earliest or latest time leaves the bounds stale; the next reader walks the chain
// once and stores them again. Readers share the queue's lock, so the bounds are atomics that
// any of them may refresh (all compute the same values).
struct HostChain {
    // The host name as the chain's first entry had it, and its hash ignoring ASCII case.
    std::string Name;
    std::uint64_t Hash = 0;
    LogEntry* Newest = nullptr;
    std::int32_t Revisitors = 0;
    mutable std::atomic<std::int64_t> Earliest{0};
    mutable std::atomic<std::int64_t> Latest{0};
    mutable std::atomic<bool> Stale{false};
};

// The chains by host name, compared ignoring ASCII case: an open-addressing table (linear
// probing, a power of two of slots) whose slots hold the hash and the chain. A name is stored
// once per host, in its chain, where a look-up finds it without visiting an entry; a look-up by
// view makes no string. Changed under the exclusive lock only.
struct EntryQueue::HostIndex {
    struct Slot {
        std::uint64_t Hash = 0;
        HostChain* Chain = nullptr;
    };
    std::vector<Slot> Slots;
    std::size_t Used = 0;

    HostIndex() = default;
    ~HostIndex() { Clear(); }
    HostIndex(const HostIndex&) = delete;
    HostIndex& operator=(const HostIndex&) = delete;

    static std::uint64_t HashOf(std::string_view host) { return FoldedHash<AsciiLower>()(host); }

    static bool Names(const HostChain& chain, std::string_view host) {
        return FoldedEqual<AsciiLower>()(chain.Name, host);
    }

    // The slot of the host's chain, or none.
    std::optional<std::size_t> SlotOf(std::string_view host, std::uint64_t hash) const {
        if (Slots.empty())
            return std::nullopt;
        const std::size_t mask = Slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = Slots[i];
            if (slot.Chain == nullptr)
                return std::nullopt;
            if (slot.Hash == hash && Names(*slot.Chain, host))
                return i;
        }
    }

    const HostChain* Find(std::string_view host) const {
        const std::optional<std::size_t> i = SlotOf(host, HashOf(host));
        return i ? Slots[*i].Chain : nullptr;
    }

    // The host's chain, made empty when the host is new (the caller links an entry at once).
    HostChain& FindOrAdd(std::string_view host) {
        const std::uint64_t hash = HashOf(host);
        if (const std::optional<std::size_t> i = SlotOf(host, hash))
            return *Slots[*i].Chain;
        if ((Used + 1) * 4 > Slots.size() * 3)
            Grow();
        auto chain = std::make_unique<HostChain>();
        chain->Name = host;
        chain->Hash = hash;
        const std::size_t mask = Slots.size() - 1;
        std::size_t i = hash & mask;
        while (Slots[i].Chain != nullptr)
            i = (i + 1) & mask;
        Slots[i] = {hash, chain.get()};
        ++Used;
        return *chain.release();
    }

    // Frees the chain, moving back the slots after it that would no longer be reached.
    void Erase(std::size_t i) {
        delete Slots[i].Chain;
        const std::size_t mask = Slots.size() - 1;
        std::size_t hole = i;
        for (std::size_t j = (i + 1) & mask; Slots[j].Chain != nullptr; j = (j + 1) & mask) {
            const std::size_t home = Slots[j].Hash & mask;
            // A slot stays when its home lies cyclically after the hole and up to itself.
            const bool reached = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (!reached) {
                Slots[hole] = Slots[j];
                hole = j;
            }
        }
        Slots[hole] = {};
        --Used;
    }

    // The slot of the chain the entry is linked into: found by the entry's name, and should the
    // name have been changed since the entry was appended, by the chain's newest entry.
    std::optional<std::size_t> SlotOfEntry(const LogEntry* entry) const {
        const std::string_view host = entry->Access()->HostName();
        if (std::optional<std::size_t> i = SlotOf(host, HashOf(host)))
            return i;
        const LogEntry* newest = entry;
        while (newest->HostNext_)
            newest = EntryAtRef<const LogEntry>(newest->HostNext_);
        for (std::size_t i = 0; i < Slots.size(); ++i)
            if (Slots[i].Chain != nullptr && Slots[i].Chain->Newest == newest)
                return i;
        return std::nullopt;
    }

    void Grow() {
        std::vector<Slot> old(std::max<std::size_t>(Slots.size() * 2, 64));
        old.swap(Slots);
        const std::size_t mask = Slots.size() - 1;
        for (const Slot& slot : old) {
            if (slot.Chain == nullptr)
                continue;
            std::size_t i = slot.Hash & mask;
            while (Slots[i].Chain != nullptr)
                i = (i + 1) & mask;
            Slots[i] = slot;
        }
    }

    void Clear() {
        for (const Slot& slot : Slots)
            delete slot.Chain;
        Slots.clear();
        Used = 0;
    }
};

} // namespace kavel
