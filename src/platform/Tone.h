#pragma once

#include "platform/ScopedInstall.h"

#include <mutex>
#include <vector>

namespace kavel::platform {

// A tone of a given pitch and length, as the new-access signal uses it. Beep may be called
// from any thread; an implementation may return before the tone has ended.
class Tone {
public:
    virtual ~Tone() = default;
    virtual void Beep(int frequencyHz, int durationMs) = 0;
};

// Plays nothing: the default when no tone service is installed.
class SilentTone final : public Tone {
public:
    void Beep(int, int) override {}
};

// The terminal's bell on standard error, once per tone; for the headless tool, whose terminal
// cannot play a pitch.
class TerminalBellTone final : public Tone {
public:
    void Beep(int frequencyHz, int durationMs) override;
};

// Remembers every tone in order; for tests.
class RecordingTone final : public Tone {
public:
    struct Sound {
        int FrequencyHz = 0;
        int DurationMs = 0;
        bool operator==(const Sound&) const = default;
    };
    void Beep(int frequencyHz, int durationMs) override;
    std::vector<Sound> Beeps() const;
    void Clear();

private:
    mutable std::mutex Lock_;
    std::vector<Sound> Beeps_;
};

// The process-wide tone service; a SilentTone unless one was installed. Install before any
// reader starts and uninstall after they ended.
Tone& CurrentTone();
void SetCurrentTone(Tone* tone);

using ScopedTone = ScopedInstall<Tone, &SetCurrentTone>;

} // namespace kavel::platform
