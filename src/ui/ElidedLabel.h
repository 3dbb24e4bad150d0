#pragma once

#include <QLabel>

namespace kavel::ui {

// A one-line plain-text label that never asks for more room than a few characters: a text
// wider than the label is cut at its end with "…", and the whole text is its tip. Its text is
// never taken for markup, so a server or file name shows as it is written.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    // The width the label asks for when there is room (none: its whole text).
    void SetPreferredWidth(int width) { PreferredWidth_ = width; }
    // Whether the text is cut at the label's current width.
    bool Elided() const;
    // The tip shown on hover: the whole text while it is cut, else none.
    QString TipText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QString ShownText() const;

    int PreferredWidth_ = 0;
};

} // namespace kavel::ui
