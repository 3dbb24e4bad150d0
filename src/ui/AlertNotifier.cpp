#include "ui/AlertNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace kavel::ui {

namespace {

const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString NotificationsInterface = QStringLiteral("org.freedesktop.Notifications");

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");

} // namespace

QString RouteText(NotificationRoute route) {
    switch (route) {
    case NotificationRoute::Desktop:
        return QStringLiteral("Desktop");
    case NotificationRoute::Tray:
        return QStringLiteral("Infobereich");
    case NotificationRoute::Window:
        return QStringLiteral("Kavel-Fenster");
    }
    return {};
}

AlertNotifier::AlertNotifier(Fallbacks fallbacks, QObject* parent)
    : QObject(parent)
    , Fallbacks_(std::move(fallbacks)) {}

void AlertNotifier::Notify(const QString& summary, const QString& body, Done done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Fallback(summary, body, done);
        return;
    }
    if (BodyMarkup_) {
        Send(summary, body, done);
        return;
    }
    // The service says once whether it reads the body as markup.
    const QDBusMessage ask = QDBusMessage::createMethodCall(
        NotificationsService, NotificationsPath, NotificationsInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, TimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body, done](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isError()) {
                    Fallback(summary, body, done);
                    return;
                }
                BodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                Send(summary, body, done);
            });
}

void AlertNotifier::Send(const QString& summary, const QString& body, const Done& done) {
    QDBusMessage message = QDBusMessage::createMethodCall(NotificationsService, NotificationsPath,
                                                          NotificationsInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(2)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("de.quarnet.Kavel"));
    // Log text is plain text: a service that reads markup gets it escaped.
    const QString plainBody = BodyMarkup_.value_or(false) ? body.toHtmlEscaped() : body;
    message << QStringLiteral("Kavel") << uint{0} << QStringLiteral("de.quarnet.Kavel") << summary
            << plainBody << QStringList{} << hints << -1;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, TimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body, done](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isError()) {
                    // The service went away meanwhile: ask again next time.
                    BodyMarkup_.reset();
                    Fallback(summary, body, done);
                    return;
                }
                if (done)
                    done(NotificationRoute::Desktop);
            });
}

void AlertNotifier::Fallback(const QString& summary, const QString& body, const Done& done) {
    if (Fallbacks_.TrayMessage && Fallbacks_.TrayMessage(summary, body)) {
        if (done)
            done(NotificationRoute::Tray);
        return;
    }
    if (Fallbacks_.Popup)
        Fallbacks_.Popup(summary, body);
    if (done)
        done(NotificationRoute::Window);
}

} // namespace kavel::ui
