#include "base/MinuteCounter.h"

#include <algorithm>

namespace kavel {

MinuteCounter::MinuteCounter(int window)
    : Buckets_(static_cast<std::size_t>(std::max(window, 1)), 0) {}

std::size_t MinuteCounter::Slot(std::int64_t minute) const {
    const auto size = static_cast<std::int64_t>(Buckets_.size());
    return static_cast<std::size_t>(((minute % size) + size) % size);
}

void MinuteCounter::AdvanceTo(std::int64_t minute) {
    if (!Started_) {
        Started_ = true;
        Newest_ = minute;
        return;
    }
    if (minute <= Newest_)
        return;
    const auto size = static_cast<std::int64_t>(Buckets_.size());
    if (minute - Newest_ >= size) {
        std::fill(Buckets_.begin(), Buckets_.end(), 0u);
        Total_ = 0;
    } else {
        for (std::int64_t m = Newest_ + 1; m <= minute; ++m) {
            std::uint32_t& bucket = Buckets_[Slot(m)];
            Total_ -= bucket;
            bucket = 0;
        }
    }
    Newest_ = minute;
}

void MinuteCounter::Add(std::int64_t minute, std::uint32_t count) {
    AdvanceTo(minute);
    Buckets_[Slot(std::max(minute, Newest_))] += count;
    Total_ += count;
}

std::uint64_t MinuteCounter::Total(std::int64_t minute) {
    AdvanceTo(minute);
    return Total_;
}

void MinuteCounter::Clear() {
    std::fill(Buckets_.begin(), Buckets_.end(), 0u);
    Total_ = 0;
    Started_ = false;
}

} // namespace kavel
