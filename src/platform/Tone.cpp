#include "platform/Tone.h"

#include <atomic>
#include <unistd.h>

namespace kavel::platform {

namespace {
std::atomic<Tone*> InstalledTone{nullptr};
SilentTone DefaultTone;
} // namespace

void TerminalBellTone::Beep(int, int) {
    const char bell = '\a';
    // A bell that cannot be written is not worth a message.
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, &bell, 1);
}

void RecordingTone::Beep(int frequencyHz, int durationMs) {
    std::lock_guard lock(Lock_);
    Beeps_.push_back(Sound{frequencyHz, durationMs});
}

std::vector<RecordingTone::Sound> RecordingTone::Beeps() const {
    std::lock_guard lock(Lock_);
    return Beeps_;
}

void RecordingTone::Clear() {
    std::lock_guard lock(Lock_);
    Beeps_.clear();
}

Tone& CurrentTone() {
    Tone* tone = InstalledTone.load(std::memory_order_acquire);
    return tone != nullptr ? *tone : DefaultTone;
}

void SetCurrentTone(Tone* tone) {
    InstalledTone.store(tone, std::memory_order_release);
}

} // namespace kavel::platform
