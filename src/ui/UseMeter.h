#pragma once

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>

class QTimer;

namespace kavel {
class EntryQueue;
// platform/DateTime.h pulls in <compare>, which moc cannot parse.
struct DateTime;
} // namespace kavel

namespace kavel::ui {

class UseMeterSurface;

// PanelUseMeter ("Benutz-O-Meter") with its sunken frame PanelUseMeterBevel and the drawing
// ImageUseMeter: one pixel column per minute, the newest minute at the right edge, a line
// and a label for every full hour and a stroke below the middle line for every access of the
// current view. The drawing scrolls one column to the left when the clock's minute changes.
class UseMeter final : public QFrame {
    Q_OBJECT

public:
    // Redraws from the queue's entries.
    explicit UseMeter(EntryQueue& queue, QWidget* parent = nullptr);

    // ClearUseMeter: a white surface with the scale.
    void Clear();
    // DrawUseMeterScale: the hour lines with their labels, then the middle line.
    void DrawScale();
    // MarkUseMeter: the stroke of one access; a weak one (an access hidden by a filter)
    // never covers a stroke that is already there.
    void Mark(DateTime time, bool weak);
    void MarkAt(DateTime time, bool weak, DateTime now);
    // ShiftUseMeter: only n = -1 (one column to the left) moves the drawing.
    void Shift(int n);
    // RedrawUseMeter: a stroke for every queue entry by its DisplayState.
    void Redraw();
    // Run by the timer: a shift when the clock's minute changed since the last one.
    void Tick();
    // The drawing gets the given size (its previous content discarded), then Clear and Redraw;
    // what a resize of the window does.
    void ResizeSurface(int width, int height);

    // The time of a pixel column: now + (x - W) minutes; the hover hint shows it as "hh:nn".
    DateTime TimeAtColumn(int x) const;
    QString HoverText(int x) const;

    const QImage& Image() const { return Image_; }
    int SurfaceWidth() const { return Image_.width(); }
    int SurfaceHeight() const { return Image_.height(); }
    QColor LineColour() const;
    QColor StrongColour() const;
    QColor WeakColour() const;

Q_SIGNALS:
    // A left click on column x, as the time of that column in milliseconds.
    void ColumnClicked(qint64 timeMs);

private:
    friend class UseMeterSurface;
    EntryQueue& Queue_;
    void PaintColumn(int x, QRgb colour);
    // Strokes reach the screen at most every StrokeFlushMs: a reader taking over its history
    // would otherwise have the strip repainted for every notification.
    void FlushStrokes();

    UseMeterSurface* Surface_ = nullptr;
    QTimer* Timer_ = nullptr;
    QTimer* StrokeFlush_ = nullptr;
    // Columns drawn since the last flush; empty when DirtyFirst_ > DirtyLast_.
    int DirtyFirst_ = 1;
    int DirtyLast_ = 0;
    QImage Image_;
    int LastMinute_ = -1;
};

// The transfer totals under the lists: kilobytes in the view, today and projected over the
// whole month from the average rate since the oldest access taken into the view.
class TransferTotals {
public:
    // ResetTransferTotals.
    void Reset(DateTime now);
    // AddToTransferTotals for one access: the status text when at least a whole minute lies
    // between the oldest access and now, nothing when the text stays as it was.
    std::optional<QString> Add(std::int64_t bytes, DateTime time, DateTime now);
    // Add without making the text: true when Text() is due. A take-over of many entries
    // counts them all and shows the text once.
    bool Accumulate(std::int64_t bytes, DateTime time, DateTime now);
    // An access leaves the view (its entry expired): its bytes leave the totals as they came.
    void Forget(std::int64_t bytes, DateTime time);
    // After accesses left: the period starts at the oldest access still in the view, and
    // true when the status text is due, as for a rebuild of the view; none left is a reset.
    bool Restart(std::optional<DateTime> oldest, DateTime now);
    // The status text of the totals counted so far.
    QString Text() const;

    double TotalKb() const { return TotalKb_; }
    double TodayKb() const { return TodayKb_; }
    double MonthKb() const { return MonthKb_; }

private:
    // MonthKb from the rate since the period's start; false while less than a minute passed.
    bool Project(DateTime now);

    float TotalKb_ = 0;
    float TodayKb_ = 0;
    float MonthKb_ = 0;
    std::int64_t PeriodStartMs_ = 0;
    int Day_ = 0;
    std::int64_t MonthMinutes_ = 0;
    QString Suffix_;
};

} // namespace kavel::ui
