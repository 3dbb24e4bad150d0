#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace kavel::ui {

// Hands addresses and files to the desktop (browser, help viewer). Tests install a handler
// that records the address instead, so nothing is opened while they run. Main thread only.
//
// On a desktop with xdg-open the program waits for its answer: xdg-open finds no browser only
// after it was started, so its failure is reported later, through the failed callback.
class DesktopOpener {
public:
    using Handler = std::function<bool(const QUrl&)>;

    // False when nothing on the desktop could take the address at all; failed runs later when
    // the desktop took it but could not open it (no browser behind xdg-open).
    static bool Open(const QUrl& url, std::function<void()> failed = {});
    // An empty handler gives the desktop back.
    static void SetHandler(Handler handler);
    // The program that opens addresses (an empty text: Qt's own way to the desktop); none
    // gives back the default, xdg-open where there is one. For tests.
    static void SetOpenCommand(std::optional<QString> program);
};

} // namespace kavel::ui
