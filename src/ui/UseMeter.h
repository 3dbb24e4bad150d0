#pragma once

#include <QFrame>

namespace kavel {
// platform/DateTime.h pulls in <compare>, which moc cannot parse.
struct DateTime;
} // namespace kavel

namespace kavel::ui {

// PanelUseMeter with its sunken frame PanelUseMeterBevel and the drawing surface
// ImageUseMeter. For now only the seam of the use meter: the strip keeps its place and
// size in the window and offers the operations that the lists call; the drawing of the
// scale, the strokes and the scrolling come later.
class UseMeter final : public QFrame {
    Q_OBJECT

public:
    explicit UseMeter(QWidget* parent = nullptr);

    // ClearUseMeter: a blank surface (then the scale).
    void Clear();
    // DrawUseMeterScale.
    void DrawScale();
    // MarkUseMeter: the stroke of one access (weak for an access hidden by a filter).
    void Mark(DateTime time, bool weak);
    // ShiftUseMeter by n pixels.
    void Shift(int n);

    // Strokes asked for since the last Clear, for tests of the seam.
    int MarkCount() const { return Marks_; }

private:
    QWidget* Surface_ = nullptr;
    int Marks_ = 0;
};

} // namespace kavel::ui
