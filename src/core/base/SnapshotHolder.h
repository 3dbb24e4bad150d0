#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kavel {

// Publishes immutable snapshots of a value that reader threads consult on every log line
// while the main thread occasionally changes it. A reader that finds the version it saw last
// uses its thread's cached snapshot: one atomic load, no lock, no shared counter touched.
// After a change each reader takes the new snapshot once, under a short lock.
template <class T>
class SnapshotHolder {
public:
    explicit SnapshotHolder(std::shared_ptr<const T> initial)
        : Id_(NextId())
        , Snapshot_(std::move(initial))
        , SnapshotVersion_(NextVersion())
        , Version_(SnapshotVersion_) {}
    SnapshotHolder(const SnapshotHolder&) = delete;
    SnapshotHolder& operator=(const SnapshotHolder&) = delete;

    // The current snapshot. The reference stays valid until this thread calls Current on
    // this holder again.
    const T& Current() const {
        CachedSlot& slot = Slot();
        if (slot.Version != Version_.load(std::memory_order_acquire)) {
            std::lock_guard lock(Mutex_);
            slot.Snapshot = Snapshot_;
            slot.Version = SnapshotVersion_;
        }
        return *slot.Snapshot;
    }

    // A snapshot that the caller may keep.
    std::shared_ptr<const T> Share() const {
        std::lock_guard lock(Mutex_);
        return Snapshot_;
    }

    // Copies the current value, lets change modify the copy and publishes it. Changes are
    // serialised, so none is lost.
    void Update(const std::function<void(T&)>& change) {
        std::lock_guard lock(Mutex_);
        auto copy = std::make_shared<T>(*Snapshot_);
        change(*copy);
        PublishLocked(std::move(copy));
    }

    void Replace(std::shared_ptr<const T> value) {
        std::lock_guard lock(Mutex_);
        PublishLocked(std::move(value));
    }

private:
    struct CachedSlot {
        std::uint64_t Version = 0;
        std::shared_ptr<const T> Snapshot;
    };

    // Versions are unique over all holders of the process, so a slot never mistakes a
    // snapshot of a destroyed holder for a current one.
    static std::uint64_t NextVersion() {
        static std::atomic<std::uint64_t> next{1};
        return next.fetch_add(1, std::memory_order_relaxed);
    }
    static std::size_t NextId() {
        static std::atomic<std::size_t> next{0};
        return next.fetch_add(1, std::memory_order_relaxed);
    }

    CachedSlot& Slot() const {
        thread_local std::vector<CachedSlot> slots;
        if (slots.size() <= Id_)
            slots.resize(Id_ + 1);
        return slots[Id_];
    }

    void PublishLocked(std::shared_ptr<const T> value) {
        Snapshot_ = std::move(value);
        SnapshotVersion_ = NextVersion();
        Version_.store(SnapshotVersion_, std::memory_order_release);
    }

    const std::size_t Id_;
    mutable std::mutex Mutex_;
    std::shared_ptr<const T> Snapshot_;
    std::uint64_t SnapshotVersion_;
    std::atomic<std::uint64_t> Version_;
};

} // namespace kavel
