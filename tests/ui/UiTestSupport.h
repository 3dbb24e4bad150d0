#pragma once

#include "ui/DesktopOpener.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <vector>

namespace kavel::ui::test {

// The one QApplication of a UI test executable, created on first use.
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "kavel-ui-test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit Qt 6.4 tears the offscreen platform down before the input devices
    // that a shown window registered, and their destructors would crash.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until done() holds or the deadline passes; whether done() holds.
inline bool RunEventLoopUntil(const std::function<bool()>& done, int deadlineMs = 20000) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(deadlineMs, &loop, [&] { loop.quit(); });
    loop.exec();
    return done();
}

// Records what would have been handed to the desktop while it lives.
class RecordingOpener {
public:
    RecordingOpener() {
        DesktopOpener::SetHandler([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    ~RecordingOpener() { DesktopOpener::SetHandler({}); }
    RecordingOpener(const RecordingOpener&) = delete;
    RecordingOpener& operator=(const RecordingOpener&) = delete;

    std::vector<QUrl> opened;
};

} // namespace kavel::ui::test
