#pragma once

#include <QUrl>
#include <functional>

namespace kavel::ui {

// Hands addresses and files to the desktop (browser, help viewer). Tests install a handler
// that records the address instead, so nothing is opened while they run. Main thread only.
class DesktopOpener {
public:
    using Handler = std::function<bool(const QUrl&)>;

    // True when the desktop (or the installed handler) accepted the address.
    static bool Open(const QUrl& url);
    // An empty handler gives the desktop back.
    static void SetHandler(Handler handler);
};

} // namespace kavel::ui
