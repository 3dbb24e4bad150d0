#pragma once

#include "acquisition/AccessSummary.h"

#include <QWidget>
#include <cstdint>
#include <vector>

namespace kavel::ui {

// Accesses and errors per clock minute as bars, the oldest minute at the left: accesses in the
// highlight colour, the errors among them in red in front. More minutes than pixel columns are
// summed into one column each; hovering names the minute or minutes of a column with their
// counts.
class MinuteChart final : public QWidget {
public:
    explicit MinuteChart(QWidget* parent = nullptr);

    // The counts of the minutes from firstMinute on (minutes as MinuteOfTime counts them).
    void SetMinutes(std::int64_t firstMinute, std::vector<MinuteCounts> minutes);
    std::int64_t FirstMinute() const { return FirstMinute_; }
    const std::vector<MinuteCounts>& Minutes() const { return Minutes_; }
    // The text a hover at the position shows; empty outside the bars.
    QString TipAt(QPoint position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The area of the bars and how many minutes go into one pixel column.
    QRect PlotArea() const;
    std::size_t MinutesPerColumn(const QRect& plot) const;

    std::int64_t FirstMinute_ = 0;
    std::vector<MinuteCounts> Minutes_;
};

} // namespace kavel::ui
