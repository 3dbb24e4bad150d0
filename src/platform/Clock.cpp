#include "platform/Clock.h"

#include <chrono>
#include <ctime>

namespace kavel::platform {

TDateTime SystemClock::Now() const {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto encoded =
        EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(ms % 1000));
    return encoded.value_or(TDateTime{});
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
