#include "platform/qt/QtTone.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

namespace kavel::platform {

QByteArray ToneSamples(const QAudioFormat& format, int frequencyHz, int durationMs) {
    const int rate = format.sampleRate();
    const int channels = std::max(format.channelCount(), 1);
    if (rate <= 0 || durationMs <= 0 ||
        (format.sampleFormat() != QAudioFormat::Int16 && format.sampleFormat() != QAudioFormat::Float))
        return {};
    const qsizetype frames = static_cast<qsizetype>(rate) * durationMs / 1000;
    const qsizetype ramp = std::max<qsizetype>(rate / 1000, 1);
    QByteArray bytes(frames * channels * format.bytesPerSample(), '\0');
    char* out = bytes.data();
    for (qsizetype i = 0; i < frames; ++i) {
        const double envelope = std::min({1.0, static_cast<double>(i) / static_cast<double>(ramp),
                                          static_cast<double>(frames - 1 - i) / static_cast<double>(ramp)});
        const double value =
            0.5 * envelope * std::sin(2.0 * std::numbers::pi * frequencyHz * static_cast<double>(i) / rate);
        for (int c = 0; c < channels; ++c) {
            if (format.sampleFormat() == QAudioFormat::Int16) {
                const auto sample = static_cast<qint16>(std::lround(value * 32767.0));
                std::memcpy(out, &sample, sizeof sample);
                out += sizeof sample;
            } else {
                const auto sample = static_cast<float>(value);
                std::memcpy(out, &sample, sizeof sample);
                out += sizeof sample;
            }
        }
    }
    return bytes;
}

namespace {

// The sink pulls from here; tones are appended from any thread.
class ToneSource final : public QIODevice {
public:
    void Append(const QByteArray& samples) {
        const std::lock_guard<std::mutex> lock(Lock_);
        Pending_.append(samples);
    }
    bool Empty() const {
        const std::lock_guard<std::mutex> lock(Lock_);
        return Pending_.isEmpty();
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        const std::lock_guard<std::mutex> lock(Lock_);
        return Pending_.size() + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const std::lock_guard<std::mutex> lock(Lock_);
        const qint64 n = std::min<qint64>(maxSize, Pending_.size());
        std::memcpy(data, Pending_.constData(), static_cast<std::size_t>(n));
        Pending_.remove(0, n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    mutable std::mutex Lock_;
    QByteArray Pending_;
};

} // namespace

class QtTone::Player final : public QObject {
public:
    Player() {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return;
        Format_.setSampleRate(44100);
        Format_.setChannelCount(1);
        Format_.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(Format_))
            Format_ = device.preferredFormat();
        if (Format_.sampleFormat() != QAudioFormat::Int16 && Format_.sampleFormat() != QAudioFormat::Float)
            Format_.setSampleFormat(QAudioFormat::Int16);
        Sink_ = new QAudioSink(device, Format_, this);
        Source_.open(QIODevice::ReadOnly);
    }

    // The sink reads from the source: it goes first.
    ~Player() override { delete Sink_; }

    bool HasOutput() const { return Sink_ != nullptr; }

    // Any thread.
    void Queue(int frequencyHz, int durationMs) {
        if (Sink_ == nullptr)
            return;
        Source_.Append(ToneSamples(Format_, frequencyHz, durationMs));
        QMetaObject::invokeMethod(
            this, [this] { Play(); }, Qt::QueuedConnection);
    }

private:
    // Main thread: an idle or stopped sink starts pulling again.
    void Play() {
        if (Sink_->state() == QAudio::ActiveState || Source_.Empty())
            return;
        Sink_->stop();
        Sink_->start(&Source_);
    }

    QAudioFormat Format_;
    QAudioSink* Sink_ = nullptr;
    ToneSource Source_;
};

QtTone::QtTone()
    : Player_(std::make_unique<Player>()) {}

QtTone::~QtTone() = default;

void QtTone::Beep(int frequencyHz, int durationMs) {
    Player_->Queue(frequencyHz, durationMs);
}

bool QtTone::HasOutput() const {
    return Player_->HasOutput();
}

} // namespace kavel::platform
