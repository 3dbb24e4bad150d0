#pragma once

#include "platform/DateTime.h"
#include "platform/ScopedInstall.h"

#include <atomic>

namespace kavel::platform {

// Source of "now" for everything that asks for the current local time. Tests install a
// ManualClock so that keep periods, templates and headers are deterministic.
class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime Now() const = 0;
};

// The computer's local time (localtime_r), with milliseconds.
class SystemClock final : public Clock {
public:
    DateTime Now() const override;
};

// A clock that only moves when told; safe to read from any thread.
class ManualClock final : public Clock {
public:
    explicit ManualClock(DateTime start = {})
        : Now_(start.Ms) {}
    DateTime Now() const override { return DateTime{Now_.load(std::memory_order_relaxed)}; }
    void Set(DateTime time) { Now_.store(time.Ms, std::memory_order_relaxed); }
    void Advance(std::int64_t ms) { Now_.fetch_add(ms, std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> Now_;
};

// The process-wide clock; the system clock unless one was installed. Install before any
// reader thread starts and uninstall after they ended.
Clock& CurrentClock();
void SetCurrentClock(Clock* clock);

// Shorthand for CurrentClock().Now().
inline DateTime Now() {
    return CurrentClock().Now();
}

using ScopedClock = ScopedInstall<Clock, &SetCurrentClock>;

} // namespace kavel::platform
