#pragma once

#include "platform/Tone.h"

#include <QAudioFormat>
#include <QByteArray>
#include <memory>

namespace kavel::platform {

// Samples of a sine tone in the given format (16-bit integers or floats, every channel
// alike), faded in and out over a millisecond so that the tone starts and ends without a click.
QByteArray ToneSamples(const QAudioFormat& format, int frequencyHz, int durationMs);

// Tones through the desktop's default audio output, fed with generated samples. Tones asked
// for in a row play one after the other. Without an audio device every tone is silently
// dropped. Beep may be called from any thread; create and destroy the object on the main
// thread, which plays the sound.
class QtTone final : public Tone {
public:
    QtTone();
    ~QtTone() override;
    QtTone(const QtTone&) = delete;
    QtTone& operator=(const QtTone&) = delete;

    void Beep(int frequencyHz, int durationMs) override;
    // Whether an audio output was found.
    bool HasOutput() const;

private:
    class Player;
    std::unique_ptr<Player> Player_;
};

} // namespace kavel::platform
