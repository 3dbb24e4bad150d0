#include "ui/MinuteChart.h"

#include "platform/DateTime.h"
#include "platform/LocaleFormat.h"
#include "ui/DisplayText.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace kavel::ui {

namespace {

QString Clock(std::int64_t minute) {
    const DateParts parts = DecodeDateTime(DateTime{minute * MsPerMinute});
    return QStringLiteral("%1:%2")
        .arg(parts.Hour, 2, 10, QLatin1Char('0'))
        .arg(parts.Minute, 2, 10, QLatin1Char('0'));
}

QString DateAndClock(std::int64_t minute) {
    const DateParts parts = DecodeDateTime(DateTime{minute * MsPerMinute});
    return QStringLiteral("%1.%2.%3 %4")
        .arg(parts.Day, 2, 10, QLatin1Char('0'))
        .arg(parts.Month, 2, 10, QLatin1Char('0'))
        .arg(parts.Year)
        .arg(Clock(minute));
}

QString Thousands(std::int64_t value) {
    return QString::fromStdString(platform::CurrentLocaleFormat().Thousands(value));
}

// The bars begin right of the axis line at the plot's left edge.
int BarsWidth(const QRect& plot) {
    return plot.width() - 1;
}

QColor ErrorColour() {
    return QColor(205, 40, 40);
}

} // namespace

MinuteChart::MinuteChart(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("ChartOverviewMinutes"));
    setAccessibleName(QStringLiteral("Zugriffe und Fehler je Minute"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MinuteChart::SetMinutes(std::int64_t firstMinute, std::vector<MinuteCounts> minutes) {
    if (firstMinute == FirstMinute_ && minutes == Minutes_)
        return;
    FirstMinute_ = firstMinute;
    Minutes_ = std::move(minutes);
    update();
}

QSize MinuteChart::sizeHint() const {
    return {480, 6 * fontMetrics().height()};
}

QSize MinuteChart::minimumSizeHint() const {
    return {160, 4 * fontMetrics().height()};
}

QRect MinuteChart::PlotArea() const {
    const QFontMetrics metrics = fontMetrics();
    const int left = metrics.horizontalAdvance(QStringLiteral("0.000.000")) + 6;
    return rect().adjusted(left, metrics.height() / 2, -4, -(metrics.height() + 4));
}

std::size_t MinuteChart::MinutesPerColumn(const QRect& plot) const {
    const auto width = static_cast<std::size_t>(std::max(BarsWidth(plot), 1));
    return std::max<std::size_t>(1, (Minutes_.size() + width - 1) / width);
}

void MinuteChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& p = palette();
    painter.fillRect(rect(), p.color(QPalette::Base));
    const QRect plot = PlotArea();
    if (BarsWidth(plot) <= 0 || plot.height() <= 0)
        return;
    const std::size_t per = MinutesPerColumn(plot);
    const std::size_t columns = (Minutes_.size() + per - 1) / per;
    std::vector<MinuteCounts> summed(columns);
    std::uint32_t highest = 0;
    for (std::size_t i = 0; i < Minutes_.size(); ++i) {
        MinuteCounts& column = summed[i / per];
        column.Accesses += Minutes_[i].Accesses;
        column.Errors += Minutes_[i].Errors;
        highest = std::max(highest, column.Accesses);
    }
    painter.setPen(p.color(QPalette::Mid));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.topLeft(), plot.bottomLeft());
    painter.setPen(p.color(QPalette::Text));
    const QFontMetrics metrics = fontMetrics();
    const QRect labels(0, plot.top() - metrics.height() / 2, plot.left() - 4,
                       plot.height() + metrics.height());
    painter.drawText(labels, Qt::AlignRight | Qt::AlignTop, Thousands(highest));
    painter.drawText(labels, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("0"));
    if (!Minutes_.empty()) {
        const QRect times(plot.left(), plot.bottom() + 2, plot.width(), metrics.height() + 2);
        painter.drawText(times, Qt::AlignLeft | Qt::AlignVCenter, Clock(FirstMinute_));
        painter.drawText(times, Qt::AlignRight | Qt::AlignVCenter,
                         Clock(FirstMinute_ + static_cast<std::int64_t>(Minutes_.size()) - 1));
    }
    if (columns == 0 || highest == 0)
        return;
    const double columnWidth = static_cast<double>(BarsWidth(plot)) / static_cast<double>(columns);
    const auto heightOf = [&plot, highest](std::uint32_t count) {
        return static_cast<int>(static_cast<double>(plot.height() - 1) * count / highest + 0.5);
    };
    const QColor accesses = p.color(QPalette::Highlight);
    for (std::size_t i = 0; i < columns; ++i) {
        const int x0 = plot.left() + 1 + static_cast<int>(columnWidth * static_cast<double>(i));
        const int x1 = plot.left() + 1 + static_cast<int>(columnWidth * static_cast<double>(i + 1));
        // Wide columns keep a gap between them.
        const int width = std::max(1, x1 - x0 - (x1 - x0 > 3 ? 1 : 0));
        const int a = heightOf(summed[i].Accesses);
        const int e = heightOf(summed[i].Errors);
        if (a > 0)
            painter.fillRect(x0, plot.bottom() - a, width, a, accesses);
        if (e > 0)
            painter.fillRect(x0, plot.bottom() - e, width, e, ErrorColour());
    }
}

QString MinuteChart::TipAt(QPoint position) const {
    const QRect plot = PlotArea();
    if (Minutes_.empty() || BarsWidth(plot) <= 0 || position.x() <= plot.left() ||
        position.x() > plot.right())
        return {};
    const std::size_t per = MinutesPerColumn(plot);
    const std::size_t columns = (Minutes_.size() + per - 1) / per;
    const double columnWidth = static_cast<double>(BarsWidth(plot)) / static_cast<double>(columns);
    const auto column =
        std::min(columns - 1, static_cast<std::size_t>((position.x() - plot.left() - 1) / columnWidth));
    const std::size_t first = column * per;
    const std::size_t last = std::min(Minutes_.size(), first + per) - 1;
    MinuteCounts sum;
    for (std::size_t i = first; i <= last; ++i) {
        sum.Accesses += Minutes_[i].Accesses;
        sum.Errors += Minutes_[i].Errors;
    }
    QString when = DateAndClock(FirstMinute_ + static_cast<std::int64_t>(first));
    if (last != first)
        when += QStringLiteral(" bis ") + Clock(FirstMinute_ + static_cast<std::int64_t>(last));
    return QStringLiteral("%1\n%2 Zugriffe, %3 Fehler")
        .arg(when, Thousands(sum.Accesses), Thousands(sum.Errors));
}

bool MinuteChart::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = TipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), ToolTipText(tip), this);
        return true;
    }
    return QWidget::event(event);
}

} // namespace kavel::ui
