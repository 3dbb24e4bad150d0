#include "ui/AlertNotifier.h"

#include "UiTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QVariantMap>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace kavel::ui {
namespace {

// A session bus of the test's own, when dbus-daemon is there: the desktop's bus is never used.
// Without it the bus address points nowhere, and every notification takes a fallback.
class PrivateBus {
public:
    PrivateBus() {
        FILE* daemon =
            ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
        char address[512] = {};
        char pid[32] = {};
        if (daemon != nullptr && std::fgets(address, sizeof address, daemon) != nullptr &&
            std::fgets(pid, sizeof pid, daemon) != nullptr) {
            Address_ = address;
            while (!Address_.empty() && (Address_.back() == '\n' || Address_.back() == '\r'))
                Address_.pop_back();
            Pid_ = std::atoi(pid);
        }
        if (daemon != nullptr)
            ::pclose(daemon);
        ::setenv("DBUS_SESSION_BUS_ADDRESS",
                 Address_.empty() ? "unix:path=/nonexistent/kavel-test-bus" : Address_.c_str(), 1);
    }
    ~PrivateBus() {
        if (Pid_ > 0)
            ::kill(Pid_, SIGTERM);
    }
    bool Running() const { return !Address_.empty(); }
    const std::string& Address() const { return Address_; }

private:
    std::string Address_;
    pid_t Pid_ = 0;
};

PrivateBus& Bus() {
    static PrivateBus bus;
    return bus;
}

// The desktop's notification service as the tests need it: it says whether it reads markup and
// remembers what it was asked to show.
class FakeNotifications final : public QDBusVirtualObject {
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(QVariant(Capabilities)));
            return true;
        }
        if (message.member() == QStringLiteral("Notify")) {
            const QList<QVariant> args = message.arguments();
            Summary = args.value(3).toString();
            Body = args.value(4).toString();
            connection.send(message.createReply(QVariant::fromValue(uint{7})));
            return true;
        }
        return false;
    }
    QString introspect(const QString&) const override { return {}; }

    QStringList Capabilities{QStringLiteral("body"), QStringLiteral("body-markup")};
    QString Summary;
    QString Body;
};

class AlertNotifierTest : public testing::Test {
protected:
    AlertNotifierTest() {
        Bus();
        test::App();
    }

    AlertNotifier::Fallbacks Fallbacks(bool tray) {
        return {[this, tray](const QString& summary, const QString&) {
                    if (tray)
                        Shown = QStringLiteral("tray: ") + summary;
                    return tray;
                },
                [this](const QString& summary, const QString& body) {
                    Shown = QStringLiteral("popup: ") + summary + QLatin1Char('|') + body;
                }};
    }
    std::optional<NotificationRoute> NotifyAndWait(AlertNotifier& notifier) {
        std::optional<NotificationRoute> route;
        notifier.Notify(QStringLiteral("Alarm 5xx auf www"), QStringLiteral("3 Zugriffe\n<b>/a&b</b>"),
                        [&route](NotificationRoute taken) { route = taken; });
        test::RunEventLoopUntil([&route] { return route.has_value(); });
        return route;
    }

    QString Shown;
};

TEST_F(AlertNotifierTest, WithoutANotificationServiceTheTrayThenThePopupShowsIt) {
    {
        AlertNotifier notifier(Fallbacks(true));
        EXPECT_EQ(NotifyAndWait(notifier), NotificationRoute::Tray);
        EXPECT_EQ(Shown, QStringLiteral("tray: Alarm 5xx auf www"));
    }
    // No icon in the notification area: Kavel's own popup, with the text as it is.
    AlertNotifier notifier(Fallbacks(false));
    EXPECT_EQ(NotifyAndWait(notifier), NotificationRoute::Window);
    EXPECT_EQ(Shown, QStringLiteral("popup: Alarm 5xx auf www|3 Zugriffe\n<b>/a&b</b>"));
    EXPECT_EQ(RouteText(NotificationRoute::Window), QStringLiteral("Kavel-Fenster"));
}

TEST_F(AlertNotifierTest, TheDesktopServiceGetsPlainTextEscapedForMarkup) {
    if (!Bus().Running())
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(Bus().Address()),
                                                            QStringLiteral("kavel-test-notifications"));
    ASSERT_TRUE(service.isConnected());
    FakeNotifications fake;
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    AlertNotifier notifier(Fallbacks(true));
    EXPECT_EQ(NotifyAndWait(notifier), NotificationRoute::Desktop);
    EXPECT_EQ(fake.Summary, QStringLiteral("Alarm 5xx auf www"));
    EXPECT_EQ(fake.Body, QStringLiteral("3 Zugriffe\n&lt;b&gt;/a&amp;b&lt;/b&gt;"));
    EXPECT_TRUE(Shown.isEmpty());

    // The service goes away: the next alert falls back.
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    EXPECT_EQ(NotifyAndWait(notifier), NotificationRoute::Tray);
    service.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("kavel-test-notifications"));
}

TEST_F(AlertNotifierTest, AServiceWithoutMarkupGetsTheBodyUnchanged) {
    if (!Bus().Running())
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(Bus().Address()),
                                                            QStringLiteral("kavel-test-plain"));
    FakeNotifications fake;
    fake.Capabilities = {QStringLiteral("body")};
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    AlertNotifier notifier(Fallbacks(true));
    EXPECT_EQ(NotifyAndWait(notifier), NotificationRoute::Desktop);
    EXPECT_EQ(fake.Body, QStringLiteral("3 Zugriffe\n<b>/a&b</b>"));
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    service.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("kavel-test-plain"));
}

} // namespace
} // namespace kavel::ui
