#include "ui/AccessPopup.h"

#include "base/VersionInfo.h"
#include "ui/DisplayText.h"
#include "ui/IconSet.h"

#include <QApplication>
#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <climits>

namespace kavel::ui {
namespace {

// Places of the balloon's parts in the window.
const QRect BalloonRect(19, 32, 310, 89);
const QRect TitleBarRect(55, 32, 274, 14);
const QRect PictureRect(1, 0, 77, 90);
const QRect HeadlineRect(80, 32, 240, 14);
const QRect MessageRect(80, 52, 217, 61);
const QRect AttentionRect(305, 51, 16, 16);
const QRect CloseRect(316, 34, 11, 10);

// The product picture inside its place.
QRect LogoRect() {
    return PictureRect.adjusted(4, 8, -4, -10);
}

// How often a waiting or shown popup looks for a modal dialog.
constexpr int ModalCheckMs = 200;

std::optional<QRect>& DesktopOverride() {
    static std::optional<QRect> desktop;
    return desktop;
}

} // namespace

AccessPopup::AccessPopup(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("FormQuickInform"));
    // The popup appears while the user types elsewhere: it must never take the focus.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(ClientWidth, ClientHeight);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);

    // Only the balloon and the picture's own shape are visible; the rest of the window, the
    // picture's transparent corners included, lets the desktop through.
    QBitmap mask(size());
    mask.fill(Qt::color0);
    {
        QPainter painter(&mask);
        painter.setPen(Qt::color1);
        painter.setBrush(Qt::color1);
        painter.drawRoundedRect(BalloonRect.adjusted(0, 0, -1, -1), 8, 8);
        const QRect logo = LogoRect();
        painter.drawPixmap(logo.topLeft(), ApplicationIcon().pixmap(logo.size()).mask());
    }
    setMask(mask);

    TitleColour_ = palette().color(QPalette::Inactive, QPalette::Highlight).lighter(130);
    HeadlineColour_ = palette().color(QPalette::Inactive, QPalette::HighlightedText);
    Headline_ = QStringLiteral("Kavel-Meldung");
    Message_ = QStringLiteral("<Nachricht>");

    Stop_ = new QToolButton(this);
    Stop_->setObjectName(QStringLiteral("SpeedButtonStop"));
    Stop_->setGeometry(28, 97, 30, 21);
    Stop_->setAutoRaise(true);
    Stop_->setFocusPolicy(Qt::NoFocus);
    Stop_->setText(QStringLiteral("Stop"));
    Stop_->setToolTip(QStringLiteral("Fensterbewegung stoppen bzw. starten"));
    QFont small = font;
    small.setPixelSize(9);
    small.setUnderline(true);
    Stop_->setFont(small);
    connect(Stop_, &QToolButton::clicked, this, [this] { ToggleStop(); });

    MoveTimer_.setObjectName(QStringLiteral("TimerQuickInform"));
    MoveTimer_.setInterval(30);
    connect(&MoveTimer_, &QTimer::timeout, this, [this] { MoveStep(); });
    FlashTimer_.setObjectName(QStringLiteral("TimerQuickInformFlash"));
    FlashTimer_.setInterval(300);
    connect(&FlashTimer_, &QTimer::timeout, this, [this] { FlashStep(); });
    ModalTimer_.setInterval(ModalCheckMs);
    connect(&ModalTimer_, &QTimer::timeout, this, [this] { CheckModal(); });

    const QPoint start = StartPosition();
    PlaceAt(start.x(), start.y());
}

QRect AccessPopup::VirtualDesktop(const QList<QRect>& screens) {
    QRect united;
    for (const QRect& screen : screens)
        united = united.united(screen);
    return united;
}

void AccessPopup::SetDesktopOverride(std::optional<QRect> desktop) {
    DesktopOverride() = desktop;
}

QRect AccessPopup::Desktop() const {
    if (DesktopOverride())
        return *DesktopOverride();
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.push_back(screen->geometry());
    return VirtualDesktop(screens);
}

QPoint AccessPopup::StartPosition() const {
    const QRect desktop = Desktop();
    // W and H: the bottom-right corner of the virtual desktop, as coordinates.
    return {desktop.x() + desktop.width() - ClientWidth, desktop.y() + desktop.height()};
}

QPoint AccessPopup::RestPosition(const QRect& desktop, QSize size, const QList<QRect>& avoid) {
    const QPoint corner(desktop.x() + desktop.width() - size.width(),
                        desktop.y() + desktop.height() - size.height());
    // Candidates: the corner, and left of or above each area to avoid.
    QList<int> lefts{corner.x()};
    QList<int> tops{corner.y()};
    for (const QRect& area : avoid) {
        lefts.push_back(area.left() - size.width());
        tops.push_back(area.top() - size.height());
    }
    std::optional<QPoint> best;
    int bestDistance = INT_MAX;
    for (const int left : lefts) {
        for (const int top : tops) {
            const QRect place(QPoint(left, top), size);
            if (!desktop.contains(place))
                continue;
            if (std::any_of(avoid.begin(), avoid.end(),
                            [&place](const QRect& area) { return area.intersects(place); }))
                continue;
            const int distance = (corner.x() - left) + (corner.y() - top);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = QPoint(left, top);
            }
        }
    }
    return best.value_or(corner);
}

void AccessPopup::PlaceAt(int left, int top) {
    Left_ = left;
    Top_ = top;
    move(left, top);
}

void AccessPopup::ShowReaderMessage(const std::string& text, const std::string& caption, Icon image) {
    // Each line on its own, so that the CR LF between them stays a line break while control
    // bytes inside a line from the log become visible symbols.
    QStringList lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(DisplayText(std::string_view(text).substr(start, end - start)));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    ShowInform(lines.join(QLatin1Char('\n')), DisplayText(caption), image);
}

void AccessPopup::StartRising() {
    const QRect desktop = Desktop();
    const QList<QRect> avoid = AvoidAreas_ ? AvoidAreas_() : QList<QRect>();
    const QPoint rest = RestPosition(desktop, size(), avoid);
    RestTop_ = rest.y();
    // Just below the desktop's lower edge, under the place where it comes to rest.
    PlaceAt(rest.x(), desktop.y() + desktop.height());
    PreviousWindow_ = QApplication::activeWindow();
    PreviousFocus_ = QApplication::focusWidget();
    ShowOnTop();
    State_ = MoveState::Rising;
    MoveTimer_.setInterval(30);
    MoveTimer_.start();
    ModalTimer_.start();
}

QWindow* AccessPopup::WantedTransientParent() const {
    const bool ownerShown = Owner_ != nullptr && Owner_->isVisible() && !Owner_->isMinimized();
    return ownerShown ? Owner_->windowHandle() : nullptr;
}

void AccessPopup::ShowOnTop() {
    // A window that belongs to a withdrawn or iconified one is kept off the screen by the
    // desktop; the owner is set anew each time, as the window manager reads it when it maps.
    winId();
    if (QWindow* window = windowHandle())
        window->setTransientParent(WantedTransientParent());
    // The desktop iconifies the popup together with its owner; it comes back as it was.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
}

void AccessPopup::CheckModal() {
    const bool modal = QApplication::activeModalWidget() != nullptr;
    if (modal && State_ != MoveState::Hidden) {
        // Never over a dialog the user is answering: away until it is gone, then up again. A
        // popup the user stopped or dragged comes back where it was.
        MoveTimer_.stop();
        FrozenState_ = MovementStopped_ ? std::optional<MoveState>(State_) : std::nullopt;
        State_ = MoveState::Hidden;
        hide();
        Deferred_ = true;
    } else if (!modal && Deferred_) {
        Deferred_ = false;
        if (FrozenState_) {
            State_ = *FrozenState_;
            FrozenState_.reset();
            ShowOnTop();
        } else {
            StartRising();
        }
        if (!FlashTimer_.isActive())
            FlashTimer_.start();
        return;
    }
    // The owner went to the notification area (or came back) while the popup is up: shown
    // anew, so that the desktop neither hides it with its owner nor lists it on its own.
    if (State_ != MoveState::Hidden && windowHandle() != nullptr &&
        (windowHandle()->transientParent() != WantedTransientParent() || isMinimized())) {
        hide();
        ShowOnTop();
    }
    if (State_ == MoveState::Hidden && !Deferred_)
        ModalTimer_.stop();
}

void AccessPopup::ShowInform(const QString& text, const QString& caption, Icon image) {
    Headline_ = QString::fromStdString(ProductName()) + QLatin1Char('-') + caption;
    Message_ = text;
    Image_ = image;
    if (QApplication::activeModalWidget() != nullptr) {
        // Shown later, with the newest message.
        if (State_ != MoveState::Hidden)
            CheckModal();
        Deferred_ = true;
        ModalTimer_.start();
        update();
        return;
    }
    if (!FlashTimer_.isActive())
        FlashTimer_.start();
    switch (State_) {
    case MoveState::Hidden:
        StartRising();
        break;
    case MoveState::Rising:
        break;
    case MoveState::Waiting:
        if (!MovementStopped_) {
            MoveTimer_.stop();
            MoveTimer_.start();
        }
        break;
    case MoveState::Sinking:
        // The sinking pace stays: it rises again at 15 ms a step.
        State_ = MoveState::Rising;
        break;
    }
    update();
}

void AccessPopup::MoveStep() {
    const QRect desktop = Desktop();
    const int bottom = desktop.y() + desktop.height();
    switch (State_) {
    case MoveState::Rising:
        PlaceAt(Left_, Top_ - 4);
        if (Top_ <= RestTop_) {
            State_ = MoveState::Waiting;
            MoveTimer_.setInterval(5000);
        }
        break;
    case MoveState::Waiting:
        State_ = MoveState::Sinking;
        MoveTimer_.setInterval(15);
        break;
    case MoveState::Sinking:
        PlaceAt(Left_, Top_ + 4);
        if (Top_ > bottom) {
            State_ = MoveState::Hidden;
            MoveTimer_.stop();
            ModalTimer_.stop();
            hide();
        }
        break;
    case MoveState::Hidden:
        break;
    }
}

void AccessPopup::FlashStep() {
    if (!ColoursSaved_) {
        ColoursSaved_ = true;
        SavedTitleColour_ = TitleColour_;
        SavedHeadlineColour_ = HeadlineColour_;
    }
    FlashOn_ = !FlashOn_;
    TitleColour_ = FlashOn_ ? QColor(255, 255, 0) : SavedTitleColour_;
    HeadlineColour_ = FlashOn_ ? QColor(255, 0, 0) : SavedHeadlineColour_;
    if (--FlashCount_ == 0) {
        FlashTimer_.stop();
        FlashCount_ = 8;
    }
    update(TitleBarRect);
}

void AccessPopup::ToggleStop() {
    MovementStopped_ = !MovementStopped_;
    Stop_->setText(MovementStopped_ ? QStringLiteral("Start") : QStringLiteral("Stop"));
    State_ = MoveState::Sinking;
    MoveTimer_.setInterval(15);
    if (MovementStopped_)
        MoveTimer_.stop();
    else
        MoveTimer_.start();
}

void AccessPopup::CloseNow() {
    State_ = MoveState::Hidden;
    Deferred_ = false;
    FrozenState_.reset();
    MoveTimer_.stop();
    ModalTimer_.stop();
    const QPoint start = StartPosition();
    PlaceAt(start.x(), start.y());
    hide();
}

void AccessPopup::StopAfterDrag() {
    MoveTimer_.stop();
    Stop_->setText(QStringLiteral("Start"));
    MovementStopped_ = true;
}

void AccessPopup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& p = palette();
    const QColor outline = p.color(QPalette::Active, QPalette::Highlight);
    QLinearGradient gradient(BalloonRect.topLeft(), BalloonRect.bottomLeft());
    gradient.setColorAt(0, p.color(QPalette::Inactive, QPalette::Highlight).lighter(170));
    gradient.setColorAt(1, p.color(QPalette::Base));
    painter.setPen(outline);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(BalloonRect).adjusted(0.5, 0.5, -1.5, -1.5), 8, 8);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(TitleColour_);
    painter.drawRect(TitleBarRect.adjusted(0, 0, -1, -1));

    ApplicationIcon().paint(&painter, LogoRect());

    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(HeadlineColour_);
    painter.drawText(HeadlineRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Headline_);
    painter.setFont(font());
    painter.setPen(p.color(QPalette::WindowText));
    painter.drawText(MessageRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Message_);
    if (Image_ != Icon::None)
        IconFor(Image_).paint(&painter, AttentionRect);

    // The close mark.
    painter.setPen(QPen(HeadlineColour_, 1.5));
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF cross = QRectF(CloseRect).adjusted(2, 1.5, -2, -1.5);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
}

void AccessPopup::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (CloseRect.contains(at)) {
        CloseNow();
        return;
    }
    // Dragging by any part of the balloon, as by a title bar.
    StopAfterDrag();
    QWindow* window = windowHandle();
    if (window == nullptr || !window->startSystemMove())
        DragOffset_ = event->globalPosition().toPoint() - pos();
}

void AccessPopup::mouseMoveEvent(QMouseEvent* event) {
    if (DragOffset_) {
        const QPoint to = event->globalPosition().toPoint() - *DragOffset_;
        PlaceAt(to.x(), to.y());
    }
}

bool AccessPopup::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && PreviousWindow_ != nullptr && PreviousWindow_ != this) {
        QPointer<QWidget> focus = PreviousFocus_;
        PreviousWindow_->activateWindow();
        if (focus != nullptr)
            focus->setFocus(Qt::OtherFocusReason);
    }
    return QWidget::event(event);
}

void AccessPopup::mouseReleaseEvent(QMouseEvent*) {
    DragOffset_.reset();
    Left_ = x();
    Top_ = y();
}

} // namespace kavel::ui
