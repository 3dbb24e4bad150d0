#pragma once

#include "ui/Icon.h"

#include <QColor>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

class QToolButton;
class QWindow;

namespace kavel::ui {

// FormQuickInform: the borderless balloon that rises at the bottom-right corner of the
// desktop to announce a new document access, waits five seconds and sinks away. It never
// takes the keyboard focus. The user can stop it, drag it elsewhere and close it.
// One instance for the whole run; main thread only.
//
// It stays out of the way: it is a window of its own (no owner), so it appears whether the
// main window is shown, minimised or in the notification area; while a modal dialog of the
// program is open it waits, and rises once the dialog is gone; it comes to rest clear of the
// areas it is told to avoid (the main window's scroll bars) where the desktop allows.
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
    // The Stop/Start button: holds the popup where it is, or lets it sink again.
    void ToggleStop();
    // A click on the close image: hidden at once and back at the start, its timers off.
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
    // Where a window of this size comes to rest: the bottom-right corner of the desktop, or
    // the place nearest to it inside the desktop that overlaps none of the areas; the corner
    // when there is no such place.
    static QPoint RestPosition(const QRect& desktop, QSize size, const QList<QRect>& avoid);
    // The screen areas to keep clear of, asked each time the popup starts to rise.
    void SetAvoidAreas(std::function<QList<QRect>()> areas) { AvoidAreas_ = std::move(areas); }
    // The main window: while it is shown the popup belongs to it (the desktop lists no window of
    // its own); while it is minimised or in the notification area the popup stands alone, so
    // that the desktop still shows it.
    void SetOwner(QWidget* owner) { Owner_ = owner; }
    QPoint RestPlace() const { return {Left_, RestTop_}; }
    // A message arrived while a modal dialog was open: the popup rises once it is gone.
    bool Deferred() const { return Deferred_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QRect Desktop() const;
    void PlaceAt(int left, int top);
    // From hidden: below the desktop's lower edge under the rest place, rising.
    void StartRising();
    // Shows the window, belonging to the owner while that is on the screen.
    void ShowOnTop();
    QWindow* WantedTransientParent() const;
    // While a modal dialog is open the popup waits hidden; afterwards it rises.
    void CheckModal();

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
    int RestTop_ = 0;
    bool Deferred_ = false;
    // The state a stopped popup had when a modal dialog sent it away.
    std::optional<MoveState> FrozenState_;
    std::function<QList<QRect>()> AvoidAreas_;
    QPointer<QWidget> Owner_;
    QTimer MoveTimer_;
    QTimer FlashTimer_;
    QTimer ModalTimer_;
    QToolButton* Stop_ = nullptr;
    std::optional<QPoint> DragOffset_;
    // Where the user was typing when the popup came up: a desktop that activates it anyway
    // gets the activation handed back.
    QPointer<QWidget> PreviousWindow_;
    QPointer<QWidget> PreviousFocus_;
};

} // namespace kavel::ui
