#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace kavel::ui {

// Minimising puts the main window into the desktop's notification area: the window is
// hidden and an icon with the window's caption as tip brings it back on a double click or
// through its menu ("Wiederherstellen", "Beenden"). Without a notification area the window
// is minimised as usual, so it never becomes unreachable. Main thread only.
class TrayControl final : public QObject {
public:
    explicit TrayControl(QWidget* window);
    ~TrayControl() override;

    // Runs at each minimise, before the window goes (the about box ends its fade).
    void SetOnMinimise(std::function<void()> hook) { OnMinimise_ = std::move(hook); }

    // ApplicationEventsMinimize: false when there is no notification area.
    bool Minimise();
    // RestoreFromTray.
    void Restore();
    // "Beenden": the icon goes, then the window closes.
    void Quit();
    // Run by the timer: an icon that the desktop lost is added again.
    void CheckIcon();

    bool InTray() const { return InTray_; }
    QSystemTrayIcon* Icon() const { return Icon_; }
    QMenu* Menu() const { return Menu_; }
    QTimer& Timer() { return Timer_; }

    // Test seam: whether the desktop has a notification area; none asks Qt.
    static void SetAvailabilityOverride(std::function<bool()> available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static bool Available();

    QWidget* Window_;
    QSystemTrayIcon* Icon_ = nullptr;
    QMenu* Menu_ = nullptr;
    QTimer Timer_;
    bool InTray_ = false;
    std::function<void()> OnMinimise_;
};

} // namespace kavel::ui
