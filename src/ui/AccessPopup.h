#pragma once

#include "base/Icon.h"

#include <QColor>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <string>

class QToolButton;

namespace kavel::ui {

// FormQuickInform: the borderless balloon that rises at the bottom-right corner of the
// desktop to announce a new document access, waits five seconds and sinks away. It never
// takes the keyboard focus. The user can stop it, drag it elsewhere and close it.
// One instance for the whole run; main thread only.
class AccessPopup final : public QWidget {
public:
    enum class MoveState { Hidden, Rising, Waiting, Sinking };

    static constexpr int ClientWidth = 330;
    static constexpr int ClientHeight = 122;

    explicit AccessPopup(QWidget* parent = nullptr);

    // ShowInform: headline "<product>-<caption>", the message, the access' image (none: the
    // icon place stays empty), then the popup rises or stays longer by its state.
    void ShowInform(const QString& text, const QString& caption, Icon image);
    // The readers' entry point: their texts are log bytes with CR LF line breaks.
    void ShowReaderMessage(const std::string& text, const std::string& caption, Icon image);

    // The two timers' steps, also for tests that drive the popup without waiting.
    void MoveStep();
    void FlashStep();
    // SpeedButtonStopClick.
    void ToggleStop();
    // ImageFormCloseMouseDown.
    void CloseNow();
    // What the end of a drag leaves: the timer off and the movement stopped.
    void StopAfterDrag();

    MoveState State() const { return State_; }
    bool MovementStopped() const { return MovementStopped_; }
    int FlashCount() const { return FlashCount_; }
    bool FlashOn() const { return FlashOn_; }
    int Top() const { return Top_; }
    QTimer& MoveTimer() { return MoveTimer_; }
    QTimer& FlashTimer() { return FlashTimer_; }
    QToolButton* StopButton() const { return Stop_; }
    QString Headline() const { return Headline_; }
    QString Message() const { return Message_; }
    Icon Image() const { return Image_; }
    QColor TitleColour() const { return TitleColour_; }
    QColor HeadlineColour() const { return HeadlineColour_; }

    // The virtual desktop: all screens united (the bottom-right corner is where the popup
    // rises); tests may put another one in place.
    static QRect VirtualDesktop(const QList<QRect>& screens);
    static void SetDesktopOverride(std::optional<QRect> desktop);
    QPoint StartPosition() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QRect Desktop() const;
    void PlaceAt(int left, int top);

    MoveState State_ = MoveState::Hidden;
    bool MovementStopped_ = false;
    int FlashCount_ = 8;
    bool FlashOn_ = false;
    bool ColoursSaved_ = false;
    QColor SavedTitleColour_;
    QColor SavedHeadlineColour_;
    QColor TitleColour_;
    QColor HeadlineColour_;
    QString Headline_;
    QString Message_;
    Icon Image_ = Icon::None;
    int Left_ = 0;
    int Top_ = 0;
    QTimer MoveTimer_;
    QTimer FlashTimer_;
    QToolButton* Stop_ = nullptr;
    std::optional<QPoint> DragOffset_;
    // Where the user was typing when the popup came up: a desktop that activates it anyway
    // gets the activation handed back.
    QPointer<QWidget> PreviousWindow_;
    QPointer<QWidget> PreviousFocus_;
};

} // namespace kavel::ui
