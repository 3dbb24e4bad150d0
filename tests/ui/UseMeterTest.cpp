#include "ui/UseMeter.h"

#include "UiTestSupport.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "support/TestWorkspace.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using kavel::test::Space;

namespace kavel::ui {
namespace {

DateTime At(int day, int hour, int minute, int second = 0) {
    return *EncodeDateTime(2024, 3, day, hour, minute, second);
}

// Thousands with "." as the German desktop writes them.
class DotThousands final : public platform::LocaleFormat {
public:
    std::string ShortDate(DateTime) const override { return {}; }
    std::string LongTime(DateTime) const override { return {}; }
    std::string Thousands(std::int64_t value) const override {
        std::string digits = std::to_string(value < 0 ? -value : value);
        for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
            digits.insert(static_cast<std::size_t>(i), ".");
        return value < 0 ? "-" + digits : digits;
    }
};

// Counts the paint events of a widget while it lives.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget* widget)
        : Widget_(widget) {
        widget->installEventFilter(this);
    }
    ~PaintCounter() override { Widget_->removeEventFilter(this); }
    int Count() const { return Count_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == Widget_ && event->type() == QEvent::Paint)
            ++Count_;
        return false;
    }

private:
    QWidget* Widget_;
    int Count_ = 0;
};

class UseMeterTest : public testing::Test {
protected:
    UseMeterTest() { test::App(); }
    ~UseMeterTest() override { Space().Entries().Clear(); }

    void Resize(int width, int height = 30) { Meter_.ResizeSurface(width, height); }
    QColor Pixel(int x, int y) const { return Meter_.Image().pixelColor(x, y); }
    // The colour at the bottom row of a column: what the strokes leave there.
    QColor Stroke(int x) const { return Pixel(x, Meter_.SurfaceHeight() - 1); }
    bool IsHourLine(int x) const { return Pixel(x, Meter_.SurfaceHeight() - 2) == Meter_.LineColour(); }

    LogEntry* Queue(DateTime time, DisplayState state) {
        auto entry =
            MakeEntry("10.0.0.1 - - [10/Mar/2024:11:00:00 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"-\"",
                      Server_, EntrySettings::Of(Space()));
        entry->Time = time;
        entry->DisplayState = state;
        return Space().Entries().Append(std::move(entry));
    }

    // Before any widget.
    QApplication& App_ = test::App();
    platform::ManualClock Clock_{At(10, 14, 37, 20)};
    platform::ScopedClock UseClock_{Clock_};
    Server Server_;
    UseMeter Meter_{Space().Entries()};
};

TEST_F(UseMeterTest, HourLinesStandAtTheMinutesOfTheCurrentHour) {
    Resize(918);
    std::vector<int> lines;
    for (int x = 0; x < 918; ++x)
        if (IsHourLine(x))
            lines.push_back(x);
    std::vector<int> expected;
    for (int x = 881; x > 0; x -= 60)
        expected.push_back(x);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    // The middle line runs through the whole width; the background elsewhere is white.
    EXPECT_EQ(Pixel(0, 15), Meter_.LineColour());
    EXPECT_EQ(Pixel(917, 15), Meter_.LineColour());
    EXPECT_EQ(Pixel(900, 25), QColor(Qt::white));
}

TEST_F(UseMeterTest, HoverNamesTheColumnsMinute) {
    Resize(918);
    struct Case {
        int x;
        const char* text;
    };
    const Case cases[] = {{917, "14:36"}, {918 - 37, "14:00"}, {0, "23:19"}};
    for (const Case& c : cases)
        EXPECT_EQ(Meter_.HoverText(c.x), QString::fromLatin1(c.text)) << c.x;
    Clock_.Set(At(10, 0, 5));
    EXPECT_EQ(Meter_.HoverText(918 - 5), QStringLiteral("00:00"));
    EXPECT_EQ(Meter_.HoverText(918 - 65), QStringLiteral("23:00"));
}

TEST_F(UseMeterTest, StrokeColumnsByAge) {
    Resize(100);
    struct Case {
        const char* name;
        DateTime time;
        int column; // -1: not drawn
    };
    const DateTime now = Clock_.Now();
    const Case cases[] = {
        {"just now", now, 99},
        {"5 min 59 s old", DateTime{now.Ms - 5 * MsPerMinute - 59 * MsPerSecond}, 100 - 6},
        {"in the future", DateTime{now.Ms + 3 * MsPerMinute}, 100 - 4},
        {"oldest column", DateTime{now.Ms - 99 * MsPerMinute}, 0},
        {"older than the strip", DateTime{now.Ms - 100 * MsPerMinute}, -1},
    };
    for (const Case& c : cases) {
        Meter_.Clear();
        const QImage before = Meter_.Image();
        Meter_.Mark(c.time, false);
        int changed = -1;
        for (int x = 0; x < 100; ++x)
            if (Meter_.Image().pixelColor(x, 29) != before.pixelColor(x, 29))
                changed = x;
        EXPECT_EQ(changed, c.column) << c.name;
        if (c.column >= 0) {
            EXPECT_EQ(Pixel(c.column, 16), Meter_.StrongColour()) << c.name;
            EXPECT_NE(Pixel(c.column, 15), Meter_.StrongColour()) << c.name;
        }
    }
}

TEST_F(UseMeterTest, WeakStrokesNeverCoverOthers) {
    Resize(100);
    const DateTime now = Clock_.Now();
    const DateTime twoMinutes{now.Ms - 2 * MsPerMinute};
    Meter_.Mark(twoMinutes, false);
    Meter_.Mark(twoMinutes, true);
    EXPECT_EQ(Stroke(97), Meter_.StrongColour());
    const DateTime fourMinutes{now.Ms - 4 * MsPerMinute};
    Meter_.Mark(fourMinutes, true);
    EXPECT_EQ(Stroke(95), Meter_.WeakColour());
    Meter_.Mark(fourMinutes, false);
    EXPECT_EQ(Stroke(95), Meter_.StrongColour());
}

TEST_F(UseMeterTest, MinuteChangeShiftsOneColumn) {
    Resize(100);
    Meter_.Mark(Clock_.Now(), false);
    Meter_.Tick();
    EXPECT_EQ(Stroke(99), Meter_.StrongColour());
    Clock_.Advance(40 * MsPerSecond);
    Meter_.Tick();
    EXPECT_EQ(Stroke(98), Meter_.StrongColour());
    EXPECT_EQ(Stroke(99), QColor(Qt::white));
    EXPECT_TRUE(IsHourLine(100 - 38));
}

TEST_F(UseMeterTest, ResizeRedrawsFromTheDisplayStates) {
    const DateTime now = Clock_.Now();
    Queue(DateTime{now.Ms - 1 * MsPerMinute}, DisplayState::Shown);
    Queue(DateTime{now.Ms - 2 * MsPerMinute}, DisplayState::Hidden);
    Queue(DateTime{now.Ms - 3 * MsPerMinute}, DisplayState::NotShown);
    Resize(50);
    EXPECT_EQ(Stroke(48), Meter_.StrongColour());
    EXPECT_EQ(Stroke(47), Meter_.WeakColour());
    EXPECT_EQ(Stroke(46), QColor(Qt::white));
}

TEST_F(UseMeterTest, TotalsInKilobytesAndTheMonthProjection) {
    DotThousands format;
    platform::SetCurrentLocaleFormat(&format);
    TransferTotals totals;
    totals.Reset(Clock_.Now());
    // Within the first minute after the oldest access the text stays as it was.
    EXPECT_EQ(totals.Add(10240, Clock_.Now(), Clock_.Now()), std::nullopt);
    EXPECT_EQ(totals.TotalKb(), 10.0);
    EXPECT_EQ(totals.TodayKb(), 10.0);
    // An access of yesterday an hour ago: the day number differs, and the period starts there.
    const DateTime yesterday = At(9, 14, 37, 20);
    const std::optional<QString> text = totals.Add(1024 * 1430, yesterday, Clock_.Now());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(totals.TotalKb(), 1440.0);
    EXPECT_EQ(totals.TodayKb(), 10.0);
    // 1440 KB in 1440 minutes over the 31 days of March.
    EXPECT_EQ(totals.MonthKb(), 31.0 * 1440);
    EXPECT_EQ(*text,
              QStringLiteral("Übertragen insgesamt 1.440 KBytes (10 KBytes heute, voraussichtlich 44.640 "
                             "KBytes in diesem Monat)     "));
    platform::SetCurrentLocaleFormat(nullptr);
}

// A stream of notifications draws every stroke into the image at once, but the strip is
// repainted at most once per flush interval, not once per stroke.
TEST_F(UseMeterTest, StrokesOfAStreamReachTheScreenTogether) {
    Meter_.resize(400, 40);
    Meter_.show();
    auto* surface = Meter_.findChild<QWidget*>(QStringLiteral("ImageUseMeter"));
    ASSERT_NE(surface, nullptr);
    {
        const PaintCounter first(surface);
        ASSERT_TRUE(test::RunEventLoopUntil([&] { return first.Count() > 0; }));
    }
    const PaintCounter counter(surface);
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 200; ++i) {
        Meter_.Mark(DateTime{Clock_.Now().Ms - (i % 50) * MsPerMinute}, false);
        QCoreApplication::processEvents();
    }
    const qint64 streamMs = elapsed.elapsed();
    EXPECT_EQ(Stroke(Meter_.SurfaceWidth() - 1), Meter_.StrongColour());
    EXPECT_EQ(Stroke(Meter_.SurfaceWidth() - 50), Meter_.StrongColour());
    EXPECT_LE(counter.Count(), streamMs / 100 + 2);
    // The last strokes are shown once the interval is over.
    const int before = counter.Count();
    EXPECT_TRUE(test::RunEventLoopUntil([&] { return counter.Count() > before; }));
}

} // namespace
} // namespace kavel::ui
