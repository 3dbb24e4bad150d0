#pragma once

#include "ui/DesktopOpener.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <vector>

namespace kavel::ui::test {

// Drops the leaving rows (indexes into rows) and tells where each remaining row went, -1 for
// those that left: a list model's part of removing rows in one layout change, as the window's
// lists do when expired rows leave in many runs.
template <typename Row>
std::vector<int> KeepRowsExcept(std::vector<Row>& rows, const std::vector<int>& leaving) {
    std::vector<int> newRowOf(rows.size(), -1);
    std::vector<Row> kept;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (std::find(leaving.begin(), leaving.end(), static_cast<int>(row)) == leaving.end()) {
            newRowOf[row] = static_cast<int>(kept.size());
            kept.push_back(std::move(rows[row]));
        }
    }
    rows = std::move(kept);
    return newRowOf;
}

// Where the persistent indexes of a model go after KeepRowsExcept.
inline QModelIndexList MovedIndexes(const QAbstractItemModel& model, const QModelIndexList& from,
                                    const std::vector<int>& newRowOf) {
    QModelIndexList to;
    for (const QModelIndex& index : from) {
        const int row = newRowOf[static_cast<std::size_t>(index.row())];
        to.push_back(row < 0 ? QModelIndex() : model.index(row, index.column()));
    }
    return to;
}

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
