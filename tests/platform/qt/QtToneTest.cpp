#include "platform/qt/QtTone.h"

#include <QCoreApplication>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace kavel::platform {
namespace {

QAudioFormat Format(int rate, int channels, QAudioFormat::SampleFormat sampleFormat) {
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sampleFormat);
    return format;
}

// The first channel of every frame as a number from -1 to 1.
std::vector<double> FirstChannel(const QByteArray& bytes, const QAudioFormat& format) {
    std::vector<double> values;
    const int frameBytes = format.bytesPerFrame();
    for (qsizetype offset = 0; offset + frameBytes <= bytes.size(); offset += frameBytes) {
        if (format.sampleFormat() == QAudioFormat::Int16) {
            qint16 sample = 0;
            std::memcpy(&sample, bytes.constData() + offset, sizeof sample);
            values.push_back(sample / 32767.0);
        } else {
            float sample = 0;
            std::memcpy(&sample, bytes.constData() + offset, sizeof sample);
            values.push_back(sample);
        }
    }
    return values;
}

TEST(ToneSamplesTest, LengthAndPitchOfTheTwoSignalTones) {
    struct Case {
        QAudioFormat format;
        int frequencyHz;
    };
    const Case cases[] = {
        {Format(44100, 1, QAudioFormat::Int16), 1000},
        {Format(44100, 1, QAudioFormat::Int16), 500},
        {Format(48000, 2, QAudioFormat::Float), 1000},
        {Format(8000, 1, QAudioFormat::Int16), 500},
    };
    for (const Case& c : cases) {
        const QByteArray bytes = ToneSamples(c.format, c.frequencyHz, 100);
        ASSERT_EQ(bytes.size(), c.format.sampleRate() / 10 * c.format.bytesPerFrame()) << c.frequencyHz;
        const std::vector<double> values = FirstChannel(bytes, c.format);
        int crossings = 0;
        double peak = 0;
        for (std::size_t i = 1; i < values.size(); ++i) {
            if ((values[i - 1] < 0) != (values[i] < 0))
                ++crossings;
            peak = std::max(peak, std::abs(values[i]));
        }
        // Two crossings per period over a tenth of a second.
        EXPECT_NEAR(crossings, c.frequencyHz / 5, 2) << c.frequencyHz;
        EXPECT_GT(peak, 0.3);
        EXPECT_LE(peak, 0.5 + 1e-4);
        // No click: the tone starts and ends at silence.
        EXPECT_NEAR(values.front(), 0.0, 1e-3);
        EXPECT_NEAR(values.back(), 0.0, 1e-3);
    }
}

TEST(ToneSamplesTest, UnusableFormatsGiveNothing) {
    EXPECT_TRUE(ToneSamples(Format(0, 1, QAudioFormat::Int16), 1000, 100).isEmpty());
    EXPECT_TRUE(ToneSamples(Format(44100, 1, QAudioFormat::UInt8), 1000, 100).isEmpty());
    EXPECT_TRUE(ToneSamples(Format(44100, 1, QAudioFormat::Int16), 1000, 0).isEmpty());
}

TEST(QtToneTest, BeepsWithOrWithoutAnAudioDevice) {
    int argc = 1;
    char name[] = "qt-tone-test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtTone tone;
    tone.Beep(1000, 100);
    tone.Beep(500, 100);
    QCoreApplication::processEvents();
    SUCCEED() << (tone.HasOutput() ? "played" : "no audio output");
}

} // namespace
} // namespace kavel::platform
