#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace kavel::ui {

// Where an alert's notification was shown.
enum class NotificationRoute {
    // The desktop's notification service (org.freedesktop.Notifications over D-Bus).
    Desktop,
    // The message balloon of Kavel's icon in the notification area.
    Tray,
    // Kavel's own popup at the bottom-right corner.
    Window,
};
// "Desktop", "Infobereich", "Kavel-Fenster".
QString RouteText(NotificationRoute route);

// Shows an alert to the user even when nobody looks at the window: through the desktop's
// notification service; without one (no session bus, no service, an error or no answer within
// a few seconds) through the tray icon's message, and where there is no tray icon through
// Kavel's own popup. Texts are plain text: a service that would read the body as markup gets
// it escaped. Never blocks the event loop: the service is asked asynchronously and the route
// taken is reported when its answer came. Main thread only.
class AlertNotifier final : public QObject {
public:
    struct Fallbacks {
        // Shows the message at the tray icon; false when there is none to show it at.
        std::function<bool(const QString& summary, const QString& body)> TrayMessage;
        std::function<void(const QString& summary, const QString& body)> Popup;
    };
    using Done = std::function<void(NotificationRoute route)>;

    explicit AlertNotifier(Fallbacks fallbacks, QObject* parent = nullptr);

    void Notify(const QString& summary, const QString& body, Done done = {});

    // How long the service may take to answer.
    void SetTimeoutMs(int ms) { TimeoutMs_ = ms; }

private:
    void Send(const QString& summary, const QString& body, const Done& done);
    void Fallback(const QString& summary, const QString& body, const Done& done);

    Fallbacks Fallbacks_;
    // Whether the service reads the body as markup, once it said so.
    std::optional<bool> BodyMarkup_;
    int TimeoutMs_ = 5000;
};

} // namespace kavel::ui
