#pragma once

#include <cstdint>
#include <vector>

namespace kavel {

// Counts events in a sliding window of whole clock minutes: the current minute and the
// Window - 1 minutes before it. One bucket per minute and a running total, so adding an event
// and reading the total cost the same whatever the window's length; only the minutes that
// passed since the last call are cleared.
//
// Minutes are counted from any fixed origin (the clock's milliseconds divided by 60,000). A
// clock that goes back (a change from summer time) does not lose counts: events of an earlier
// minute are added to the newest minute seen, which then lasts until the clock has caught up.
class MinuteCounter {
public:
    // window: minutes, at least 1.
    explicit MinuteCounter(int window);

    int Window() const { return static_cast<int>(Buckets_.size()); }
    void Add(std::int64_t minute, std::uint32_t count = 1);
    // Events within the window that ends with minute.
    std::uint64_t Total(std::int64_t minute);
    void Clear();

private:
    void AdvanceTo(std::int64_t minute);
    std::size_t Slot(std::int64_t minute) const;

    std::vector<std::uint32_t> Buckets_;
    // The newest minute that has a bucket; buckets of older minutes within the window follow
    // it backwards in the ring.
    std::int64_t Newest_ = 0;
    bool Started_ = false;
    std::uint64_t Total_ = 0;
};

// The minute of a time in milliseconds, rounded towards minus infinity.
inline std::int64_t MinuteOf(std::int64_t ms) {
    return ms >= 0 ? ms / 60000 : -((-ms + 59999) / 60000);
}

} // namespace kavel
