#include "ui/TrayControl.h"

#include "ui/DisplayText.h"
#include "ui/IconSet.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QWidget>

namespace kavel::ui {
namespace {

std::function<bool()>& AvailabilityOverride() {
    static std::function<bool()> available;
    return available;
}

// The tip field of the notification area holds 63 characters.
constexpr qsizetype TipLength = 63;

} // namespace

TrayControl::TrayControl(QWidget* window)
    : QObject(window)
    , Window_(window) {
    Menu_ = new QMenu(window);
    Menu_->setObjectName(QStringLiteral("PopupMenuSystray"));
    QAction* restore =
        Menu_->addAction(IconFor(kavel::Icon::TrayRestore), QStringLiteral("Wiederherstellen"));
    restore->setObjectName(QStringLiteral("PopupMenuSystrayOpen"));
    Menu_->setDefaultAction(restore);
    Menu_->addSeparator();
    QAction* quit = Menu_->addAction(IconFor(kavel::Icon::TrayQuit), QStringLiteral("Beenden"));
    quit->setObjectName(QStringLiteral("PopupMenuSystrayQuit"));
    quit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    // Only shown as a hint: the main window's own close already answers Alt+F4.
    quit->setShortcutContext(Qt::WidgetShortcut);
    connect(restore, &QAction::triggered, this, [this] { Restore(); });
    connect(quit, &QAction::triggered, this, [this] { Quit(); });

    Timer_.setObjectName(QStringLiteral("TimerSystray"));
    Timer_.setInterval(1000);
    connect(&Timer_, &QTimer::timeout, this, [this] { CheckIcon(); });
    window->installEventFilter(this);
}

TrayControl::~TrayControl() {
    if (Icon_ != nullptr)
        Icon_->hide();
}

void TrayControl::SetAvailabilityOverride(std::function<bool()> available) {
    AvailabilityOverride() = std::move(available);
}

bool TrayControl::Available() {
    if (AvailabilityOverride())
        return AvailabilityOverride()();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Window_ && event->type() == QEvent::WindowStateChange && Window_->isMinimized() &&
        !InTray_) {
        // After the state change has been handled: hiding inside it confuses some desktops.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (Window_->isMinimized())
                    Minimise();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

bool TrayControl::Minimise() {
    if (OnMinimise_)
        OnMinimise_();
    if (!Available())
        return false;
    if (Icon_ == nullptr) {
        Icon_ = new QSystemTrayIcon(ApplicationIcon(), this);
        Icon_->setContextMenu(Menu_);
        connect(Icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick)
                Restore();
        });
    }
    Window_->hide();
    // The caption names the current server; a name that looks like markup is shown as written.
    const QString tip = Window_->windowTitle().left(TipLength);
    Icon_->setToolTip(Qt::mightBeRichText(tip) ? ToolTipText(tip) : tip);
    // One icon object for the run: minimising again shows the same icon, never a second one.
    Icon_->show();
    InTray_ = true;
    Timer_.start();
    return true;
}

void TrayControl::Restore() {
    Timer_.stop();
    Window_->showNormal();
    if (Icon_ != nullptr)
        Icon_->hide();
    InTray_ = false;
    Window_->raise();
    Window_->activateWindow();
}

void TrayControl::Quit() {
    Timer_.stop();
    if (Icon_ != nullptr)
        Icon_->hide();
    InTray_ = false;
    Window_->close();
}

void TrayControl::CheckIcon() {
    if (!InTray_)
        return;
    if (!Available()) {
        // The notification area went away: the window must stay reachable.
        Timer_.stop();
        InTray_ = false;
        Window_->showMinimized();
        return;
    }
    if (Icon_ == nullptr || !Icon_->isVisible())
        Minimise();
}

} // namespace kavel::ui
