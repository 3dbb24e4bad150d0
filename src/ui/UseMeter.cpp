#include "ui/UseMeter.h"

#include "acquisition/EntryQueue.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/LocaleFormat.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kavel::ui {

namespace {
constexpr int StrokeFlushMs = 100;
} // namespace

// ImageUseMeter: shows the meter's image and reports hover and clicks in its columns.
class UseMeterSurface final : public QWidget {
public:
    explicit UseMeterSurface(UseMeter* meter, QWidget* parent)
        : QWidget(parent)
        , Meter_(meter) {
        setObjectName(QStringLiteral("ImageUseMeter"));
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (Meter_->Image_.isNull())
            painter.fillRect(rect(), Qt::white);
        else
            painter.drawImage(0, 0, Meter_->Image_);
    }
    void resizeEvent(QResizeEvent*) override { Meter_->ResizeSurface(width(), height()); }
    void mouseMoveEvent(QMouseEvent* event) override {
        const QString text = Meter_->HoverText(event->position().toPoint().x());
        setToolTip(text);
        if (QToolTip::isVisible())
            QToolTip::showText(event->globalPosition().toPoint(), text, this);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            Q_EMIT Meter_->ColumnClicked(Meter_->TimeAtColumn(event->position().toPoint().x()).Ms);
    }

private:
    UseMeter* Meter_;
};

UseMeter::UseMeter(EntryQueue& queue, QWidget* parent)
    : QFrame(parent)
    , Queue_(queue) {
    setObjectName(QStringLiteral("PanelUseMeter"));
    setFixedHeight(41);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("PanelUseMeterBevel"));
    bevel->setFrameShape(QFrame::Panel);
    bevel->setFrameShadow(QFrame::Sunken);
    outer->addWidget(bevel);
    auto* inner = new QVBoxLayout(bevel);
    inner->setContentsMargins(1, 1, 1, 1);
    Surface_ = new UseMeterSurface(this, bevel);
    inner->addWidget(Surface_);
    LastMinute_ = DecodeDateTime(platform::Now()).Minute;
    Timer_ = new QTimer(this);
    Timer_->setObjectName(QStringLiteral("TimerUseMeter"));
    Timer_->setInterval(1000);
    connect(Timer_, &QTimer::timeout, this, [this] { Tick(); });
    Timer_->start();
    StrokeFlush_ = new QTimer(this);
    StrokeFlush_->setSingleShot(true);
    StrokeFlush_->setInterval(StrokeFlushMs);
    connect(StrokeFlush_, &QTimer::timeout, this, [this] { FlushStrokes(); });
}

QColor UseMeter::LineColour() const {
    return palette().color(QPalette::Active, QPalette::Button);
}

QColor UseMeter::StrongColour() const {
    return palette().color(QPalette::Active, QPalette::Highlight);
}

QColor UseMeter::WeakColour() const {
    return palette().color(QPalette::Disabled, QPalette::Text);
}

void UseMeter::ResizeSurface(int width, int height) {
    if (width <= 0 || height <= 0) {
        Image_ = QImage();
        return;
    }
    Image_ = QImage(width, height, QImage::Format_RGB32);
    Clear();
    Redraw();
}

void UseMeter::Clear() {
    if (!Image_.isNull()) {
        Image_.fill(Qt::white);
        DrawScale();
    }
    Surface_->update();
}

void UseMeter::DrawScale() {
    if (Image_.isNull())
        return;
    const int w = Image_.width();
    const int h = Image_.height();
    const DateParts now = DecodeDateTime(platform::Now());
    QPainter painter(&Image_);
    QFont font = this->font();
    font.setPointSize(7);
    painter.setFont(font);
    const QColor line = LineColour();
    int x = w - now.Minute;
    int hour = now.Hour;
    while (x > -60) {
        painter.setPen(line);
        painter.drawLine(x, 0, x, h - 1);
        painter.setPen(Qt::black);
        const QString label = QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0'));
        painter.drawText(QRect(x + 2, -1, 60, h), Qt::AlignLeft | Qt::AlignTop, label);
        hour = hour == 0 ? 23 : hour - 1;
        x -= 60;
    }
    painter.setPen(line);
    painter.drawLine(0, h / 2, w - 1, h / 2);
    painter.end();
    Surface_->update();
}

void UseMeter::PaintColumn(int x, QRgb colour) {
    const int h = Image_.height();
    for (int y = h / 2 + 1; y < h; ++y)
        reinterpret_cast<QRgb*>(Image_.scanLine(y))[x] = colour;
}

void UseMeter::Mark(DateTime time, bool weak) {
    MarkAt(time, weak, platform::Now());
}

void UseMeter::MarkAt(DateTime time, bool weak, DateTime now) {
    if (Image_.isNull())
        return;
    const std::int64_t minutes = WholeMinutesBetween(time, now);
    const std::int64_t x = Image_.width() - minutes - 1;
    if (x < 0)
        return;
    const int column = static_cast<int>(x);
    const QRgb background = qRgb(255, 255, 255);
    if (weak &&
        reinterpret_cast<const QRgb*>(Image_.constScanLine(Image_.height() - 1))[column] != background)
        return;
    PaintColumn(column, (weak ? WeakColour() : StrongColour()).rgb());
    if (DirtyFirst_ > DirtyLast_) {
        DirtyFirst_ = DirtyLast_ = column;
        StrokeFlush_->start();
    } else {
        DirtyFirst_ = std::min(DirtyFirst_, column);
        DirtyLast_ = std::max(DirtyLast_, column);
    }
}

void UseMeter::FlushStrokes() {
    if (DirtyFirst_ > DirtyLast_)
        return;
    Surface_->update(DirtyFirst_, 0, DirtyLast_ - DirtyFirst_ + 1, Image_.height());
    DirtyFirst_ = 1;
    DirtyLast_ = 0;
}

void UseMeter::Shift(int n) {
    if (n != -1 || Image_.isNull())
        return;
    const int w = Image_.width();
    for (int y = 0; y < Image_.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(Image_.scanLine(y));
        std::memmove(row, row + 1, static_cast<std::size_t>(w - 1) * sizeof(QRgb));
        row[w - 1] = qRgb(255, 255, 255);
    }
    DrawScale();
}

void UseMeter::Redraw() {
    if (Image_.isNull())
        return;
    const DateTime now = platform::Now();
    EntryQueue& queue = Queue_;
    for (LogEntry* entry = queue.First(); entry != nullptr; entry = queue.Next(entry)) {
        if (entry->DisplayState == DisplayState::Hidden)
            MarkAt(entry->Time, true, now);
        else if (entry->DisplayState == DisplayState::Shown)
            MarkAt(entry->Time, false, now);
    }
    Surface_->update();
}

void UseMeter::Tick() {
    const int minute = DecodeDateTime(platform::Now()).Minute;
    if (minute != LastMinute_) {
        LastMinute_ = minute;
        Shift(-1);
    }
}

DateTime UseMeter::TimeAtColumn(int x) const {
    return DateTime{platform::Now().Ms + static_cast<std::int64_t>(x - Image_.width()) * MsPerMinute};
}

QString UseMeter::HoverText(int x) const {
    const DateParts parts = DecodeDateTime(TimeAtColumn(x));
    return QStringLiteral("%1:%2")
        .arg(parts.Hour, 2, 10, QLatin1Char('0'))
        .arg(parts.Minute, 2, 10, QLatin1Char('0'));
}

void TransferTotals::Reset(DateTime now) {
    TotalKb_ = 0;
    TodayKb_ = 0;
    PeriodStartMs_ = now.Ms;
}

std::optional<QString> TransferTotals::Add(std::int64_t bytes, DateTime time, DateTime now) {
    if (!Accumulate(bytes, time, now))
        return std::nullopt;
    return Text();
}

bool TransferTotals::Accumulate(std::int64_t bytes, DateTime time, DateTime now) {
    const DateParts today = DecodeDateTime(now);
    if (today.Day != Day_) {
        Day_ = today.Day;
        MonthMinutes_ = static_cast<std::int64_t>(DaysInMonth(today.Year, today.Month)) * 1440;
        Suffix_ = QStringLiteral("     ");
    }
    const float kb = static_cast<float>(static_cast<double>(bytes) / 1024.0);
    TotalKb_ += kb;
    if (DecodeDateTime(time).Day == Day_)
        TodayKb_ += kb;
    if (time.Ms < PeriodStartMs_)
        PeriodStartMs_ = time.Ms;
    return Project(now);
}

bool TransferTotals::Project(DateTime now) {
    const std::int64_t minutes = WholeMinutesBetween(DateTime{PeriodStartMs_}, now);
    if (minutes <= 0)
        return false;
    const double rate = static_cast<double>(TotalKb_) / static_cast<double>(minutes);
    MonthKb_ = static_cast<float>(static_cast<double>(MonthMinutes_) * rate);
    return true;
}

void TransferTotals::Forget(std::int64_t bytes, DateTime time) {
    const float kb = static_cast<float>(static_cast<double>(bytes) / 1024.0);
    TotalKb_ = std::max(TotalKb_ - kb, 0.0f);
    if (DecodeDateTime(time).Day == Day_)
        TodayKb_ = std::max(TodayKb_ - kb, 0.0f);
}

bool TransferTotals::Restart(std::optional<DateTime> oldest, DateTime now) {
    if (!oldest) {
        Reset(now);
        return false;
    }
    PeriodStartMs_ = oldest->Ms;
    return Project(now);
}

QString TransferTotals::Text() const {
    const auto whole = [](float value) {
        return QString::fromStdString(platform::CurrentLocaleFormat().Thousands(std::llround(value)));
    };
    return QStringLiteral("Übertragen insgesamt %1 KBytes (%2 KBytes heute, voraussichtlich %3 KBytes in "
                          "diesem Monat)%4")
        .arg(whole(TotalKb_), whole(TodayKb_), whole(MonthKb_), Suffix_);
}

} // namespace kavel::ui
