#include "platform/Clock.h"

#include <chrono>
#include <climits>
#include <ctime>

namespace kavel::platform {

DateTime SystemClock::Now() const {
    const auto now = std::chrono::system_clock::now();
    const std::int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    // localtime_r takes the C library's time-zone lock and costs hundreds of instructions; the
    // readers ask for every entry. Zone offsets change only at quarter-hour boundaries, so each
    // thread keeps the offset of the current quarter hour.
    constexpr std::int64_t Slot = 15 * MsPerMinute;
    thread_local std::int64_t cachedSlot = INT64_MIN;
    thread_local std::int64_t cachedOffset = 0;
    const std::int64_t slot = ms >= 0 ? ms / Slot : (ms - Slot + 1) / Slot;
    if (slot != cachedSlot) {
        const std::time_t seconds = static_cast<std::time_t>(slot * Slot / 1000);
        std::tm local{};
        localtime_r(&seconds, &local);
        const auto encoded =
            EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec > 59 ? 59 : local.tm_sec);
        if (!encoded)
            return DateTime{};
        cachedOffset = encoded->Ms - static_cast<std::int64_t>(seconds) * 1000;
        cachedSlot = slot;
    }
    return DateTime{ms + cachedOffset};
}

namespace {
SystemClock TheSystemClock;
std::atomic<Clock*> Installed{nullptr};
} // namespace

Clock& CurrentClock() {
    Clock* clock = Installed.load(std::memory_order_acquire);
    return clock ? *clock : TheSystemClock;
}

void SetCurrentClock(Clock* clock) {
    Installed.store(clock, std::memory_order_release);
}

} // namespace kavel::platform
